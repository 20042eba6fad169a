#pragma once

#include <string>

#include "toolkit/MDial.h"

// The tempo dial: a real number of beats per minute, stepped by a semitone ratio (an
// octave with Ctrl), shown either as beats per minute (mode 0) or as samples per measure at
// 44100 Hz (mode 1). Typed text takes effect when the field loses the focus.
class MTempoDial : public MDial {
public:
    static constexpr double kMinTempo = 0.5;
    static constexpr double kMaxTempo = 10000000.0;
    // Samples of a measure at one beat per minute: 44100 Hz times 120 (four beats of 30 s).
    static constexpr double kSamplesPerMeasureAtOneBpm = 44100.0 * 120.0;

    MTempoDial() = default;

    // As MDial::Create; the tempo then starts at 126 in mode 0.
    void Create(const DialParams& params);
    using MDial::Create;

    void SetValueText(const std::string& text) override;
    void CommitEdit() override;
    void StepBy(int delta) override;

    double GetTempo() const { return tempo_; }
    void SetTempo(double t);
    void SetMode(int m);
    int GetMode() const { return mode_; }
    const std::string& GetDisplay() const { return display_; }

private:
    std::string FormatTempo() const;
    void Display();

    double tempo_ = 126.0;
    double committedNumber_ = 0.0;
    std::string display_;
    int mode_ = 0;
};
