// The autostart entry of a program whose path holds the characters an Exec value treats specially.
#include "ui/autostartentry.h"

#include "support/qtapp.h"
#include "support/tempdir.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace loomwatch::testing;

TEST(AutostartEntry, DesktopStartsExactlyTheProgramOfAHostilePath)
{
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (gio.isEmpty() || validator.isEmpty())
        GTEST_SKIP() << "gio or desktop-file-validate is not installed";
    // GLib looks for the program before it expands "%%", so this path has no '%'.
    const TempDir dir;
    const fs::path program = dir / "we\"ird $HOME `id` \\back\ttab" / "loomwatch";
    const fs::path marker = dir / "started";
    writeFile(program, "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.string() + ".part' && mv '" + marker.string() +
                           ".part' '" + marker.string() + "'\n");
    fs::permissions(program, fs::perms(0755));
    const loomwatch::ui::AutostartEntry entry(QString::fromStdString(dir / "autostart"),
                                              QString::fromStdString(program.string()));
    entry.setEnabled(true);
    ASSERT_TRUE(entry.isEnabled());

    for (const QStringList& command : {QStringList{validator, entry.filePath()}, {gio, "launch", entry.filePath()}}) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(command[0], command.mid(1));
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    }
    EXPECT_TRUE(processEventsUntil([&] { return fs::exists(marker); }, 10000));
    EXPECT_EQ(readFile(marker), program.string());
}
