// Step timing benchmark: drives the real Player and StepClock into a recording output port and
// prints how far from the ideal schedule (start time + k x period) each step's first message
// went out, the drift over the run, the clock thread's CPU time, the machine's own wake-up
// floor (cyclictest, else an absolute-deadline loop of our own) and whether the clock thread
// stays asleep while stopped.
//
//   step_timing [--bpm N] [--seconds S] [--fast-bpm N] [--fast-seconds S] [--floor-seconds S]
//               [--idle-seconds S] [--spin-us N] [--max-spin-us N] [--[no-]dma-latency] [--no-tsc]
//               [--no-floor] [--own-floor] [--jack-seconds S] [--jack-frames-only]
//
// The JACK case (--jack-seconds, 0 for none) starts a JACK server of its own (dummy driver,
// 48 kHz, 256-frame periods) and plays with MIDI clock into a recorder client through the JACK
// driver, and prints each step's and each clock tick's error at the recorder's port against the
// ideal grid (start + k x period in frames) and against their own best line, with the drift
// and, for those more than a frame off, whether the clock thread handed them over after their
// cycle had begun or the server ran their cycle late (a stalled machine),
// for three runs: the steps kept in the server's frames (the connection's frame timeline), the
// system clock's schedule placed by due time, and, to compare, placed as handed over
// (--jack-frames-only: the first alone, for a long run).

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Messages.h"
#include "core/MidiOut.h"
#include "core/Player.h"
#include "core/PlayerHost.h"
#include "core/Setup.h"
#include "midi/ClockCalibration.h"
#include "midi/JackConnection.h"
#include "midi/JackMidiDriver.h"
#include "midi/StepClock.h"
// The test suite's JACK server and recorder client.
#include "../tests/midi/JackTestSupport.h"

namespace {

struct Settings {
    double bpm = 126.0;
    double seconds = 60.0;
    double fastBpm = 3000.0;
    double fastSeconds = 10.0;
    double floorSeconds = 20.0;
    double idleSeconds = 3.0;
    // The program's own settings unless told otherwise.
    int spinUs = StepClock::Options{}.spinUs;
    int maxSpinUs = StepClock::Options{}.maxSpinUs;
    bool dmaLatency = StepClock::Options{}.holdDmaLatency;
    bool useTsc = true;
    bool floor = true;
    bool ownFloor = false;
    bool jackFramesOnly = false;
    double jackSeconds = 20.0;
};

struct Stamp {
    std::int64_t clockUs;
    std::int64_t monotonicNs;
};

// Records the time of each step's first message. The clock thread calls it with the engine
// lock held: no allocation once the run has started.
class TimedPort : public MidiOut {
public:
    TimedPort(const StepClock& clock, std::size_t capacity) : clock_(clock) {
        stamps.reserve(capacity);
    }
    void sendShort(int, int, int) override {
        if (!recording_.load(std::memory_order_relaxed) || !firstOfStep_ ||
            stamps.size() == stamps.capacity()) {
            return;
        }
        firstOfStep_ = false;
        stamps.push_back({clock_.nowUs(), ClockCalibration::monotonicNs()});
    }
    void enumeratePorts() override {}
    void handlePortMessage(int, std::intptr_t, std::intptr_t) override {}
    void stepPlayed() { firstOfStep_ = true; }
    // Before stop(), whose All Notes Off is no step.
    void stopRecording() { recording_.store(false, std::memory_order_relaxed); }

