// MIDI clock following benchmark: the program with --follow-clock on a JACK server of its own
// (dummy driver, 48 kHz, 256-frame periods), its input fed by a clock source of the benchmark's
// own at 120 BPM, every step sounding into a recorder. Two runs: a steady source, and one whose
// every tick is moved at random by up to 10% of a tick. Prints, in microseconds, the steps'
// latency after their ticks (median), their jitter against the ticks as they came (distance
// from that median: p50, p99), their jitter against the source's ideal grid, and the source's
// own jitter against that grid.
//
//   clock_follow [PROGRAM] [--seconds S]
//
// PROGRAM defaults to the glimmerstave next to this benchmark's folder.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../tests/midi/JackTestSupport.h"
#include "LinkRig.h"

namespace {

constexpr double kBpm = 120.0;
constexpr double kTickFrames = LinkRig::Rig::kRate * 60.0 / (kBpm * 24.0);  // 1000

struct Spread {
    double p50 = 0.0;
    double p99 = 0.0;
};

Spread spreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) {
        return spread;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    spread.p50 = at(0.50);
    spread.p99 = at(0.99);
    return spread;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::int64_t since(jack_nframes_t frame, jack_nframes_t from) {
    return static_cast<std::int32_t>(frame - from);
}

// One run: Start, `seconds` of ticks (each moved by up to jitterShare of a tick), Stop.
// Returns false when the program played nothing.
bool run(LinkRig::Rig& rig, jacktest::ClockSource& source, double seconds, double jitterShare,
         const char* name) {
    std::mt19937 random(42);
    std::uniform_real_distribution<double> jitter(-jitterShare, jitterShare);
    const std::size_t firstNote = rig.a.noteOnFrames().size();
    const int firstMessage = source.sent();
    const jack_nframes_t begin = source.frameNow() + 24000;
    const int ticks = static_cast<int>(seconds * kBpm / 60.0 * 24.0);
    // A beat of ticks before Start gives the tempo, as a drum machine's running clock does.
    const int lead = 24;
    std::vector<jack_nframes_t> ideal;
    for (int i = 0; i < lead + ticks; ++i) {
        const double at = begin + i * kTickFrames;
        if (i == lead) {
            source.queue(static_cast<jack_nframes_t>(at - kTickFrames / 2), 0xFA);
        }
        source.queue(static_cast<jack_nframes_t>(std::lround(at + jitter(random) * kTickFrames)),
                     0xF8);
        ideal.push_back(static_cast<jack_nframes_t>(std::lround(at)));
    }
    source.queue(static_cast<jack_nframes_t>(begin + (lead + ticks) * kTickFrames - 200), 0xFC);
    if (!source.waitUntilAllSent(std::chrono::seconds(static_cast<int>(seconds) + 30))) {
        std::fprintf(stderr, "clock_follow: the source did not finish\n");
        return false;
    }
    LinkRig::pauseMs(500);

    // The ticks as sent, those of the run only.
    std::vector<jack_nframes_t> sent;
    for (int i = firstMessage; i < source.sent(); ++i) {
        if (source.message(i).bytes[0] == 0xF8) {
            sent.push_back(source.message(i).frame);
        }
    }
    const std::vector<jack_nframes_t> notes = rig.a.noteOnFrames();
    std::vector<double> latencies;
    std::vector<double> againstGrid;
    std::vector<double> sourceJitter;
    for (std::size_t i = 0; i < sent.size() && i < ideal.size(); ++i) {
        sourceJitter.push_back(std::fabs(static_cast<double>(since(sent[i], ideal[i]))));
    }
    std::size_t next = firstNote;
    for (int step = 0; 6 * step < ticks; ++step) {
        const std::size_t tick = static_cast<std::size_t>(lead + 6 * step);
        while (next < notes.size() && since(notes[next], sent[tick]) < -static_cast<long>(kTickFrames)) {
            ++next;
        }
        if (next < notes.size() && since(notes[next], sent[tick]) < 3 * static_cast<long>(kTickFrames)) {
            latencies.push_back(static_cast<double>(since(notes[next], sent[tick])));
            againstGrid.push_back(static_cast<double>(since(notes[next], ideal[tick])));
            ++next;
        }
    }
    if (latencies.empty()) {
        std::printf("%s: no steps played\n", name);
        return false;
    }
    const double toUs = 1e6 / LinkRig::Rig::kRate;
    const double latency = median(latencies);
    const double gridLatency = median(againstGrid);
    std::vector<double> jitterToTicks;
    std::vector<double> jitterToGrid;
    for (std::size_t i = 0; i < latencies.size(); ++i) {
        jitterToTicks.push_back(std::fabs(latencies[i] - latency) * toUs);
        jitterToGrid.push_back(std::fabs(againstGrid[i] - gridLatency) * toUs);
    }
    for (double& value : sourceJitter) {
        value *= toUs;
    }
    const Spread ticksSpread = spreadOf(jitterToTicks);
    const Spread gridSpread = spreadOf(jitterToGrid);
    const Spread sourceSpread = spreadOf(sourceJitter);
    std::printf("%s: %zu of %d steps, latency after the tick (median) %6.0f us\n", name,
                latencies.size(), (ticks + 5) / 6, latency * toUs);
    std::printf("  steps against the ticks as they came: p50 %6.0f us   p99 %6.0f us\n",
                ticksSpread.p50, ticksSpread.p99);
    std::printf("  steps against the source's ideal grid: p50 %6.0f us   p99 %6.0f us\n",
                gridSpread.p50, gridSpread.p99);
    std::printf("  the source's own ticks against that grid: p50 %6.0f us   p99 %6.0f us\n",
                sourceSpread.p50, sourceSpread.p99);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string program;
    double seconds = 30.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(2.0, std::atof(argv[++i]));
        } else {
            program = argv[i];
        }
    }
    if (program.empty()) {
        const std::string self = argv[0];
        const std::size_t slash = self.rfind('/');
        program = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
                  "/../glimmerstave";
    }

    LinkRig::Rig rig;
    std::string error;
    if (!rig.start(program, error)) {
        std::fprintf(stderr, "clock_follow: %s\n", error.c_str());
        return 1;
    }
    jacktest::ClockSource source;
    if (!source.open("clock")) {
        std::fprintf(stderr, "clock_follow: the clock source did not open\n");
        return 1;
    }
    rig.startCopy("a", {"--follow-clock", "--midi-input", "clock:out (JACK)"});
    if (!LinkRig::waitFor(
            [&] { return jack_port_connected(source.port()) > 0 && jack_port_connected(rig.a.port) > 0; },
            30000)) {
        std::fprintf(stderr, "clock_follow: the program did not connect\n%s",
                     rig.copyLogs().c_str());
        return 1;
    }
    std::printf("following a clock at %.0f BPM through JACK (256-frame periods, %.1f ms), %.0f s "
                "each...\n",
                kBpm, 256.0 * 1000.0 / LinkRig::Rig::kRate, seconds);
    std::fflush(stdout);
    const bool steady = run(rig, source, seconds, 0.0, "steady source");
    const bool jittery = run(rig, source, seconds, 0.10, "jittery source (10% of a tick)");
    return steady && jittery ? 0 : 1;
}
