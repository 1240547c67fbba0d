#include "ui/updater.h"

#include "core/notifier.h"
#include "ui/presentation.h"
#include "ui/updatechecker.h"
#include "ui/updatefeed.h"

#include <QFile>
#include <QJsonDocument>
#include <QSettings>

namespace loomwatch::ui {

namespace {
const QString automaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
const QString lastCheckKey = QStringLiteral("SULastCheckTime");
} // namespace

Updater::Updater(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)),
      m_signingConfigured(isUpdateSigningConfigured(m_options.applicationInfo)),
      m_checker(new UpdateChecker(m_options.timeoutMs, this))
{
    connect(m_checker, &UpdateChecker::finished, this, &Updater::onChecked);
    m_schedule.setInterval(std::chrono::hours(1));
    connect(&m_schedule, &QTimer::timeout, this, &Updater::checkIfDue);
}

Updater::~Updater() = default;

QJsonObject Updater::bundledApplicationInfo()
{
    QFile file(QStringLiteral(":/loomwatch/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool Updater::automaticallyChecksForUpdates() const
{
    if (m_options.settingsFile.isEmpty())
        return true;
    return QSettings(m_options.settingsFile, QSettings::IniFormat).value(automaticChecksKey, true).toBool();
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (m_options.settingsFile.isEmpty() || !m_signingConfigured || enabled == automaticallyChecksForUpdates())
        return;
    QSettings(m_options.settingsFile, QSettings::IniFormat).setValue(automaticChecksKey, enabled);
    emit automaticallyChecksForUpdatesChanged();
    checkIfDue();
}

bool Updater::isChecking() const
{
    return m_checker->isChecking();
}

void Updater::checkForUpdates()
{
    if (m_signingConfigured)
        check(false);
}

void Updater::startAutomaticChecks()
{
    if (!m_signingConfigured)
        return;
    m_schedule.start();
    checkIfDue();
}

void Updater::checkIfDue()
{
    if (!m_schedule.isActive() || !automaticallyChecksForUpdates() || m_options.settingsFile.isEmpty())
        return;
    const QDateTime last = QSettings(m_options.settingsFile, QSettings::IniFormat).value(lastCheckKey).toDateTime();
    if (!last.isValid() || last.secsTo(QDateTime::currentDateTimeUtc()) >= 24 * 60 * 60 ||
        last > QDateTime::currentDateTimeUtc())
        check(true);
}

void Updater::check(bool quiet)
{
    if (m_checker->isChecking()) {
        // A check the user asks for while a quiet one runs shows that one's outcome.
        m_quiet = m_quiet && quiet;
        return;
    }
    m_quiet = quiet;
    if (!m_options.settingsFile.isEmpty())
        QSettings(m_options.settingsFile, QSettings::IniFormat).setValue(lastCheckKey, QDateTime::currentDateTimeUtc());
    m_checker->check(QUrl(m_options.applicationInfo.value(QStringLiteral("SUFeedURL")).toString()));
    emit statusChanged();
}

void Updater::onChecked(const QByteArray& feed, const QByteArray& signature, const QString& error)
{
    std::optional<UpdateFeed> found;
    QString status = error;
    if (error.isEmpty()) {
        const QString key = m_options.applicationInfo.value(QStringLiteral("SUPublicEDKey")).toString();
        UpdateFeedReading reading = readUpdateFeed(feed, signature, key);
        found = std::move(reading.feed);
        status = found ? QStringLiteral("Loomwatch is up to date.") : reading.error;
    }
    const bool newer = found && compareVersions(found->version, m_options.currentVersion) > 0;
    if (newer)
        status = QStringLiteral("Loomwatch %1 is available.").arg(found->version);
    // A quiet check speaks only of a newer version. A failed check changes nothing but the line.
    if (!m_quiet || newer) {
        m_status = status;
        if (found) {
            m_newerVersion = newer ? found->version : QString();
            m_downloadPageUrl = newer ? found->downloadPageUrl : QUrl();
        }
    }
    emit statusChanged();
    if (m_quiet && newer && m_options.notifier) {
        m_options.notifier->post({"update:" + found->version.toStdString(), "Loomwatch update available",
                                  status.toStdString() + " Its download page is linked under Settings, Updates.",
                                  false},
                                 [](bool) {});
    }
}

} // namespace loomwatch::ui