    std::vector<Stamp> stamps;

private:
    const StepClock& clock_;
    bool firstOfStep_ = true;
    std::atomic<bool> recording_{true};
};

// Shows nothing; only marks the end of each step for the port.
class QuietHost : public PlayerHost {
public:
    explicit QuietHost(TimedPort& port) : port_(port) {}
    void postMessage(int message, std::intptr_t, std::intptr_t) override {
        if (message == Messages::UM_STEP_PLAYED) {
            port_.stepPlayed();
        }
    }
    int broadcastToInstances(int, std::intptr_t, std::intptr_t) override { return 0; }
    void setStepColumnLit(int, bool) override {}
    void markPlayingMeasure(int) override {}
    void showPlayReleased() override {}
    void showStatus(const std::string&) override {}

private:
    TimedPort& port_;
};

// CPU time of the whole machine (all processors, from /proc/stat) and of this process, so the
// report can say how busy everything else kept the machine during a run.
struct CpuSnapshot {
    double busySeconds = 0;
    double totalSeconds = 0;
    double selfSeconds = 0;
};

CpuSnapshot cpuSnapshot() {
    CpuSnapshot snapshot;
    if (FILE* stat = std::fopen("/proc/stat", "r")) {
        unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0,
                           softirq = 0, steal = 0;
        if (std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system,
                        &idle, &iowait, &irq, &softirq, &steal) == 8) {
            const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
            const unsigned long long busy = user + nice + system + irq + softirq + steal;
            snapshot.busySeconds = static_cast<double>(busy) / hz;
            snapshot.totalSeconds = static_cast<double>(busy + idle + iowait) / hz;
        }
        std::fclose(stat);
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    snapshot.selfSeconds = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                           static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    return snapshot;
}

// Processors' worth of work done by other processes between two snapshots.
double othersLoad(const CpuSnapshot& before, const CpuSnapshot& after, double wallSeconds) {
    const double others =
        (after.busySeconds - before.busySeconds) - (after.selfSeconds - before.selfSeconds);
    return wallSeconds > 0 ? std::max(0.0, others / wallSeconds) : 0.0;
}

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double min = 0;
};

