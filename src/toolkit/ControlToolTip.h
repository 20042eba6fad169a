#pragma once

#include <functional>
#include <string>

class ControlHost;
class QHelpEvent;

// A host's answer to Qt's tooltip request: the control under the pointer (a text field, or
// else the newest registered control there) is looked up and textFor names it. A point
// without a named control hides any tooltip shown and leaves the event unhandled.
// Returns true when a tooltip is shown.
bool ShowControlToolTip(QHelpEvent* event, ControlHost* host,
                        const std::function<std::string(int controlId)>& textFor);
