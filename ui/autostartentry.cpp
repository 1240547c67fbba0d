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

namespace {

// The Exec value that starts `program` with no arguments. As an argument it goes in double quotes, inside which
// '"', '`', '$' and '\' take a backslash and '%' is doubled (a lone one would start a field code). The value is
// then escaped as every string value is: backslashes doubled, line breaks and tabs written \n, \r and \t.
QString execValue(const QString& program)
{
    QString argument = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            argument += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            argument += QLatin1Char('%');
        argument += c;
    }
    argument += QLatin1Char('"');
    QString value;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else
            value += c;
    }
    return value;
}

} // namespace

QString AutostartEntry::desktopEntryText() const
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Loomwatch\n"
                          "Comment=Keeps watch over the coding agents on this computer\n"
                          "Exec=") +
           execValue(m_executable) +
           QStringLiteral("\n"
                          "Icon=loomwatch\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
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
