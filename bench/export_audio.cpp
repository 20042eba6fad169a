// The audio export's speed: 64 measures of a random setup at 126 BPM (16 steps per measure,
// about two minutes of sound) rendered to a WAV file, as a multiple of real time. Wall
// time includes writing and flushing the file; CPU time is the rendering thread's own.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Random.h"
#include "core/Setup.h"
#include "midi/AudioExport.h"

namespace {

constexpr int kMeasures = 64;
constexpr int kRuns = 3;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main() {
    const std::string out =
        (std::filesystem::temp_directory_path() / "glimmerstave-bench-export.wav").string();
    std::vector<double> wallFactors;
    std::vector<double> cpuFactors;
    for (int run = 0; run < kRuns; ++run) {
        Random::seed(1234);
        Setup setup;
        setup.bpm = 126.0;
        setup.stepsPerMeasure = 16;
        setup.selectedMeasure = 0;
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = threadCpuSeconds();
        AudioExport::writeFile(setup, kMeasures * setup.stepsPerMeasure, out);
        const double cpu = threadCpuSeconds() - cpuStart;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double audioSeconds = static_cast<double>(std::filesystem::file_size(out) - 44) /
                                    (4.0 * AudioExport::kSampleRate);
        wallFactors.push_back(audioSeconds / wall);
        cpuFactors.push_back(audioSeconds / cpu);
        std::printf(
            "run %d: %.1f s of sound in %.2f s wall (%.2f s CPU): %.0fx real time "
            "(%.0fx by CPU)\n",
            run + 1, audioSeconds, wall, cpu, audioSeconds / wall, audioSeconds / cpu);
    }
    std::filesystem::remove(out);
    std::sort(wallFactors.begin(), wallFactors.end());
    std::sort(cpuFactors.begin(), cpuFactors.end());
    std::printf("export_audio: %d measures at 126 BPM, median %.0fx real time (%.0fx by CPU)\n",
                kMeasures, wallFactors[kRuns / 2], cpuFactors[kRuns / 2]);
    return 0;
}
