#include "core/settings.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace loomwatch;
using namespace loomwatch::testing;

static QString qpath(const fs::path& path)
{
    return QString::fromStdString(path);
}

TEST(Settings, NothingIsWrittenUntilSetAndWhatIsSetReadsBackInAFreshInstance)
{
    TempDir dir;
    const QString path = qpath(dir / "Loomwatch.conf");
    {
        core::Settings settings(path);
        EXPECT_EQ(settings.storedDailyBudgetThreshold(), std::nullopt);
        settings.sync();
    }
    EXPECT_FALSE(fs::exists(dir / "Loomwatch.conf"));
    {
        core::Settings settings(path);
        settings.setShowDockIcon(false);
        settings.setPlayNotificationSounds(false);
        settings.setDidCompleteOnboarding(true);
        settings.setDailyBudgetThreshold(12.5);
        settings.sync();
    }
    core::Settings settings(path);
    EXPECT_FALSE(settings.showDockIcon() || settings.playNotificationSounds());
    EXPECT_TRUE(settings.openDashboardAtLaunch() && settings.didCompleteOnboarding());
    EXPECT_EQ(settings.dailyBudget().toString(), "12.5");
}

// Each file in its own name: QSettings caches a file whose size and modification second did not change.
TEST(Settings, ValuesOfTheWrongTypeAndDamagedOrUnreadableFilesReadAsDefaults)
{
    TempDir dir;
    writeFile(dir / "typed.conf", "[General]\nplayNotificationSounds=loud\ndidCompleteOnboarding=1\n"
                                  "dailyBudgetThreshold=twenty\nshowDockIcon=false\n");
    writeFile(dir / "nan.conf", "[General]\ndailyBudgetThreshold=nan\n");
    writeFile(dir / "binary.conf", std::string("\0\xff\xfe[=\n\x01playNotificationSounds=false", 34));
    fs::create_directory(dir / "directory.conf");
    for (const char* name : {"typed.conf", "nan.conf", "binary.conf", "directory.conf"}) {
        core::Settings settings(qpath(dir / name));
        EXPECT_TRUE(settings.playNotificationSounds() && settings.openDashboardAtLaunch()) << name;
        EXPECT_FALSE(settings.didCompleteOnboarding()) << name;
        EXPECT_TRUE(settings.dailyBudget().isZero()) << name;
    }
    EXPECT_FALSE(core::Settings(qpath(dir / "typed.conf")).showDockIcon()) << "the one value of the right type";
}
