#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration>

#include <functional>
#include <memory>

#include "ui/autostartentry.h"

namespace loomwatch::core {
class AppStore;
class EditableResources;
class Settings;
} // namespace loomwatch::core

namespace loomwatch::ui {

// The settings window's state and actions ("Backend.preferences"). Toggles show a key's default
// while it is absent and write the key only when the user changes them.
class PreferencesController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Handed out by the application")
    Q_PROPERTY(bool showDockIcon READ showDockIcon WRITE setShowDockIcon NOTIFY changed)
    Q_PROPERTY(bool openDashboardAtLaunch READ openDashboardAtLaunch WRITE setOpenDashboardAtLaunch NOTIFY changed)
    Q_PROPERTY(bool playNotificationSounds READ playNotificationSounds WRITE setPlayNotificationSounds NOTIFY changed)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    // US dollars; shows 25 while the key is absent.
    Q_PROPERTY(double dailyBudgetThreshold READ dailyBudgetThreshold NOTIFY changed)
    // The budget in the user's locale ("25", "1,250.5"); a text that is not a number is refused.
    Q_PROPERTY(QString dailyBudgetText READ dailyBudgetText NOTIFY changed)
    Q_PROPERTY(QString pricingJSON READ pricingJSON WRITE setPricingJSON NOTIFY editorsChanged)
    Q_PROPERTY(QString handoffTemplate READ handoffTemplate WRITE setHandoffTemplate NOTIFY editorsChanged)
    // Empty while there is none; replaced by the next message, never cleared otherwise.
    Q_PROPERTY(QString resourceMessage READ resourceMessage NOTIFY resourceMessageChanged)
    Q_PROPERTY(QString supportUrl READ supportUrl CONSTANT)

public:
    struct Dependencies
    {
        core::AppStore* store = nullptr;
        std::shared_ptr<core::Settings> settings;
        std::shared_ptr<core::EditableResources> resources;
        AutostartEntry autostart;
        // Shows or hides the windows in the taskbar.
        std::function<void(bool)> applyDockIcon;
    };

    explicit PreferencesController(Dependencies dependencies, QObject* parent = nullptr);
    ~PreferencesController() override;

    bool showDockIcon() const;
    void setShowDockIcon(bool value);
    bool openDashboardAtLaunch() const;
    void setOpenDashboardAtLaunch(bool value);
    bool playNotificationSounds() const;
    void setPlayNotificationSounds(bool value);
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool value);
    double dailyBudgetThreshold() const;
    QString dailyBudgetText() const;
    // False (nothing stored) unless the text is a finite, non-negative number in the user's locale.
    Q_INVOKABLE bool setDailyBudgetText(const QString& text);

    QString pricingJSON() const { return m_pricingJSON; }
    void setPricingJSON(const QString& text);
    QString handoffTemplate() const { return m_handoffTemplate; }
    void setHandoffTemplate(const QString& text);
    QString resourceMessage() const { return m_resourceMessage; }
    QString supportUrl() const;

    // The settings window was opened: re-read the login item, fill the editors from the working
    // copies, drop the message.
    Q_INVOKABLE void reload();
    // The Tools tab was shown: fills the two editors from the working copies and drops the message,
    // unless the login item's failure put it there while the tab was hidden (then it shows this time).
    Q_INVOKABLE void loadEditors();
    Q_INVOKABLE void save();
    Q_INVOKABLE void resetDefaults();

signals:
    void changed();
    void launchAtLoginChanged();
    void editorsChanged();
    void resourceMessageChanged();

private:
    void setResourceMessage(const QString& message, bool fromLoginItem = false);

    core::AppStore* m_store;
    std::shared_ptr<core::Settings> m_settings;
    std::shared_ptr<core::EditableResources> m_resources;
    AutostartEntry m_autostart;
    std::function<void(bool)> m_applyDockIcon;
    bool m_launchAtLogin = false;
    QString m_pricingJSON;
    QString m_handoffTemplate;
    QString m_resourceMessage;
    bool m_messageAwaitsToolsTab = false;
};

} // namespace loomwatch::ui
