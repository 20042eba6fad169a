#include "panels/LoopPopupNaming.h"

#include "panels/ControlTips.h"
#include "panels/PanelIds.h"

using namespace PanelIds;

namespace {

// The dial's arrows are its id + 1 and + 2, its field + 3.
std::string PartName(const std::string& dial, int part) {
    switch (part) {
        case 1:
            return dial + " up";
        case 2:
            return dial + " down";
        case 3:
            return dial;
        default:
            return {};
    }
}

}  // namespace

std::string LoopPopupNaming::Name(int id) {
    if (id >= ID_NEXT_MEASURE && id <= ID_NEXT_MEASURE_LAST) {
        return PartName("Next loop", id - ID_NEXT_MEASURE);
    }
    if (id >= ID_REPEATS && id <= ID_REPEATS_LAST) {
        return PartName("Repeats", id - ID_REPEATS);
    }
    return {};
}

std::string LoopPopupNaming::Description(int id) {
    return ControlTips::ForLoopPopup(popup_, id);
}