Percentiles percentiles(std::vector<double> values) {
    Percentiles result;
    if (values.empty()) {
        return result;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const auto index =
            static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
        return values[std::min(values.size() - 1, index == 0 ? 0 : index - 1)];
    };
    result.p50 = at(0.50);
    result.p99 = at(0.99);
    result.max = values.back();
    result.min = values.front();
    return result;
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// A whole pattern of sounding steps, so every step sends messages: a three-note chord, each
// note released by the next step (polyphonic, duration 1).
void fillSetup(Setup& setup, double bpm) {
    for (Measure& measure : setup.measures) {
        for (Step& step : measure.steps) {
            step.on = 1;
            step.setNotes(IntArray{0, 4, 7});
            step.duration = 1;
            step.program = 0;
        }
    }
    setup.polyphonic = 1;
    setup.mute = 0;
    setup.bpm = bpm;
}

// Wake-ups of the clock thread while nothing plays: must stay 0.
struct IdleCheck {
    std::uint64_t wakeups = 0;
    std::uint64_t firings = 0;
    std::int64_t cpuNs = 0;
};

IdleCheck watchIdle(const StepClock& clock, double seconds) {
    // Let the thread come back from the wake that stop() gave it and park.
    sleepSeconds(0.05);
    const std::uint64_t wakeups = clock.wakeups();
    const std::uint64_t firings = clock.firings();
    const std::int64_t cpu = clock.threadCpuNs();
    sleepSeconds(seconds);
    return {clock.wakeups() - wakeups, clock.firings() - firings, clock.threadCpuNs() - cpu};
}

struct RunResult {
    double wakeupsPerStep = 0.0;
    Percentiles error;
    double driftUs = 0;
    double monotonicDriftUs = 0;
    double cpuMsPerMinute = 0;
    double othersLoad = 0;
    std::size_t steps = 0;
    IdleCheck idle;
};

RunResult runCase(const Settings& settings, double bpm, double seconds) {
    StepClock::Options options;
    options.spinUs = settings.spinUs;
    options.maxSpinUs = settings.maxSpinUs;
    options.holdDmaLatency = settings.dmaLatency;
    StepClock clock(options);
    clock.setUseTsc(settings.useTsc);

    const double periodMs = Player::periodForBpm(bpm);
    const auto expected = static_cast<std::size_t>(seconds * 1000.0 / periodMs) + 16;
    TimedPort port(clock, expected + 1024);
    QuietHost host(port);
    Setup setup;
    fillSetup(setup, bpm);
    Player player;
    clock.configure(1, player);
    player.init(host, setup, clock, port);

    const CpuSnapshot machineBefore = cpuSnapshot();
    const std::int64_t cpuBefore = clock.threadCpuNs();
    const std::uint64_t wakeupsBefore = clock.wakeups();
    const std::int64_t monotonicBefore = ClockCalibration::monotonicNs();
    player.start(true);
    // The first due time lies one period after the start time: this recovers the start time
    // exactly, in the clock's own base.
    const std::int64_t startUs =
        player.nextDueUs() - static_cast<std::int64_t>(std::ceil(periodMs * 1000.0));
    sleepSeconds(seconds);
    port.stopRecording();
    player.stop(true);
    const std::int64_t cpuUsed = clock.threadCpuNs() - cpuBefore;
    const double wakeupsUsed = static_cast<double>(clock.wakeups() - wakeupsBefore);
    const double wallSeconds =
        static_cast<double>(ClockCalibration::monotonicNs() - monotonicBefore) / 1e9;
    const double others = othersLoad(machineBefore, cpuSnapshot(), wallSeconds);

    RunResult result;
    result.othersLoad = others;
    result.steps = port.stamps.size();
    if (port.stamps.empty()) {
        return result;
    }
    std::vector<double> errors;
    std::vector<double> monotonicErrors;
    errors.reserve(port.stamps.size());
    const Stamp& first = port.stamps.front();
    // CLOCK_MONOTONIC at the start time, from the first step's two readings.
    const double monotonicStartUs = static_cast<double>(first.monotonicNs) / 1000.0 -
                                    static_cast<double>(first.clockUs - startUs);
    for (std::size_t k = 0; k < port.stamps.size(); ++k) {
        const double ideal = static_cast<double>(k) * periodMs * 1000.0;
        errors.push_back(static_cast<double>(port.stamps[k].clockUs - startUs) - ideal);
        monotonicErrors.push_back(static_cast<double>(port.stamps[k].monotonicNs) / 1000.0 -
                                  monotonicStartUs - ideal);
    }
    // Drift: the median error of the last tenth of the run against that of the first tenth
    // (medians, so that a single host stall does not count as drift).
    const std::size_t tenth = std::max<std::size_t>(errors.size() / 10, 1);
    const auto medianOf = [](const std::vector<double>& v, std::size_t from, std::size_t to) {
        return percentiles(std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                               v.begin() + static_cast<std::ptrdiff_t>(to)))
            .p50;
    };
    const std::size_t n = errors.size();
    result.driftUs = medianOf(errors, n - tenth, n) - medianOf(errors, 0, tenth);
    result.monotonicDriftUs =
        medianOf(monotonicErrors, n - tenth, n) - medianOf(monotonicErrors, 0, tenth);
    // Step 0 is played by start() on this thread; the clock thread's work starts at step 1.
    errors.erase(errors.begin());
    result.error = percentiles(errors);
    result.cpuMsPerMinute = static_cast<double>(cpuUsed) / 1e6 / wallSeconds * 60.0;
    result.wakeupsPerStep = wakeupsUsed / static_cast<double>(port.stamps.size());
    result.idle = watchIdle(clock, settings.idleSeconds);
    return result;
}

struct Floor {
    std::string source;
    Percentiles latency;
    std::size_t samples = 0;
};

// cyclictest's histogram (-h): lines "bucket_us count" and "# Histogram Overflows: n".
bool cyclictestFloor(double seconds, Floor& floor) {
    if (std::system("command -v cyclictest >/dev/null 2>&1") != 0) {
        return false;
    }
    char command[256];
    std::snprintf(command, sizeof command,
                  "cyclictest -m -q -t1 -p80 -i1000 -D%ds -h 20000 2>/dev/null",
                  std::max(1, static_cast<int>(seconds)));
    FILE* pipe = popen(command, "r");
    if (pipe == nullptr) {
        return false;
    }
    std::vector<double> values;
    long overflows = 0;
    long maxSeen = 0;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        long bucket = 0;
        long count = 0;
        if (line[0] != '#' && std::sscanf(line, "%ld %ld", &bucket, &count) == 2) {
            values.insert(values.end(), static_cast<std::size_t>(count),
                          static_cast<double>(bucket));
        } else if (std::sscanf(line, "# Histogram Overflows: %ld", &overflows) == 1) {
        } else if (std::sscanf(line, "# Max Latencies: %ld", &maxSeen) == 1) {
        }
    }
    if (pclose(pipe) != 0 || values.empty()) {
        return false;
    }
    values.insert(values.end(), static_cast<std::size_t>(overflows), 20000.0);
    floor.latency = percentiles(values);
    floor.latency.max = std::max(floor.latency.max, static_cast<double>(maxSeen));
    floor.samples = values.size();
    floor.source = "cyclictest -m -t1 -p80 -i1000 (holds /dev/cpu_dma_latency at 0)";
    return true;
}

