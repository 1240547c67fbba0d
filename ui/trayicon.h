#pragma once

#include <QIcon>
#include <QString>

namespace loomwatch::ui {

// The installed symbolic icon that stands for the tray's state symbol ("circle.dotted" ->
// "loomwatch-symbolic", "bolt.circle.fill" -> "loomwatch-working-symbolic", ...).
QString trayIconName(const QString& symbol);

// The tray icon for a state symbol. Its pixels are a light glyph with a dark outline, readable on
// dark and light panels alike; when the icon theme has the symbolic icon, the icon also carries its
// name, so that a tray host that draws named icons itself paints it in the panel's own colour.
// The glyph comes from the theme when it has the icon, else from the bundled copy.
QIcon trayIcon(const QString& symbol);

} // namespace loomwatch::ui
