#pragma once

#include <array>
#include <cstdint>
#include <string>

// The setup's output-port record and play position. The port table and the handle are
// maintained by the output port on the window thread; `currentStep` belongs to the engine.
class PortState {
public:
    // Room for 49 devices plus "MIDI Mapper", which always follows the devices.
    static constexpr int kPortNameSlots = 50;
    static constexpr int kMapperPortId = -1;
    static constexpr int kMissingPortId = -2;

    virtual ~PortState() = default;

    std::int32_t deviceCount = 0;
    // Which open connection the sends go to: 0 = none. The output port gives the value its
    // meaning (its own connection, or another running instance that lends its port).
    std::intptr_t handle = 0;
    std::array<std::string, kPortNameSlots> portNames;
    std::int32_t portId = 0;
    std::int16_t channel = 1;
    std::int16_t shareCount = 0;
    std::int16_t currentStep = 0;
    std::string portName;
};
