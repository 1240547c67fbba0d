#include "ui/updater.h"

#include "ui/presentation.h"

#include <QFile>
#include <QJsonDocument>
#include <QSettings>

namespace loomwatch::ui {

namespace {
const QString automaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
}

Updater::Updater(const QJsonObject& applicationInfo, QString settingsFile, QObject* parent)
    : QObject(parent), m_signingConfigured(isUpdateSigningConfigured(applicationInfo)), m_started(m_signingConfigured),
      m_settingsFile(std::move(settingsFile))
{}

QJsonObject Updater::bundledApplicationInfo()
{
    QFile file(QStringLiteral(":/loomwatch/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool Updater::automaticallyChecksForUpdates() const
{
    if (m_settingsFile.isEmpty())
        return true;
    return QSettings(m_settingsFile, QSettings::IniFormat).value(automaticChecksKey, true).toBool();
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (m_settingsFile.isEmpty() || !m_signingConfigured || enabled == automaticallyChecksForUpdates())
        return;
    QSettings(m_settingsFile, QSettings::IniFormat).setValue(automaticChecksKey, enabled);
    emit automaticallyChecksForUpdatesChanged();
}

void Updater::checkForUpdates()
{
    if (m_started)
        emit checkRequested();
}

} // namespace loomwatch::ui
