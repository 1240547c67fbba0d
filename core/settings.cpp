#include "core/settings.h"

#include <QSettings>

#include <cmath>

namespace loomwatch::core {

Settings::Settings(const QString& filePath) : m_settings(std::make_unique<QSettings>(filePath, QSettings::NativeFormat))
{}

Settings::~Settings() = default;

QString Settings::fileName() const
{
    return m_settings->fileName();
}

bool Settings::readable() const
{
    // A file that does not parse (or cannot be read) counts as empty rather than half-read.
    return m_settings->status() != QSettings::FormatError && m_settings->status() != QSettings::AccessError;
}

bool Settings::contains(const QString& key) const
{
    return readable() && m_settings->contains(key);
}

std::optional<bool> Settings::readBool(const QString& key) const
{
    if (!contains(key))
        return std::nullopt;
    const QVariant value = m_settings->value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    // The INI format keeps no types: a boolean comes back as the text QSettings wrote for it.
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

bool Settings::showDockIcon() const
{
    return readBool(showDockIconKey).value_or(true);
}

bool Settings::openDashboardAtLaunch() const
{
    return readBool(openDashboardAtLaunchKey).value_or(true);
}

bool Settings::playNotificationSounds() const
{
    return readBool(playNotificationSoundsKey).value_or(true);
}

bool Settings::didCompleteOnboarding() const
{
    return readBool(didCompleteOnboardingKey).value_or(false);
}

std::optional<double> Settings::storedDailyBudgetThreshold() const
{
    if (!contains(dailyBudgetThresholdKey))
        return std::nullopt;
    const QVariant value = m_settings->value(dailyBudgetThresholdKey);
    bool ok = false;
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        number = value.toDouble(&ok);
        break;
    case QMetaType::QString:
        // Written by QSettings in the C locale, whatever the user's locale.
        number = value.toString().trimmed().toDouble(&ok);
        break;
    default:
        break;
    }
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

double Settings::dailyBudgetThreshold() const
{
    return storedDailyBudgetThreshold().value_or(0.0);
}

model::Decimal Settings::dailyBudget() const
{
    return model::Decimal::fromDouble(dailyBudgetThreshold()).value_or(model::Decimal());
}

void Settings::setShowDockIcon(bool value)
{
    m_settings->setValue(showDockIconKey, value);
}

void Settings::setOpenDashboardAtLaunch(bool value)
{
    m_settings->setValue(openDashboardAtLaunchKey, value);
}

void Settings::setPlayNotificationSounds(bool value)
{
    m_settings->setValue(playNotificationSoundsKey, value);
}

void Settings::setDidCompleteOnboarding(bool value)
{
    m_settings->setValue(didCompleteOnboardingKey, value);
}

void Settings::setDailyBudgetThreshold(double value)
{
    m_settings->setValue(dailyBudgetThresholdKey, value);
}

void Settings::sync()
{
    m_settings->sync();
}

} // namespace loomwatch::core
