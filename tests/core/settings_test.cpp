#include "core/settings.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace loomwatch;
using namespace loomwatch::testing;

namespace {

QString qpath(const fs::path& path)
{
    return QString::fromStdString(path);
}

TEST(Settings, AbsentKeysReadAsDefaultsAndNothingIsWrittenUntilSet)
{
    TempDir dir;
    const std::string path = dir / "Loomwatch.conf";
    {
        core::Settings settings(qpath(path));
        EXPECT_TRUE(settings.showDockIcon() && settings.openDashboardAtLaunch() && settings.playNotificationSounds());
        EXPECT_FALSE(settings.didCompleteOnboarding());
        EXPECT_EQ(settings.storedDailyBudgetThreshold(), std::nullopt);
        EXPECT_TRUE(settings.dailyBudget().isZero());
        settings.sync();
    }
    EXPECT_FALSE(fs::exists(path));

    // Written values read back in a fresh instance.
    {
        core::Settings settings(qpath(path));
        settings.setShowDockIcon(false);
        settings.setPlayNotificationSounds(false);
        settings.setDidCompleteOnboarding(true);
        settings.setDailyBudgetThreshold(12.5);
        settings.sync();
    }
    core::Settings settings(qpath(path));
    EXPECT_FALSE(settings.showDockIcon());
    EXPECT_TRUE(settings.openDashboardAtLaunch());
    EXPECT_FALSE(settings.playNotificationSounds());
    EXPECT_TRUE(settings.didCompleteOnboarding());
    EXPECT_EQ(settings.dailyBudget().toString(), "12.5");
    EXPECT_TRUE(settings.contains(core::Settings::dailyBudgetThresholdKey));
}

TEST(Settings, ValuesOfTheWrongTypeReadAsDefaults)
{
    TempDir dir;
    const std::string path = dir / "Loomwatch.conf";
    std::ofstream(path) << "[General]\nplayNotificationSounds=loud\ndidCompleteOnboarding=1\n"
                           "dailyBudgetThreshold=twenty\nshowDockIcon=false\n";
    core::Settings settings(qpath(path));
    EXPECT_TRUE(settings.playNotificationSounds());
    EXPECT_FALSE(settings.didCompleteOnboarding());
    EXPECT_EQ(settings.dailyBudgetThreshold(), 0.0);
    EXPECT_FALSE(settings.showDockIcon());

    std::ofstream(path) << "[General]\ndailyBudgetThreshold=nan\n";
    EXPECT_TRUE(core::Settings(qpath(path)).dailyBudget().isZero());
    // Another file: QSettings caches a file whose size and modification second did not change.
    const std::string other = dir / "Other.conf";
    std::ofstream(other) << "[General]\ndailyBudgetThreshold=0.1\n";
    EXPECT_EQ(core::Settings(qpath(other)).dailyBudget().toString(), "0.1");
}

TEST(Settings, DamagedOrUnreadableFileReadsAsDefaults)
{
    TempDir dir;
    const std::string binary = dir / "binary.conf";
    std::ofstream(binary, std::ios::binary) << std::string("\0\xff\xfe[=\n\x01playNotificationSounds=false", 34);
    core::Settings damaged(qpath(binary));
    EXPECT_TRUE(damaged.openDashboardAtLaunch());

    fs::create_directory(dir / "directory.conf");
    core::Settings directory(qpath(dir / "directory.conf"));
    EXPECT_TRUE(directory.playNotificationSounds());
    EXPECT_EQ(directory.dailyBudgetThreshold(), 0.0);
}

} // namespace
