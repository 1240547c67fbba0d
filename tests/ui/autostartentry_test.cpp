// The autostart entry of a program whose path holds every character that an Exec value treats specially.
#include "ui/autostartentry.h"

#include "support/tempdir.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using loomwatch::testing::TempDir;
using loomwatch::testing::writeFile;
using loomwatch::ui::AutostartEntry;

namespace {

// The program a desktop starts for an Exec value that is one quoted argument: string escapes are undone first,
// then the argument's own escapes, then "%%".
QString programOf(const QString& execValue)
{
    QString unescaped;
    for (qsizetype i = 0; i < execValue.size(); ++i) {
        if (execValue[i] != QLatin1Char('\\') || i + 1 == execValue.size()) {
            unescaped += execValue[i];
            continue;
        }
        const QChar c = execValue[++i];
        unescaped += c == 's'   ? QChar(' ')
                     : c == 'n' ? QChar('\n')
                     : c == 't' ? QChar('\t')
                     : c == 'r' ? QChar('\r')
                                : c;
    }
    if (!unescaped.startsWith('"') || !unescaped.endsWith('"'))
        return {};
    QString program;
    for (qsizetype i = 1; i + 1 < unescaped.size(); ++i) {
        if (unescaped[i] == '\\' || (unescaped[i] == '%' && unescaped[i + 1] == '%'))
            ++i;
        program += unescaped[i];
    }
    return program;
}

QString execValueOf(const AutostartEntry& entry)
{
    for (const QString& line : entry.desktopEntryText().split('\n')) {
        if (line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return {};
}

} // namespace

TEST(AutostartEntry, HostileProgramPathIsQuotedAndEscapedForTheExecKey)
{
    const TempDir dir;
    const QString folder = QString::fromStdString((dir / "apps").string());
    const QString program = folder + "/we\"ird $HOME `id` 100%\\back\ttab/loomwatch";
    const AutostartEntry entry(QString::fromStdString((dir / "autostart").string()), program);
    EXPECT_EQ(execValueOf(entry),
              "\"" + folder + "/we\\\\\"ird \\\\$HOME \\\\`id\\\\` 100%%\\\\\\\\back\\ttab/loomwatch\"");
    EXPECT_EQ(programOf(execValueOf(entry)), program);

    entry.setEnabled(true);
    ASSERT_TRUE(entry.isEnabled());
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    QProcess validate;
    validate.start(validator, {entry.filePath()});
    ASSERT_TRUE(validate.waitForFinished(10000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
}

TEST(AutostartEntry, DesktopStartsExactlyTheProgramOfAHostilePath)
{
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        GTEST_SKIP() << "gio is not installed";
    // GLib looks for the program before it expands "%%", so this path has no '%'.
    const TempDir dir;
    const std::filesystem::path program = dir / "we\"ird $HOME `id` \\back" / "loomwatch";
    const std::filesystem::path marker = dir / "started";
    std::filesystem::create_directories(program.parent_path());
    writeFile(program, "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.string() + ".part' && mv '" + marker.string() +
                           ".part' '" + marker.string() + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms(0755));
    const AutostartEntry entry(QString::fromStdString((dir / "autostart").string()),
                               QString::fromStdString(program.string()));
    entry.setEnabled(true);

    QProcess launch;
    launch.start(gio, {QStringLiteral("launch"), entry.filePath()});
    ASSERT_TRUE(launch.waitForFinished(10000));
    ASSERT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    QFile started(QString::fromStdString(marker.string()));
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    EXPECT_EQ(started.readAll().toStdString(), program.string());
}
