#include "ui/symbolimageprovider.h"

#include <QFile>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrlQuery>

namespace loomwatch::ui {

namespace {

const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("system-software-update")},
        {QStringLiteral("gear"), QStringLiteral("preferences-system")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("stethoscope"), QStringLiteral("system-run")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok")},
        {QStringLiteral("checkmark.circle"), QStringLiteral("object-select")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("dialog-question")},
        {QStringLiteral("pause.circle"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("view-more")},
        {QStringLiteral("moon.zzz"), QStringLiteral("weather-clear-night")},
        {QStringLiteral("minus.circle"), QStringLiteral("list-remove")},
    };
    return names;
}

QString bundledPath(const QString& symbol)
{
    return QStringLiteral(":/loomwatch/icons/") + symbol + QStringLiteral(".svg");
}

QImage tinted(QImage image, const QColor& color)
{
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

} // namespace

QString themeIconName(const QString& symbol)
{
    return themeNames().value(symbol);
}

QImage renderSymbol(const QString& symbol, QSize size, const QColor& color)
{
    if (!size.isValid() || size.isEmpty())
        size = QSize(16, 16);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const QString themed = themeIconName(symbol);
    if (!themed.isEmpty()) {
        const QIcon icon = QIcon::fromTheme(themed + QStringLiteral("-symbolic"));
        if (!icon.isNull()) {
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
            painter.end();
            return tinted(image, color);
        }
    }
    QSvgRenderer renderer(bundledPath(symbol));
    if (!renderer.isValid())
        return image;
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return tinted(image, color);
}

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    const qsizetype queryStart = id.indexOf(QLatin1Char('?'));
    const QString symbol = queryStart < 0 ? id : id.left(queryStart);
    QColor color(Qt::black);
    if (queryStart >= 0) {
        const QUrlQuery query(id.mid(queryStart + 1));
        const QColor asked(query.queryItemValue(QStringLiteral("color"), QUrl::FullyDecoded));
        if (asked.isValid())
            color = asked;
    }
    const QImage image = renderSymbol(symbol, requestedSize, color);
    if (size)
        *size = image.size();
    return image;
}

} // namespace loomwatch::ui