// Without cyclictest: a SCHED_FIFO thread sleeping to absolute 1 ms deadlines.
void ownFloor(double seconds, Floor& floor) {
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(seconds * 1000.0) + 16);
    std::thread sampler([&] {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        sched_param param{};
        param.sched_priority = 80;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        std::int64_t deadline = ClockCalibration::monotonicNs() + 1'000'000;
        const std::int64_t end = deadline + static_cast<std::int64_t>(seconds * 1e9);
        while (deadline < end) {
            timespec at{static_cast<time_t>(deadline / 1'000'000'000),
                        static_cast<long>(deadline % 1'000'000'000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            values.push_back(static_cast<double>(ClockCalibration::monotonicNs() - deadline) /
                             1000.0);
            deadline += 1'000'000;
        }
    });
    sampler.join();
    floor.latency = percentiles(values);
    floor.samples = values.size();
    floor.source = "own loop: SCHED_FIFO 80, absolute 1 ms deadlines, no dma-latency hold";
}

void printCase(const char* name, double bpm, double seconds, const RunResult& r,
               const Floor* floor) {
    std::printf("\n== %s: %.0f BPM for %.0f s (period %.4f ms), %zu steps\n", name, bpm, seconds,
                Player::periodForBpm(bpm), r.steps);
    std::printf("  error of each step's first message against start + k x period (us):\n");
    std::printf("    p50 %.1f   p99 %.1f   max %.1f   min %.1f\n", r.error.p50, r.error.p99,
                r.error.max, r.error.min);
    std::printf("  drift over the run (last tenth - first tenth, medians): %.1f us\n", r.driftUs);
    std::printf("  drift against CLOCK_MONOTONIC (the time base's rate error): %.1f us\n",
                r.monotonicDriftUs);
    std::printf("  clock thread CPU time: %.1f ms per minute, %.2f wake-ups per step\n",
                r.cpuMsPerMinute, r.wakeupsPerStep);
    std::printf("  other processes meanwhile: %.2f processors busy\n", r.othersLoad);
    std::printf("  while stopped for a while after: %llu wake-ups, %llu firings, %.3f ms CPU %s\n",
                static_cast<unsigned long long>(r.idle.wakeups),
                static_cast<unsigned long long>(r.idle.firings),
                static_cast<double>(r.idle.cpuNs) / 1e6,
                r.idle.wakeups == 0 && r.idle.firings == 0 ? "(idle: ok)" : "(NOT IDLE)");
    if (floor != nullptr && floor->latency.p99 > 0) {
        std::printf("  our p99 / floor p99: %.2f\n", r.error.p99 / floor->latency.p99);
    }
}

// ---- The JACK case ---------------------------------------------------------------------------

// How the JACK case hands its messages over.
enum class JackPlacement {
    Frames,      // the connection's frame timeline leads; each message with its due time
    DueTime,     // the system clock's schedule; each message with its due time
    HandedOver,  // the system clock's schedule; each message as it is handed over (to compare)
};

// The output port's part for one JACK connection.
class JackOut : public MidiOut {
public:
    JackOut(MidiConnection& connection, JackPlacement placement)
        : connection_(connection), placement_(placement) {}
    void sendShort(int status, int data1, int data2) override {
        sendShortAt(status, data1, data2, StepTimeline::kNever, 0);
    }
    void sendShortAt(int status, int data1, int data2, std::int64_t dueUs,
                     std::int64_t lateUs) override {
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(status),
                                       static_cast<std::uint8_t>(data1 & 0x7F),
                                       static_cast<std::uint8_t>(data2 & 0x7F)};
        std::uint32_t frame = 0;
        StepTimeline* timeline = dueTimeline_.load(std::memory_order_acquire);
        if (status == 0xF8 && frameClock_ != nullptr &&
            tickHandOvers.size() < tickHandOvers.capacity()) {
            tickHandOvers.push_back(jack_frame_time(frameClock_));
        }
        if (placement_ == JackPlacement::HandedOver) {
            connection_.send(bytes);
        } else if (dueUs != StepTimeline::kNever && timeline != nullptr &&
                   timeline->deviceFrameOf(dueUs, frame)) {
            // As the program's output port does: the frame the timeline keeps.
            connection_.sendAtFrame(bytes, frame, dueUs, lateUs);
        } else {
            connection_.sendAt(bytes, dueUs, lateUs);
        }
    }
    std::int64_t outputLatencyUs() override {
        return placement_ == JackPlacement::HandedOver ? 0 : connection_.latencyUs();
    }
    void setDueTimeline(StepTimeline* timeline) override {
        dueTimeline_.store(timeline, std::memory_order_release);
    }
    void enumeratePorts() override {}
    void handlePortMessage(int, std::intptr_t, std::intptr_t) override {}

    // Notes the server's frame at each clock tick's hand-over (a tick goes with each step's
    // notes, so this times the steps too); no allocation beyond `ticks`.
    void recordHandOvers(jack_client_t* frameClock, std::size_t ticks) {
        tickHandOvers.reserve(ticks);
        frameClock_ = frameClock;
    }
    std::vector<jack_nframes_t> tickHandOvers;

private:
    jack_client_t* frameClock_ = nullptr;
    MidiConnection& connection_;
    JackPlacement placement_;
    std::atomic<StepTimeline*> dueTimeline_{nullptr};
};

