#pragma once

#include <ostream>
#include <stdexcept>
#include <vector>

#include <QImage>
#include <QWidget>

#include "toolkit/ColorRef.h"
#include "toolkit/ControlHost.h"
#include "toolkit/InputState.h"
#include "toolkit/MDial.h"

// A host window for toolkit tests: paints its controls over a plain background, records the
// events its controls report and the areas they invalidate.
class TestHost : public QWidget, public ControlHost {
public:
    struct Event {
        int event;
        int controlId;
        bool operator==(const Event& other) const = default;
        friend void PrintTo(const Event& e, std::ostream* out) {
            *out << "{event " << e.event << ", id " << e.controlId << "}";
        }
    };

    explicit TestHost(int width = 200, int height = 200, ColorRef background = 0x00FFFFFF);

    QWidget* HostWidget() override { return this; }
    void OnControlEvent(int event, int x, int y, int controlId) override;
    void InvalidateRect(const MRect& rect, bool erase) override;

    // Paints every control into a fresh image of the host's size.
    QImage Render();
    // The colour of one pixel of Render(), as 0x00BBGGRR.
    static ColorRef PixelAt(const QImage& image, int x, int y);

    std::vector<Event> events;
    std::vector<MRect> invalidated;
    ColorRef background;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Keyboard and mouse state set by the test.
class FakeInputState : public InputState {
public:
    FakeInputState() { InputState::Install(this); }
    ~FakeInputState() override { InputState::Install(nullptr); }

    bool IsControlHeld() const override { return control; }
    bool IsShiftHeld() const override { return false; }
    bool IsAltHeld() const override { return false; }
    bool IsPrimaryButtonHeld() const override { return primaryHeld; }
    // Stands for the user letting go: the button is up afterwards.
    void WaitForPrimaryRelease() override {
        ++waits;
        primaryHeld = false;
    }

    bool control = false;
    bool primaryHeld = false;
    int waits = 0;
};

// The dial's field, which every dial of these tests has.
inline MDialEdit& FieldOf(MDial& dial) {
    MDialEdit* field = dial.GetField();
    if (field == nullptr) {
        throw std::logic_error("dial without a field");
    }
    return *field;
}
