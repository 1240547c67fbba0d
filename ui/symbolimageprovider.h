#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QQuickImageProvider>
#include <QString>

namespace loomwatch::ui {

// The freedesktop icon name that stands for a symbol name ("arrow.clockwise" -> "view-refresh"),
// empty when the theme has no counterpart.
QString themeIconName(const QString& symbol);

// The symbol drawn in one colour: the theme's "-symbolic" icon when the theme has one, else the
// bundled line drawing. Unknown symbols give a transparent image of the asked size.
QImage renderSymbol(const QString& symbol, QSize size, const QColor& color);

// "image://symbol/<name>?color=<#rrggbb>" for QML.
class SymbolImageProvider : public QQuickImageProvider
{
public:
    SymbolImageProvider();
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

} // namespace loomwatch::ui