class SilentHost : public PlayerHost {
public:
    void postMessage(int, std::intptr_t, std::intptr_t) override {}
    int broadcastToInstances(int, std::intptr_t, std::intptr_t) override { return 0; }
    void setStepColumnLit(int, bool) override {}
    void markPlayingMeasure(int) override {}
    void showPlayReleased() override {}
    void showStatus(const std::string&) override {}
};

// One message heard at the recorder: its frame (from the first message of the run) and
// whether it came in a cycle whose place in time the server had lost (see Recorder::Event).
struct Heard {
    double frame;
    bool disturbed;
};

// When each message of a grid was handed over, in the server's frames, to tell a message
// handed over after the cycle meant for it had begun (the clock thread was late) from one
// handed over in time that the server carried late.
struct HandOvers {
    const std::vector<jack_nframes_t>& frames;
    std::size_t stride;          // hand-overs per message: 6 ticks a step
    jack_nframes_t firstFrame;   // the server's frame of the run's first message
    jack_nframes_t period;
};

// A message's place on a grid of `nominal` frames from `first`: late messages (up to three
// quarters of a period) keep their place, and one lost leaves a gap rather than moving all
// that follow.
std::int64_t gridIndex(double frame, double first, double nominal) {
    return static_cast<std::int64_t>(std::floor((frame - first + nominal / 4.0) / nominal));
}

// Distances (frames) of points from their least-squares line, and the line's slope: the even
// grid that the server's frame clock sees, whose rate may differ from the system clock's by a
// few parts in 10^5 (the dummy driver times its periods in whole microseconds).
std::vector<double> residuals(const std::vector<double>& index, const std::vector<double>& frames,
                              double& slope) {
    const auto n = static_cast<double>(frames.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        sx += index[i];
        sy += frames[i];
        sxx += index[i] * index[i];
        sxy += index[i] * frames[i];
    }
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / n;
    std::vector<double> result;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        result.push_back(std::fabs(frames[i] - (intercept + slope * index[i])));
    }
    return result;
}

