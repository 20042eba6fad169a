#include "StepClock.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>

#include "ClockCalibration.h"
#include "ClockSchedule.h"
#include "ClockSpinMargin.h"
#include "core/Player.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr unsigned kMinPeriodMs = 1;
constexpr unsigned kMaxPeriodMs = 1000;

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word must be a plain 32-bit integer");

std::uint32_t* futexWord(std::atomic<std::uint32_t>& word) {
    return reinterpret_cast<std::uint32_t*>(&word);
}

// Waits while *word == expected, until the absolute CLOCK_MONOTONIC time deadline (nullptr:
// no time limit). Returns early on a wake, a changed word or a signal; the caller re-checks.
// True when the deadline passed.
bool futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* deadline) {
    const long result = syscall(SYS_futex, futexWord(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG,
                                expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    return result == -1 && errno == ETIMEDOUT;
}

void futexWakeAll(std::atomic<std::uint32_t>& word) {
    syscall(SYS_futex, futexWord(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr, nullptr,
            0);
}

timespec monotonicTimespec(std::int64_t ns) {
    timespec result{};
    result.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    result.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return result;
}

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

}  // namespace

StepClock::StepClock() : StepClock(Options{}) {}

StepClock::StepClock(const Options& options) : options_(options) {
    tscPresent_ = ClockCalibration::tscPresent();
    // One origin for both time bases: the calibration's first pair.
    const ClockCalibration::ClockPair origin = ClockCalibration::readTightPair();
    tscOrigin_ = origin.tsc;
    originUs_ = (tscPresent_ ? origin.ns : ClockCalibration::monotonicNs()) / 1000;
    if (tscPresent_ && options_.calibrationMs > 0) {
        calibrationTsc_ = origin.tsc;
        calibrationNs_ = origin.ns;
        calibrationDueNs_ =
            origin.ns + static_cast<std::int64_t>(options_.calibrationMs) * 1'000'000;
        calibration_.store(kPending, std::memory_order_relaxed);
    }
}

bool StepClock::calibrated() const {
    return calibration_.load(std::memory_order_acquire) == kDone;
}

bool StepClock::completeCalibration() {
    int expected = kPending;
    if (!calibration_.compare_exchange_strong(expected, kMeasuring, std::memory_order_acquire)) {
        return expected == kDone;
    }
    const ClockCalibration::ClockPair last = ClockCalibration::readTightPair();
    const double measured =
        ClockCalibration::cyclesPerMsBetween(calibrationTsc_, calibrationNs_, last.tsc, last.ns);
    if (measured >= 1.0 && measured < 2.0e9) {
        measuredCyclesPerMs_.store(measured, std::memory_order_relaxed);
        usPerCycle_.store(1000.0 / measured, std::memory_order_relaxed);
        cyclesPerMs_.store(ClockCalibration::roundCyclesPerMs(static_cast<std::int64_t>(measured)),
                           std::memory_order_relaxed);
    }
    // Publishes the figures above to every reader of the state.
    calibration_.store(kDone, std::memory_order_release);
    return true;
}

void StepClock::calibrateWhenDue() {
    if (calibration_.load(std::memory_order_relaxed) == kPending &&
        ClockCalibration::monotonicNs() >= calibrationDueNs_) {
        completeCalibration();
    }
}

void StepClock::finishCalibration() {
    if (calibrated()) {
        return;
    }
    const timespec due = monotonicTimespec(calibrationDueNs_);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
    // The clock thread may be taking the pair right now: it takes microseconds.
    while (!completeCalibration()) {
        std::this_thread::yield();
    }
}

StepClock::~StepClock() {
    quit_.store(true, std::memory_order_release);
    signalThread();
    if (thread_.joinable()) {
        thread_.join();
    }
    releaseDmaLatency();
}

void StepClock::configure(unsigned periodMs, Player& player) {
    periodMs_.store(std::clamp(periodMs, kMinPeriodMs, kMaxPeriodMs), std::memory_order_relaxed);
    if (!thread_.joinable()) {
        player_.store(&player, std::memory_order_release);
        thread_ = std::thread([this] { run(); });
    }
    signalThread();
}

void StepClock::startTimer() {
    startedAtUs_.store(nowUs(), std::memory_order_relaxed);
    starts_.fetch_add(1, std::memory_order_relaxed);
    timerActive_.store(true, std::memory_order_relaxed);
    holdDmaLatency();
    signalThread();
}

void StepClock::stopTimer() {
    timerActive_.store(false, std::memory_order_relaxed);
    releaseDmaLatency();
    signalThread();
}

void StepClock::wake() {
    signalThread();
}

void StepClock::signalThread() {
    // The release orders every store above before the thread's acquire of the new value.
    signal_.fetch_add(1, std::memory_order_release);
    futexWakeAll(signal_);
}

bool StepClock::usingTsc() const {
    return useTsc_.load(std::memory_order_relaxed) && calibrated() &&
           cyclesPerMs_.load(std::memory_order_relaxed) > 0;
}

std::int64_t StepClock::nowUs() const {
    if (!usingTsc()) {
        return ClockCalibration::monotonicNs() / 1000;
    }
    // Signed: a reading on another processor may come out a hair before the origin.
    const auto cycles = static_cast<std::int64_t>(ClockCalibration::readTsc() - tscOrigin_);
    const double usPerCycle = usPerCycle_.load(std::memory_order_relaxed);
    return originUs_ +
           static_cast<std::int64_t>(std::floor(static_cast<double>(cycles) * usPerCycle));
}

std::int64_t StepClock::fromMonotonicUs(std::int64_t monotonicUs) const {
    if (!usingTsc()) {
        return monotonicUs;
    }
    // As its distance from now: the two bases agree on rates over milliseconds, not minutes.
    return nowUs() - (ClockCalibration::monotonicNs() / 1000 - monotonicUs);
}

std::int64_t StepClock::nowMs() const {
    if (usingTsc()) {
        return static_cast<std::int64_t>(
            ClockCalibration::readTsc() /
            static_cast<std::uint64_t>(cyclesPerMs_.load(std::memory_order_relaxed)));
    }
    const std::int64_t ticksPerMs = counterFrequency_ / 1000;
    const std::int64_t counter = ClockCalibration::monotonicNs();
    return ticksPerMs > 0 ? counter / ticksPerMs : counter / 1'000'000;
}

void StepClock::setUseTsc(bool flag) {
    useTsc_.store(flag, std::memory_order_relaxed);
    signalThread();
}

std::int64_t StepClock::threadCpuNs() const {
    if (!thread_.joinable()) {
        return 0;
    }
    clockid_t clock{};
    // The const_cast only reaches the handle; reading a thread's CPU clock changes nothing.
    if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) != 0) {
        return 0;
    }
    timespec used{};
    if (clock_gettime(clock, &used) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(used.tv_sec) * 1'000'000'000 + used.tv_nsec;
}

void StepClock::holdDmaLatency() {
    if (!options_.holdDmaLatency || dmaLatencyFd_ >= 0) {
        return;
    }
    const int fd = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const std::int32_t zero = 0;
    if (write(fd, &zero, sizeof zero) != static_cast<ssize_t>(sizeof zero)) {
        close(fd);
        return;
    }
    // The request holds for as long as the file stays open.
    dmaLatencyFd_ = fd;
}

void StepClock::releaseDmaLatency() {
    if (dmaLatencyFd_ >= 0) {
        close(dmaLatencyFd_);
        dmaLatencyFd_ = -1;
    }
}

void StepClock::enterRealtime() {
    // Timer slack would let every sleep end up to 50 us late for a normal thread.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (options_.realtimePriority <= 0) {
        return;
    }
    sched_param param{};
    param.sched_priority = std::clamp(options_.realtimePriority, sched_get_priority_min(SCHED_FIFO),
                                      sched_get_priority_max(SCHED_FIFO));
    // Refused without the right to real-time scheduling: the clock runs on at normal priority.
    realtimeGranted_.store(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0,
                           std::memory_order_relaxed);
}

