#include "ui/preferencescontroller.h"

#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/settings.h"

#include <QLocale>

#include <cmath>

namespace loomwatch::ui {

PreferencesController::PreferencesController(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_store(dependencies.store), m_settings(std::move(dependencies.settings)),
      m_resources(std::move(dependencies.resources)), m_autostart(std::move(dependencies.autostart)),
      m_applyDockIcon(std::move(dependencies.applyDockIcon)), m_launchAtLogin(m_autostart.isEnabled())
{}

PreferencesController::~PreferencesController() = default;

bool PreferencesController::showDockIcon() const
{
    return m_settings->showDockIcon();
}

void PreferencesController::setShowDockIcon(bool value)
{
    if (value == showDockIcon())
        return;
    m_settings->setShowDockIcon(value);
    if (m_applyDockIcon)
        m_applyDockIcon(value);
    emit changed();
}

bool PreferencesController::openDashboardAtLaunch() const
{
    return m_settings->openDashboardAtLaunch();
}

void PreferencesController::setOpenDashboardAtLaunch(bool value)
{
    if (value == openDashboardAtLaunch())
        return;
    m_settings->setOpenDashboardAtLaunch(value);
    emit changed();
}

bool PreferencesController::playNotificationSounds() const
{
    return m_settings->playNotificationSounds();
}

void PreferencesController::setPlayNotificationSounds(bool value)
{
    if (value == playNotificationSounds())
        return;
    m_settings->setPlayNotificationSounds(value);
    emit changed();
}

void PreferencesController::setLaunchAtLogin(bool value)
{
    if (value == m_launchAtLogin)
        return;
    // The toggle keeps the asked-for value even when the entry cannot be changed.
    m_launchAtLogin = value;
    emit launchAtLoginChanged();
    try {
        m_autostart.setEnabled(value);
    } catch (const std::exception& error) {
        setResourceMessage(QString::fromStdString(error.what()), true);
    }
}

double PreferencesController::dailyBudgetThreshold() const
{
    return m_settings->storedDailyBudgetThreshold().value_or(core::Settings::dailyBudgetFieldDefault);
}

QString PreferencesController::dailyBudgetText() const
{
    return QLocale().toString(dailyBudgetThreshold(), 'g', QLocale::FloatingPointShortest);
}

bool PreferencesController::setDailyBudgetText(const QString& text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return false;
    if (m_settings->storedDailyBudgetThreshold() != value) {
        m_settings->setDailyBudgetThreshold(value);
        emit changed();
    }
    return true;
}

void PreferencesController::setPricingJSON(const QString& text)
{
    if (text == m_pricingJSON)
        return;
    m_pricingJSON = text;
    emit editorsChanged();
}

void PreferencesController::setHandoffTemplate(const QString& text)
{
    if (text == m_handoffTemplate)
        return;
    m_handoffTemplate = text;
    emit editorsChanged();
}

QString PreferencesController::supportUrl() const
{
    return QStringLiteral("https://www.fsf.org/about/ways-to-donate/");
}

void PreferencesController::reload()
{
    const bool enabled = m_autostart.isEnabled();
    if (enabled != m_launchAtLogin) {
        m_launchAtLogin = enabled;
        emit launchAtLoginChanged();
    }
    emit changed();
    m_messageAwaitsToolsTab = false;
    loadEditors();
}

void PreferencesController::loadEditors()
{
    if (m_messageAwaitsToolsTab)
        m_messageAwaitsToolsTab = false;
    else if (!m_resourceMessage.isEmpty())
        setResourceMessage(QString());
    const core::EditableResources::EditorTexts texts = m_resources->loadEditors();
    if (texts.pricingJSON)
        m_pricingJSON = QString::fromStdString(*texts.pricingJSON);
    if (texts.handoffTemplate)
        m_handoffTemplate = QString::fromStdString(*texts.handoffTemplate);
    emit editorsChanged();
}

void PreferencesController::save()
{
    setResourceMessage(QString::fromStdString(m_resources->save(m_pricingJSON, m_handoffTemplate, *m_store)));
}

void PreferencesController::resetDefaults()
{
    const core::EditableResources::ResetOutcome outcome = m_resources->resetDefaults(*m_store);
    if (outcome.message) {
        setResourceMessage(QString::fromStdString(*outcome.message));
        return;
    }
    if (outcome.editors.pricingJSON)
        m_pricingJSON = QString::fromStdString(*outcome.editors.pricingJSON);
    if (outcome.editors.handoffTemplate)
        m_handoffTemplate = QString::fromStdString(*outcome.editors.handoffTemplate);
    emit editorsChanged();
}

void PreferencesController::setResourceMessage(const QString& message, bool fromLoginItem)
{
    // Emitted even for an equal text, so a repeated failure is seen again.
    m_resourceMessage = message;
    m_messageAwaitsToolsTab = fromLoginItem;
    emit resourceMessageChanged();
}

} // namespace loomwatch::ui