void printJackErrors(const char* what, const std::vector<Heard>& heard, double nominal,
                     const HandOvers& handOvers) {
    if (heard.size() < 20) {
        std::printf("  %s: too few to measure (%zu)\n", what, heard.size());
        return;
    }
    std::vector<double> index;
    std::vector<double> frames;
    for (const Heard& h : heard) {
        index.push_back(static_cast<double>(gridIndex(h.frame, heard.front().frame, nominal)));
        frames.push_back(h.frame);
    }
    const auto expected = static_cast<std::size_t>(index.back()) + 1;
    double slope = 0;
    const Percentiles p = percentiles(residuals(index, frames, slope));
    const double usPerFrame = 1e6 / 48000.0;
    std::printf(
        "  %s (%zu of %zu) against their own best line: |error| p50 %.2f  p99 %.2f  max %.2f"
        " frames; grid rate %+.1f ppm\n",
        what, heard.size(), expected, p.p50, p.p99, p.max, (slope / nominal - 1.0) * 1e6);
    // Against the ideal grid itself, start + k x period in frames: the origin is the mean one
    // of those within a frame of the median (a few messages a period late must not move it,
    // and whole frames round the others evenly either way), the period is not fitted.
    std::vector<double> origins;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        origins.push_back(frames[i] - index[i] * nominal);
    }
    const double medianOrigin = percentiles(origins).p50;
    double originSum = 0;
    int originCount = 0;
    for (double candidate : origins) {
        if (std::fabs(candidate - medianOrigin) <= 1.0) {
            originSum += candidate;
            ++originCount;
        }
    }
    const double origin = originSum / originCount;
    std::vector<double> errors;
    std::vector<double> signedErrors;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double error = frames[i] - (origin + index[i] * nominal);
        signedErrors.push_back(error);
        errors.push_back(std::fabs(error));
    }
    const Percentiles q = percentiles(errors);
    const auto worst =
        static_cast<std::size_t>(std::max_element(errors.begin(), errors.end()) - errors.begin());
    std::size_t offGrid = 0;
    std::size_t offGridDisturbed = 0;
    std::size_t offGridHandedOverLate = 0;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors[i] <= 1.0) {
            continue;
        }
        ++offGrid;
        offGridDisturbed += heard[i].disturbed ? 1 : 0;
        const auto sent = static_cast<std::size_t>(index[i]) * handOvers.stride;
        if (sent < handOvers.frames.size()) {
            const auto ideal = handOvers.firstFrame + static_cast<jack_nframes_t>(std::llround(
                                                          origin + index[i] * nominal));
            const jack_nframes_t cycleStart = ideal - ideal % handOvers.period;
            offGridHandedOverLate +=
                static_cast<std::int32_t>(handOvers.frames[sent] - cycleStart) >= 0 ? 1 : 0;
        }
    }
    const std::size_t tenth = frames.size() / 10;
    std::vector<double> first(signedErrors.begin(), signedErrors.begin() + tenth);
    std::vector<double> last(signedErrors.end() - tenth, signedErrors.end());
    const double drift = percentiles(last).p50 - percentiles(first).p50;
    std::printf(
        "  %s against start + k x period: |error| p50 %.2f  p99 %.2f  max %.2f frames"
        " = p99 %.1f us; drift (last tenth - first tenth, medians) %+.2f frames\n",
        what, q.p50, q.p99, q.max, q.p99 * usPerFrame, drift);
    std::printf(
        "  %s more than 1 frame off: %zu; of them handed over after their cycle began: %zu,"
        " in cycles the server ran late: %zu; the worst is number %.0f (%+.2f frames)\n",
        what, offGrid, offGridHandedOverLate, offGridDisturbed, index[worst],
        signedErrors[worst]);
}

