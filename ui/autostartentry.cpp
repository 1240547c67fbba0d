#include "ui/autostartentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>

namespace loomwatch::ui {

AutostartEntry::AutostartEntry(QString folder, QString executable)
    : m_folder(std::move(folder)), m_executable(std::move(executable))
{}

AutostartEntry AutostartEntry::forThisExecutable(const QString& configDirectory)
{
    return AutostartEntry(configDirectory + QStringLiteral("/autostart"), QCoreApplication::applicationFilePath());
}

QString AutostartEntry::filePath() const
{
    return m_folder + QStringLiteral("/loomwatch.desktop");
}

bool AutostartEntry::isEnabled() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A desktop entry is key=value lines under group headers; only [Desktop Entry] counts.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.startsWith(QLatin1String("Hidden")) &&
                 line.section(QLatin1Char('='), 0, 0).trimmed() == QLatin1String("Hidden"))
            return line.section(QLatin1Char('='), 1).trimmed() != QLatin1String("true");
    }
    return true;
}

QString AutostartEntry::desktopEntryText() const
{
    // Exec needs quoting when the path has spaces; '"', '`', '$' and '\' are escaped inside quotes.
    QString exec = m_executable;
    for (const QChar reserved : {QLatin1Char('\\'), QLatin1Char('"'), QLatin1Char('`'), QLatin1Char('$')})
        exec.replace(reserved, QStringLiteral("\\") + reserved);
    exec = QLatin1Char('"') + exec + QLatin1Char('"');
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Loomwatch\n"
                          "Comment=Keeps watch over the coding agents on this computer\n"
                          "Exec=%1\n"
                          "Icon=loomwatch\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec);
}

void AutostartEntry::setEnabled(bool enabled) const
{
    if (!enabled) {
        QFile file(filePath());
        if (file.exists() && !file.remove())
            throw AutostartError(
                QStringLiteral("Could not remove %1: %2").arg(filePath(), file.errorString()).toStdString());
        return;
    }
    if (!QDir().mkpath(m_folder))
        throw AutostartError(QStringLiteral("Could not create the folder %1.").arg(m_folder).toStdString());
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(desktopEntryText().toUtf8()) < 0 || !file.commit())
        throw AutostartError(
            QStringLiteral("Could not write %1: %2").arg(filePath(), file.errorString()).toStdString());
}

} // namespace loomwatch::ui
