#include "ui/weekchart.h"

#include "pricing/currencyformatter.h"

#include <QString>
#include <QVariantMap>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <memory>

namespace loomwatch::ui {

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString money(const model::Decimal& amount)
{
    return QString::fromStdString(pricing::formatUsd(amount));
}

// Only to size the bars: the amounts shown are the decimals' own text.
double approximate(const model::Decimal& amount)
{
    return QString::fromStdString(amount.toString()).toDouble();
}

// The calendar day in the user's locale, after an ICU skeleton ("EEE", "MMMd").
class DayFormat
{
public:
    explicit DayFormat(const char* skeleton)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_format.reset(icu::DateFormat::createInstanceForSkeleton(skeleton, icu::Locale::getDefault(), status));
        if (U_FAILURE(status))
            m_format.reset();
        else
            m_format->setTimeZone(*icu::TimeZone::getGMT());
    }

    QString operator()(std::chrono::year_month_day day) const
    {
        if (!m_format)
            return QString::fromStdString(core::dayText(day));
        const auto noon = std::chrono::sys_days(day) + std::chrono::hours(12);
        icu::UnicodeString text;
        m_format->format(
            static_cast<UDate>(std::chrono::duration_cast<std::chrono::milliseconds>(noon.time_since_epoch()).count()),
            text);
        return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
    }

private:
    std::unique_ptr<icu::DateFormat> m_format;
};

} // namespace

QVariantList weekChart(const std::vector<core::DayCost>& days)
{
    const DayFormat weekday("EEE"), date("MMMd"), spoken("EEEEMMMMd");
    double largest = 0;
    for (const core::DayCost& day : days)
        largest = std::max(largest, approximate(day.total()));
    const auto share = [largest](const model::Decimal& amount) {
        return largest > 0 ? approximate(amount) / largest : 0.0;
    };

    QVariantList chart;
    for (const core::DayCost& day : days) {
        const model::Decimal total = day.total();
        QString accessibleName = spoken(day.day) + QStringLiteral(": ") + money(total);
        QVariantList segments;
        double below = 0;
        for (model::AgentTool tool : model::allAgentTools) {
            const model::Decimal& amount = day.tools[static_cast<std::size_t>(tool)];
            if (amount.isZero())
                continue;
            const QString name = qs(model::displayName(tool));
            accessibleName += QStringLiteral(", ") + name + QLatin1Char(' ') + money(amount);
            segments.append(QVariantMap{{QStringLiteral("tool"), qs(model::rawValue(tool))},
                                        {QStringLiteral("name"), name},
                                        {QStringLiteral("amount"), money(amount)},
                                        {QStringLiteral("share"), share(amount)},
                                        {QStringLiteral("below"), below}});
            below += share(amount);
        }
        chart.append(QVariantMap{{QStringLiteral("weekday"), weekday(day.day)},
                                 {QStringLiteral("date"), date(day.day)},
                                 {QStringLiteral("total"), money(total)},
                                 {QStringLiteral("segments"), segments},
                                 {QStringLiteral("accessibleName"), accessibleName}});
    }
    return chart;
}

} // namespace loomwatch::ui