void runJackCase(const Settings& settings, JackPlacement placement) {
    // Late events would be recorded where the previous run left off: a recorder per run.
    jacktest::Recorder recorder;
    if (!recorder.open("recorder")) {
        std::printf("  no recorder client\n");
        return;
    }
    JackMidiDriver driver;
    std::unique_ptr<MidiConnection> connection = driver.open("recorder:in (JACK)", 0);
    if (connection == nullptr) {
        std::printf("  could not connect to the recorder\n");
        return;
    }
    StepClock::Options options;
    options.spinUs = settings.spinUs;
    options.maxSpinUs = settings.maxSpinUs;
    StepClock clock(options);
    clock.setUseTsc(settings.useTsc);
    JackOut port(*connection, placement);
    // Ten ticks a step at 3000 BPM is more than any run sends.
    port.recordHandOvers(recorder.client(),
                         static_cast<std::size_t>(settings.jackSeconds * settings.bpm / 15.0 * 10.0));
    SilentHost host;
    Setup setup;
    fillSetup(setup, settings.bpm);
    Player player;
    player.setMidiClock(true);
    clock.configure(1, player);
    player.init(host, setup, clock, port);
    if (placement == JackPlacement::Frames) {
        player.setTimeline(connection->frameTimeline());
    }
    player.start(true);
    sleepSeconds(settings.jackSeconds);
    player.stop(true);
    // What is still queued leaves with the next cycles.
    sleepSeconds(0.1);
    recorder.close();

    // A step's messages share its frame: the first channel message on a new frame opens it.
    std::vector<Heard> steps;
    std::vector<Heard> ticks;
    jack_nframes_t origin = 0;
    double lastChannelFrame = -1.0;
    for (int i = 0; i < recorder.count(); ++i) {
        const jacktest::Recorder::Event& e = recorder.event(i);
        if (i == 0) {
            origin = e.frame;
        }
        const auto frame = static_cast<double>(static_cast<std::int32_t>(e.frame - origin));
        if (e.bytes[0] == 0xFC) {
            break;  // Stop, then the All Notes Off: no step
        }
        if (e.bytes[0] == 0xF8) {
            ticks.push_back({frame, e.disturbed});
        } else if (e.bytes[0] < 0xF0 && frame != lastChannelFrame) {
            steps.push_back({frame, e.disturbed});
            lastChannelFrame = frame;
        }
    }
    const double stepFrames = Player::periodForBpm(settings.bpm) * 48.0;
    std::printf("\n== JACK, %s: %.0f BPM for %.0f s, dummy driver 48 kHz, 256-frame periods\n",
                placement == JackPlacement::Frames    ? "steps in the server's frames"
                : placement == JackPlacement::DueTime ? "system clock, placed by due time"
                                                      : "placed by hand-over (to compare)",
                settings.bpm, settings.jackSeconds);
    const jack_nframes_t firstFrame = origin;
    printJackErrors("steps", steps, stepFrames, HandOvers{port.tickHandOvers, 6, firstFrame, 256});
    printJackErrors("clock ticks", ticks, stepFrames / 6.0,
                    HandOvers{port.tickHandOvers, 1, firstFrame, 256});
    if (const auto* jack = dynamic_cast<const JackConnection*>(connection.get())) {
        std::printf(
            "  events that went out a cycle late (full buffer): %llu, lost: %llu;"
            " handed over after their cycle had run: %llu\n",
            static_cast<unsigned long long>(jack->deferredEvents()),
            static_cast<unsigned long long>(jack->droppedEvents()),
            static_cast<unsigned long long>(jack->eventsAfterTheirCycle()));
    }
    std::printf("  cycles the server ran late or skipped (seen at the recorder): %d\n",
                recorder.disturbedCycles());
}

void jackCase(const Settings& settings) {
    const std::string name = "step-timing-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    jacktest::JackServer server;
    if (!server.start(name, 256)) {
        std::printf("\n== JACK: no server (jackd -d dummy) could be started\n");
        return;
    }
    runJackCase(settings, JackPlacement::Frames);
    if (!settings.jackFramesOnly) {
        runJackCase(settings, JackPlacement::DueTime);
        runJackCase(settings, JackPlacement::HandedOver);
    }
    server.stop();
}

