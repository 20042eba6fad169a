#include "toolkit/ControlRegistry.h"

#include <algorithm>

#include <QWidget>

#include "toolkit/ControlHost.h"
#include "toolkit/MButton.h"
#include "toolkit/MWnd.h"
#include "toolkit/ToolkitEvents.h"

ControlRegistry& ControlRegistry::Instance() {
    static ControlRegistry registry;
    return registry;
}

void ControlRegistry::Append(MWnd* control) {
    controls_.push_back(control);
}

void ControlRegistry::Remove(MWnd* control) {
    std::erase(controls_, control);
}

namespace {

// The pressable control behind an entry, or null for the "MWnd" types.
MButton* Pressable(MWnd* control) {
    if (control->GetTypeName() == "MWnd") {
        return nullptr;
    }
    return dynamic_cast<MButton*>(control);
}

}  // namespace

int DispatchMouse(int event, int x, int y, ControlHost* host) {
    // Index-based newest-first walk: a control's reaction may create another control.
    const std::vector<MWnd*>& controls = ControlRegistry::Instance().Controls();
    for (std::size_t i = controls.size(); i-- > 0;) {
        MWnd* control = controls[i];
        if (control->GetHost() != host) {
            continue;
        }
        MButton* button = Pressable(control);
        if (button == nullptr) {
            continue;
        }
        if (button->TrackMouse(event, x, y) != HIT_NONE) {
            return button->GetId();
        }
    }
    return 0;
}

int UpdateCursor(int /*event*/, int x, int y, ControlHost* host) {
    const std::vector<MWnd*>& controls = ControlRegistry::Instance().Controls();
    for (std::size_t i = controls.size(); i-- > 0;) {
        MWnd* control = controls[i];
        if (control->GetHost() != host) {
            continue;
        }
        MButton* button = Pressable(control);
        if (button == nullptr || !button->GetRect().Contains(x, y) || !button->GetCursor() ||
            !button->IsVisible()) {
            continue;
        }
        if (host != nullptr && host->HostWidget() != nullptr) {
            host->HostWidget()->setCursor(*button->GetCursor());
        }
        return button->GetId();
    }
    return 0;
}

const MWnd* ControlAt(int x, int y, ControlHost* host) {
    const std::vector<MWnd*>& controls = ControlRegistry::Instance().Controls();
    for (std::size_t i = controls.size(); i-- > 0;) {
        const MWnd* control = controls[i];
        if (control->GetHost() == host && control->GetId() != 0 && control->IsVisible() &&
            control->GetRect().Contains(x, y)) {
            return control;
        }
    }
    return nullptr;
}

void PaintControls(Canvas& dc, ControlHost* host) {
    const std::vector<MWnd*>& controls = ControlRegistry::Instance().Controls();
    for (std::size_t i = controls.size(); i-- > 0;) {
        if (controls[i]->GetHost() == host) {
            controls[i]->Draw(dc);
        }
    }
}