void StepClock::park(std::uint32_t seen) {
    if (calibration_.load(std::memory_order_relaxed) == kPending) {
        // Parked, but back when the calibration's second pair is due.
        const timespec due = monotonicTimespec(calibrationDueNs_);
        futexWait(signal_, seen, &due);
    } else {
        futexWait(signal_, seen, nullptr);
    }
    wakeups_.fetch_add(1, std::memory_order_relaxed);
}

bool StepClock::sleepUntil(std::int64_t fireAtUs, std::uint32_t seen, ClockSpinMargin& margin) {
    // The spin is chosen once for the whole wait.
    const std::int64_t spinUs = margin.marginUs(fireAtUs - nowUs());
    for (;;) {
        if (signal_.load(std::memory_order_acquire) != seen) {
            return false;
        }
        const std::int64_t remaining = fireAtUs - nowUs();
        if (remaining <= 0) {
            return true;
        }
        if (remaining > spinUs) {
            // The deadline is converted to CLOCK_MONOTONIC; on the counter's time base the two
            // differ by a fraction of a microsecond over one sleep, which the spin absorbs.
            const std::int64_t wakeNs =
                ClockCalibration::monotonicNs() + (remaining - spinUs) * 1000;
            const timespec deadline = monotonicTimespec(wakeNs);
            const bool timedOut = futexWait(signal_, seen, &deadline);
            wakeups_.fetch_add(1, std::memory_order_relaxed);
            if (timedOut) {
                margin.record((ClockCalibration::monotonicNs() - wakeNs) / 1000);
            }
            continue;
        }
        cpuRelax();
    }
}

void StepClock::run() {
    enterRealtime();
    Player& player = *player_.load(std::memory_order_acquire);
    ClockSchedule schedule(static_cast<std::int64_t>(periodMs_.load()) * 1000);
    ClockSpinMargin margin(options_.spinUs, std::max(options_.maxSpinUs, options_.spinUs));
    std::uint32_t seenStarts = 0;
    for (;;) {
        // Read the signal first: any change made after this read makes the waits below return.
        const std::uint32_t seen = signal_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_acquire)) {
            return;
        }
        calibrateWhenDue();
        if (!timerActive_.load(std::memory_order_relaxed)) {
            park(seen);
            continue;
        }
        schedule.setSpacingUs(static_cast<std::int64_t>(periodMs_.load()) * 1000);
        const std::uint32_t starts = starts_.load(std::memory_order_relaxed);
        if (starts != seenStarts) {
            seenStarts = starts;
            schedule.restart(startedAtUs_.load(std::memory_order_relaxed));
        }
        const std::int64_t fireAtUs = schedule.nextFireUs(player.nextDueUs());
        if (fireAtUs == ClockSchedule::kNever) {
            park(seen);
            continue;
        }
        if (!sleepUntil(fireAtUs, seen, margin)) {
            continue;
        }
        const std::int64_t now = nowUs();
        const bool played = player.tick(now);
        schedule.fired(now, played);
        firings_.fetch_add(1, std::memory_order_relaxed);
    }
}
