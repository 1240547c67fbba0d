// The autostart entry of a program whose path holds the characters an Exec value treats specially.
#include "ui/autostartentry.h"

#include "support/tempdir.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

    for (const auto& [tool, arguments] : {std::pair{validator, QStringList{entry.filePath()}},
                                          {gio, QStringList{QStringLiteral("launch"), entry.filePath()}}}) {
        QProcess process;
        process.start(tool, arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().toStdString()
                                         << process.readAllStandardError().toStdString();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(readFile(marker), program.string());
}
