#pragma once

#include <gtest/gtest.h>

#include "EngineDoubles.h"
#include "core/Messages.h"
#include "core/Player.h"
#include "core/Random.h"
#include "core/Setup.h"

// A Player wired to recording collaborators, with a setup of plain, known steps.
class PlayerFixture : public testing::Test {
protected:
    void SetUp() override {
        Random::seed(7);
        for (Measure& measure : setup.measures) {
            for (Step& step : measure.steps) {
                step = Step();
                step.on = 0;
            }
        }
        player.init(host, setup, timer, port);
        port.take();
        host.takePosted();
        host.broadcasts.clear();
    }

    Step& step(int measure, int index) {
        return setup.measures[static_cast<std::size_t>(measure)]
            .steps[static_cast<std::size_t>(index)];
    }

    Step& chord(int measure, int index, IntArray notes, int duration) {
        Step& s = step(measure, index);
        s.on = 1;
        s.setNotes(notes);
        s.duration = static_cast<std::int16_t>(duration);
        return s;
    }

    // Note-on messages on channel 1 only, as (note, velocity) pairs.
    static std::vector<std::pair<int, int>> noteOns(const std::vector<ShortMessage>& sent) {
        std::vector<std::pair<int, int>> result;
        for (const ShortMessage& m : sent) {
            if (m.status == 0x90) {
                result.emplace_back(m.data1, m.data2);
            }
        }
        return result;
    }

    ::Setup setup;
    RecordingPort port;
    RecordingHost host;
    ManualTimer timer;
    Player player;
};
