#pragma once

// Hand-made setup files of every layout the program has written, built byte by byte from the
// published layout rather than with the program's own writer, so reader tests compare against
// an independent picture of each version.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

struct StepBytes {
    std::vector<std::int32_t> notes{0};  // before 2.5 only the first is stored, as 16 bits
    std::int16_t program = 0;
    std::int16_t velocity = 100;
    std::int16_t pan = 64;
    // Before 2.0: the second 32-bit flag (1 = short note); from 2.0: the 16-bit duration.
    std::int32_t duration = 30;
    std::int32_t on = 1;
};

struct SetupFileSpec {
    float version = 2.9f;
    std::int16_t tempoEditMode = 0;
    double bpm = 126.0;
    std::int32_t portId = -1;
    std::int16_t channel = 1;
    std::int16_t selectedMeasure = 0;
    std::int32_t mute = 0;
    // Files before 2.0 store three colours; later ones only the first.
    std::array<std::int32_t, 3> colors{0x00336699, 0x00112233, 0x00445566};
    std::array<std::int16_t, 8> next{0, 1, 2, 3, 4, 5, 6, 7};
    std::array<std::int16_t, 8> repeats{1, 1, 1, 1, 1, 1, 1, 1};
    std::function<StepBytes(int measure, int step)> step = [](int, int) { return StepBytes{}; };
    // Before 2.0 the window rectangle; later left and top only.
    std::int32_t left = 100, top = 200, right = 700, bottom = 366;
    std::int32_t monophonic = 0;  // 1.5 to 2.0 only
    std::int32_t stepsPerMeasure = 16;
    std::int32_t polyphonic = 1;
    std::int16_t volume = 90;
    std::int16_t transpose = -3;
    // Raw prefix and characters, stored from 2.9 on.
    std::vector<std::uint8_t> portName = counted("MIDI Mapper");

    static std::vector<std::uint8_t> counted(const std::string& text) {
        std::vector<std::uint8_t> out;
        if (text.size() < 255) {
            out.push_back(static_cast<std::uint8_t>(text.size()));
        } else {
            out = {0xFF, static_cast<std::uint8_t>(text.size() & 0xFF),
                   static_cast<std::uint8_t>(text.size() >> 8)};
        }
        out.insert(out.end(), text.begin(), text.end());
        return out;
    }
};

static_assert(std::endian::native == std::endian::little, "the builder writes host order");

class SetupFileBuilder {
public:
    static std::vector<std::uint8_t> build(const SetupFileSpec& spec) {
        SetupFileBuilder b;
        const float v = spec.version;
        const bool before1003 = !(v >= 1.003f);
        const bool before15 = !(v >= 1.5f);
        const bool before20 = !(v >= 2.0f);
        const bool before25 = !(v >= 2.5f);
        const bool from29 = v >= 2.9f;
        b.put(spec.version);
        b.put(spec.tempoEditMode);
        b.put(spec.bpm);
        b.put(spec.portId);
        b.put(spec.channel);
        b.put(spec.selectedMeasure);
        b.put(spec.mute);
        b.put(spec.colors[0]);
        if (before20) {
            b.put(spec.colors[1]);
            b.put(spec.colors[2]);
        }
        for (int m = 0; m < 8; ++m) {
            if (before20) {
                b.put(std::int32_t{0x7777});
            }
            if (before1003) {
                b.put(std::int16_t{0x5555});
            } else {
                b.put(spec.next[static_cast<std::size_t>(m)]);
                b.put(spec.repeats[static_cast<std::size_t>(m)]);
            }
            for (int s = 0; s < 16; ++s) {
                const StepBytes step = spec.step(m, s);
                if (before25) {
                    b.put(static_cast<std::int16_t>(step.notes.at(0)));
                } else {
                    b.put(static_cast<std::int32_t>(step.notes.size()));
                    for (const std::int32_t note : step.notes) {
                        b.put(note);
                    }
                }
                b.put(step.program);
                b.put(step.velocity);
                b.put(step.pan);
                if (before20) {
                    b.put(step.on);
                    b.put(step.duration);
                } else {
                    b.put(static_cast<std::int16_t>(step.duration));
                    b.put(static_cast<std::int16_t>(step.on));
                }
            }
        }
        if (before20) {
            b.put(spec.left);
            b.put(spec.top);
            b.put(spec.right);
            b.put(spec.bottom);
            if (!before15) {
                b.put(spec.monophonic);
            }
        } else {
            b.put(spec.left);
            b.put(spec.top);
            b.put(spec.stepsPerMeasure);
            b.put(spec.polyphonic);
            if (v > 2.0f) {
                b.put(spec.volume);
                b.put(spec.transpose);
            }
            if (from29) {
                b.bytes.insert(b.bytes.end(), spec.portName.begin(), spec.portName.end());
            }
        }
        return b.bytes;
    }

private:
    template <typename T>
    void put(T value) {
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));  // the test machines are little-endian
        bytes.insert(bytes.end(), raw, raw + sizeof(T));
    }

    std::vector<std::uint8_t> bytes;
};
