#pragma once

// Settings shared by every General MIDI synthesizer the program makes: the live one behind
// "MIDI Mapper" and the one that renders audio files, so an export sounds as loud as playing.
namespace SynthSettings {

// FluidSynth's own default of 0.2 leaves one piano note at velocity 100 some 30 dB below full
// scale, too quiet beside other programs. At this gain middle C at velocity 100 peaks near
// -12 dBFS; a full chord reaches the top and is clipped there.
constexpr double kGain = 2.0;

}  // namespace SynthSettings
