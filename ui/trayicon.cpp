#include "ui/trayicon.h"

#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <cmath>

namespace loomwatch::ui {

namespace {

const QColor glyphColor(0xf6, 0xf6, 0xf6);
const QColor outlineColor(0x16, 0x16, 0x16, 235);

QImage filled(const QImage& shape, const QColor& color)
{
    QImage image = shape;
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

class TrayIconEngine final : public QIconEngine
{
public:
    TrayIconEngine(QString themeName, bool themed) : m_themeName(std::move(themeName)), m_themed(themed) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        painter->drawImage(rect, render(rect.size()));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override { return QPixmap::fromImage(render(size)); }
    QIconEngine* clone() const override { return new TrayIconEngine(*this); }
    QString iconName() override { return m_themed ? m_themeName : QString(); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

private:
    // The glyph inset by the outline's width, its outline drawn as copies around it.
    QImage render(QSize size) const
    {
        if (size.isEmpty())
            size = QSize(22, 22);
        const int outline = std::max(1, static_cast<int>(std::lround(size.width() / 16.0)));
        QImage shape(size, QImage::Format_ARGB32_Premultiplied);
        shape.fill(Qt::transparent);
        QPainter painter(&shape);
        const QRect inner = shape.rect().adjusted(outline, outline, -outline, -outline);
        if (m_themed && QIcon::hasThemeIcon(m_themeName))
            QIcon::fromTheme(m_themeName).paint(&painter, inner);
        else
            QSvgRenderer(QStringLiteral(":/loomwatch/icons/symbolic/") + m_themeName + QStringLiteral(".svg"))
                .render(&painter, inner);
        painter.end();

        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter out(&image);
        const QImage dark = filled(shape, outlineColor);
        for (int dx = -outline; dx <= outline; ++dx)
            for (int dy = -outline; dy <= outline; ++dy)
                if (dx * dx + dy * dy <= outline * outline + 1)
                    out.drawImage(dx, dy, dark);
        out.drawImage(0, 0, filled(shape, glyphColor));
        return image;
    }

    QString m_themeName;
    bool m_themed;
};

} // namespace

QString trayIconName(const QString& symbol)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("bolt.circle.fill"), QStringLiteral("loomwatch-working-symbolic")},
        {QStringLiteral("person.crop.circle.badge.exclamationmark"), QStringLiteral("loomwatch-waiting-symbolic")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("loomwatch-error-symbolic")},
    };
    return names.value(symbol, QStringLiteral("loomwatch-symbolic"));
}

QIcon trayIcon(const QString& symbol)
{
    const QString name = trayIconName(symbol);
    return QIcon(new TrayIconEngine(name, QIcon::hasThemeIcon(name)));
}

} // namespace loomwatch::ui