bool parse(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double* value = arg == "--bpm"             ? &s.bpm
                        : arg == "--seconds"       ? &s.seconds
                        : arg == "--fast-bpm"      ? &s.fastBpm
                        : arg == "--fast-seconds"  ? &s.fastSeconds
                        : arg == "--floor-seconds" ? &s.floorSeconds
                        : arg == "--idle-seconds"  ? &s.idleSeconds
                        : arg == "--jack-seconds"  ? &s.jackSeconds
                                                   : nullptr;
        if (value != nullptr || arg == "--spin-us" || arg == "--max-spin-us") {
            if (i + 1 >= argc) {
                return false;
            }
            const double number = std::atof(argv[++i]);
            if (value != nullptr) {
                *value = number;
            } else if (arg == "--spin-us") {
                s.spinUs = static_cast<int>(number);
            } else {
                s.maxSpinUs = static_cast<int>(number);
            }
        } else if (arg == "--dma-latency") {
            s.dmaLatency = true;
        } else if (arg == "--no-dma-latency") {
            s.dmaLatency = false;
        } else if (arg == "--no-tsc") {
            s.useTsc = false;
        } else if (arg == "--no-floor") {
            s.floor = false;
        } else if (arg == "--own-floor") {
            s.ownFloor = true;
        } else if (arg == "--jack-frames-only") {
            s.jackFramesOnly = true;
        } else {
            return false;
        }
    }
    return s.bpm > 0 && s.seconds > 0 && s.idleSeconds >= 0 && s.spinUs >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::puts(
            "usage: step_timing [--bpm N] [--seconds S] [--fast-bpm N (0: none)]\n"
            "                   [--fast-seconds S] [--floor-seconds S] [--idle-seconds S]\n"
            "                   [--spin-us N] [--max-spin-us N] [--[no-]dma-latency] [--no-tsc]\n"
            "                   [--no-floor] [--own-floor] [--jack-seconds S (0: none)]\n"
            "                   [--jack-frames-only]");
        return 2;
    }
    mlockall(MCL_CURRENT | MCL_FUTURE);

    {
        StepClock probe;
        Player idlePlayer;
        probe.configure(1, idlePlayer);
        probe.finishCalibration();
        std::printf("step_timing: time-stamp counter %s, %d cycles per ms, time base %s\n",
                    probe.tscPresent() ? "present" : "missing", probe.cyclesPerMs(),
                    settings.useTsc && probe.cyclesPerMs() > 0 ? "counter" : "CLOCK_MONOTONIC");
        std::printf("  spin %d to %d us before each deadline, /dev/cpu_dma_latency %s\n",
                    settings.spinUs, std::max(settings.spinUs, settings.maxSpinUs),
                    settings.dmaLatency ? "held at 0 while playing" : "not held");
        const IdleCheck idle = watchIdle(probe, std::min(settings.idleSeconds, 1.0));
        std::printf("  SCHED_FIFO %s; never started: %llu wake-ups %s\n",
                    probe.realtimeGranted() ? "granted" : "refused",
                    static_cast<unsigned long long>(idle.wakeups),
                    idle.wakeups == 0 ? "(idle: ok)" : "(NOT IDLE)");
    }

    Floor floor;
    if (settings.floor) {
        const CpuSnapshot before = cpuSnapshot();
        const std::int64_t startNs = ClockCalibration::monotonicNs();
        if (settings.ownFloor || !cyclictestFloor(settings.floorSeconds, floor)) {
            ownFloor(settings.floorSeconds, floor);
        }
        std::printf("\n== wake-up floor of this machine, %.0f s: %s\n", settings.floorSeconds,
                    floor.source.c_str());
        std::printf("    p50 %.1f   p99 %.1f   max %.1f us over %zu wake-ups\n", floor.latency.p50,
                    floor.latency.p99, floor.latency.max, floor.samples);
        // cyclictest is a child process: its time counts as "others" here, about 0.02.
        std::printf(
            "    other processes meanwhile: %.2f processors busy\n",
            othersLoad(before, cpuSnapshot(),
                       static_cast<double>(ClockCalibration::monotonicNs() - startNs) / 1e9));
    }

    const RunResult normal = runCase(settings, settings.bpm, settings.seconds);
    printCase("tempo", settings.bpm, settings.seconds, normal, settings.floor ? &floor : nullptr);
    if (settings.fastBpm > 0 && settings.fastSeconds > 0) {
        const RunResult fast = runCase(settings, settings.fastBpm, settings.fastSeconds);
        printCase("fast", settings.fastBpm, settings.fastSeconds, fast,
                  settings.floor ? &floor : nullptr);
    }
    if (settings.jackSeconds > 0) {
        jackCase(settings);
    }
    return 0;
}
