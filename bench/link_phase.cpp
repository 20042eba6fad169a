// Link phase benchmark: two copies of the program with Link on, each playing every step to its
// own input of a JACK recorder on one JACK server (dummy driver), led by a Link peer of the
// benchmark's own at 150 BPM (100 ms steps). Prints how far apart the two copies' steps land
// and how far each copy's steps land from the session's beat grid (p50, p99, max, in
// microseconds). Compare the grid error with the wake-up floor that step_timing prints.
//
//   link_phase [PROGRAM] [--seconds S]
//
// PROGRAM defaults to the glimmerstave next to this benchmark's folder.

#include <ableton/Link.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LinkRig.h"

namespace {

constexpr double kBpm = 150.0;

struct Figures {
    double p50 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

Figures figuresOf(std::vector<double> values) {
    Figures f;
    if (values.empty()) {
        return f;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    f.p50 = at(0.50);
    f.p99 = at(0.99);
    f.max = values.back();
    return f;
}

void print(const char* what, const Figures& f, std::size_t count) {
    std::printf("%-34s p50 %7.0f us   p99 %7.0f us   max %7.0f us   (%zu steps)\n", what, f.p50,
                f.p99, f.max, count);
}

// JACK's microsecond clock minus Link's, from the closest of a few back-to-back readings.
std::int64_t jackMinusLinkUs(ableton::Link& link) {
    std::int64_t best = 0;
    std::int64_t narrowest = std::numeric_limits<std::int64_t>::max();
    for (int i = 0; i < 50; ++i) {
        const auto before = static_cast<std::int64_t>(jack_get_time());
        const std::int64_t linkNow = link.clock().micros().count();
        const auto after = static_cast<std::int64_t>(jack_get_time());
        if (after - before < narrowest) {
            narrowest = after - before;
            best = before + (after - before) / 2 - linkNow;
        }
    }
    return best;
}

// Each step's distance from the session's sixteenth grid, by the time it was sent.
std::vector<double> gridErrors(const std::vector<LinkRig::Input::Event>& steps, ableton::Link& link,
                               std::int64_t jackMinusLink) {
    const auto session = link.captureAppSessionState();
    const double stepUs = 60.0e6 / session.tempo() / 4.0;
    std::vector<double> errors;
    for (const LinkRig::Input::Event& step : steps) {
        const std::int64_t linkUs = step.sentUs - jackMinusLink;
        const double sixteenths = session.beatAtTime(std::chrono::microseconds(linkUs), 4.0) * 4.0;
        errors.push_back(std::fabs(sixteenths - std::round(sixteenths)) * stepUs);
    }
    return errors;
}

}  // namespace

int main(int argc, char** argv) {
    std::string program;
    double seconds = 60.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1.0, std::atof(argv[++i]));
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
        std::fprintf(stderr, "link_phase: %s\n", error.c_str());
        return 1;
    }
    ableton::Link peer(kBpm);
    peer.enableStartStopSync(true);
    peer.enable(true);
    rig.startCopy("a");
    rig.startCopy("b");
    if (!LinkRig::waitFor([&] { return peer.numPeers() >= 2 && rig.copiesConnected(); }, 30000)) {
        std::fprintf(stderr, "link_phase: the copies did not join (peers %zu)\n%s", peer.numPeers(),
                     rig.copyLogs().c_str());
        return 1;
    }
    auto state = peer.captureAppSessionState();
    state.setTempo(kBpm, peer.clock().micros());
    state.setIsPlayingAndRequestBeatAtTime(true, peer.clock().micros(), 0.0, 4.0);
    peer.commitAppSessionState(state);
    std::printf("two copies, Link at %.0f BPM (100 ms steps), %.0f s...\n", kBpm, seconds);
    std::fflush(stdout);
    LinkRig::pauseMs(static_cast<int>(seconds * 1000.0));
    const std::int64_t offset = jackMinusLinkUs(peer);
    state = peer.captureAppSessionState();
    state.setIsPlaying(false, peer.clock().micros());
    peer.commitAppSessionState(state);

    const std::vector<jack_nframes_t> a = rig.a.noteOnFrames();
    const std::vector<jack_nframes_t> b = rig.b.noteOnFrames();
    // Pairs: each step of a with the nearest step of b (both lists are in time order).
    std::vector<double> apart;
    std::size_t j = 0;
    for (const jack_nframes_t frame : a) {
        while (j + 1 < b.size() && b[j + 1] <= frame) {
            ++j;
        }
        long best = std::labs(static_cast<long>(b.empty() ? 0 : b[j]) - static_cast<long>(frame));
        if (j + 1 < b.size()) {
            best =
                std::min(best, std::labs(static_cast<long>(b[j + 1]) - static_cast<long>(frame)));
        }
        if (!b.empty()) {
            apart.push_back(rig.framesToUs(static_cast<double>(best)));
        }
    }
    print("the two copies apart", figuresOf(apart), apart.size());
    print("copy a against the session grid", figuresOf(gridErrors(rig.a.noteOns(), peer, offset)),
          a.size());
    print("copy b against the session grid", figuresOf(gridErrors(rig.b.noteOns(), peer, offset)),
          b.size());
    std::printf("(frame-placed on a dummy-driver JACK server, %u-frame periods at %u Hz)\n",
                LinkRig::Rig::kPeriod, LinkRig::Rig::kRate);
    return a.empty() || b.empty() ? 1 : 0;
}
