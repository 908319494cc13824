#pragma once

#include <string>

#include "common/exception.h"

class QApplication;

namespace vorncom::ui {

// Raised when a window is needed but Qt cannot be used from this call: no display, a host
// application that is not a widgets application, or a call from a thread other than the one that
// owns the application (Qt would hang or abort there).
VORNCOM_EXCEPTION(EQtHostError);

// Whether a window could be shown from the calling thread now, without creating anything. When
// there is no application yet this needs a reachable display (DISPLAY or WAYLAND_DISPLAY) or an
// explicit QT_QPA_PLATFORM; the first time that check fails one warning goes to standard error.
bool QtUsable();

// The application windows run under. Reuses the host's QApplication; otherwise creates one on the
// calling thread, which then owns every window of the library. The host's C locale (setlocale) is
// the same after the call as before it. Throws EQtHostError when QtUsable() is false.
QApplication& EnsureApplication();

// For work that needs fonts and images but no windows (laying out and printing the receipt): true
// when a GUI application runs on the calling thread after the call. Uses the host's application
// if it is one; otherwise makes what EnsureApplication makes when QtUsable(), else an application
// on the offscreen platform, without widgets, so that messages keep going unattended. The host's C
// locale is the same after the call as before it.
bool EnsureGuiApplication();

}  // namespace vorncom::ui
