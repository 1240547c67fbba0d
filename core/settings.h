#pragma once

#include "model/decimal.h"

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace loomwatch::core {

// The per-user preferences (~/.config/Loomwatch/Loomwatch.conf). Every getter applies the key's
// default when the key is absent or holds something of the wrong type; nothing here ever writes a
// default back. A damaged or unreadable file reads as all defaults.
class Settings
{
public:
    static inline const QString showDockIconKey = QStringLiteral("showDockIcon");
    static inline const QString openDashboardAtLaunchKey = QStringLiteral("openDashboardAtLaunch");
    static inline const QString playNotificationSoundsKey = QStringLiteral("playNotificationSounds");
    static inline const QString dailyBudgetThresholdKey = QStringLiteral("dailyBudgetThreshold");
    static inline const QString didCompleteOnboardingKey = QStringLiteral("didCompleteOnboarding");
    // What the budget field shows while the key is absent; the store then reads 0 (no alert).
    static constexpr double dailyBudgetFieldDefault = 25.0;

    // The INI file at `filePath` (the user's: Paths::settingsFile()).
    explicit Settings(const QString& filePath);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    QString fileName() const;
    bool contains(const QString& key) const;

    bool showDockIcon() const;           // true when absent
    bool openDashboardAtLaunch() const;  // true when absent
    bool playNotificationSounds() const; // true when absent or not a boolean
    bool didCompleteOnboarding() const;  // false when absent
    // US dollars; 0 when absent, not a number or not finite.
    double dailyBudgetThreshold() const;
    // The stored number, if the key holds one; the budget field shows dailyBudgetFieldDefault otherwise.
    std::optional<double> storedDailyBudgetThreshold() const;
    // dailyBudgetThreshold() as the decimal the notification service compares with.
    model::Decimal dailyBudget() const;

    void setShowDockIcon(bool value);
    void setOpenDashboardAtLaunch(bool value);
    void setPlayNotificationSounds(bool value);
    void setDidCompleteOnboarding(bool value);
    void setDailyBudgetThreshold(double value);

    // Writes pending changes to disk now (QSettings otherwise does so later and at exit).
    void sync();

private:
    std::optional<bool> readBool(const QString& key) const;
    bool readable() const;

    std::unique_ptr<QSettings> m_settings;
};

} // namespace loomwatch::core
