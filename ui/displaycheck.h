#pragma once

#include <QString>

namespace loomwatch::ui {

// Empty when the window system Qt will use can be reached; otherwise the one line that says so and
// what to use instead. `platform` and `display` are Qt's -platform and -display arguments (empty
// when not given; then QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY decide). Platforms that need no
// display server (offscreen, vnc, eglfs, ...) always pass. A remote X display (host:0) is assumed
// to be reachable.
QString noDisplayMessage(QString platform, QString display);

} // namespace loomwatch::ui
