#include "ui/displaycheck.h"

#include <QStringList>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace loomwatch::ui {

namespace {

bool canConnect(const QByteArray& socketPath, bool abstract = false)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (socketPath.isEmpty() || static_cast<std::size_t>(socketPath.size()) + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, socketPath.constData(), static_cast<std::size_t>(socketPath.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + socketPath.size());
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return connected;
}

// "[host]:number[.screen]"
bool x11Reachable(const QString& display)
{
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QString host = display.left(colon);
    bool numeric = false;
    const int number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0).toInt(&numeric);
    if (!numeric)
        return false;
    if (!host.isEmpty() && host != QLatin1String("unix"))
        return true;
    const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
    return canConnect(path) || canConnect(path, true);
}

bool waylandReachable(const QString& display)
{
    if (display.isEmpty())
        return false;
    if (display.startsWith(QLatin1Char('/')))
        return canConnect(display.toLocal8Bit());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && canConnect(runtime + '/' + display.toLocal8Bit());
}

} // namespace

QString noDisplayMessage(QString platform, QString display)
{
    if (platform.isEmpty())
        platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString x11 = display.isEmpty() ? qEnvironmentVariable("DISPLAY") : display;
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    bool needsX11 = platform.isEmpty();
    bool needsWayland = platform.isEmpty();
    // QT_QPA_PLATFORM may list several platforms, tried in order ("wayland;xcb").
    for (const QString& entry : platform.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        if (name == QLatin1String("xcb"))
            needsX11 = true;
        else if (name.startsWith(QLatin1String("wayland")))
            needsWayland = true;
        else
            return {};
    }
    if ((needsX11 && x11Reachable(x11)) || (needsWayland && waylandReachable(wayland)))
        return {};
    const QString what = x11.isEmpty() && wayland.isEmpty()
                             ? QStringLiteral("no display is set (DISPLAY and WAYLAND_DISPLAY are empty)")
                             : QStringLiteral("the display %1 cannot be opened").arg(x11.isEmpty() ? wayland : x11);
    return QStringLiteral("loomwatch: %1. Run it under xvfb-run, or use loomwatch-cli in a terminal "
                          "(loomwatch-cli watch --notify posts the desktop notifications).")
        .arg(what);
}

} // namespace loomwatch::ui
