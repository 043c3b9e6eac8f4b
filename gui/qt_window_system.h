#pragma once

// The window services on Qt Widgets. A QApplication must exist for the whole life of the
// instance; the instance keeps it from quitting when the last window closes, since the
// program ends when its main procedure returns.
//
// Beyond the interface: every control's widget has its layout name as object name, and
// Handle() is the window's WId, so tools and tests can find the widgets.

#include <memory>

#include "platform/window_system.h"

namespace kb::platform {

std::unique_ptr<WindowSystem> NewQtWindowSystem();

}  // namespace kb::platform
