#include "core/appstore.h"
#include "core/editableresources.h"
#include "core/settings.h"

#include "support/fakeclock.h"
#include "support/qtapp.h"
#include "support/sessionfactory.h"
#include "support/tempdir.h"
#include "support/testpricing.h"

#include <gtest/gtest.h>

using namespace loomwatch;
using namespace loomwatch::testing;

class EditableResourcesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApplication();
        fs::create_directory(dir / "defaults");
        std::ofstream(dir / "defaults/ModelPricing.json") << pricingJson(7);
        std::ofstream(dir / "defaults/HandoffTemplate.md") << "# Handoff\n{{objective}}\n";
        core::AppStore::Dependencies deps;
        deps.settings = std::make_shared<core::Settings>(QString::fromStdString(dir / "Loomwatch.conf"));
        deps.pricing = pricing::PricingService();
        store = std::make_unique<core::AppStore>(std::move(deps));
        auto s = makeSession(model::AgentTool::claude, "a", localTime(2026, 12, 6, 12));
        s.tokens = {1000000, 0, 0, 0};
        store->apply({s});
    }

    TempDir dir;
    core::EditableResources resources{dir / "data/Loomwatch", dir / "defaults"};
    std::unique_ptr<core::AppStore> store;
    std::string pricingFile = dir / "data/Loomwatch/ModelPricing.json";
    std::string templateFile = dir / "data/Loomwatch/HandoffTemplate.md";
};

TEST_F(EditableResourcesTest, EachCopyIsMadeOnFirstUseAndHandEditsAreReadAsTheyAre)
{
    EXPECT_FALSE(fs::exists(resources.resourceDirectory()));
    EXPECT_EQ(resources.loadPricing().table().version, 7);
    EXPECT_TRUE(fs::exists(pricingFile));
    EXPECT_FALSE(fs::exists(templateFile));
    EXPECT_EQ(resources.handoffTemplateText(), "# Handoff\n{{objective}}\n");
    EXPECT_TRUE(fs::exists(templateFile));

    std::ofstream(pricingFile) << pricingJson(42);
    std::ofstream(templateFile) << "mine";
    EXPECT_EQ(resources.loadPricing().table().version, 42);
    EXPECT_EQ(resources.loadEditors().handoffTemplate, "mine");

    std::ofstream(pricingFile) << "{ broken";
    EXPECT_EQ(resources.loadPricing().table().models.size(), 0u); // the fallback, and the file kept
    EXPECT_EQ(readFile(pricingFile), "{ broken");
    std::ofstream(templateFile) << "caf\xc3";
    EXPECT_EQ(resources.handoffTemplateText(), std::nullopt);
    EXPECT_EQ(resources.loadEditors().handoffTemplate, "");
}

TEST_F(EditableResourcesTest, InvalidPricingIsRefusedAndNoFileChanges)
{
    resources.loadEditors();
    const std::string pricingBefore = readFile(pricingFile);
    const std::string templateBefore = readFile(templateFile);
    const auto replaced = [](const std::string& from, const std::string& to) {
        std::string json = pricingJson();
        return json.replace(json.find(from), from.size(), to);
    };
    for (const std::string& bad : {std::string("not json"), replaced("\"notice\"", "\"remark\""),
                                   replaced("\"inputPerMillion\": 3", "\"inputPerMillion\": \"3\"")}) {
        const std::string message = resources.save(bad, "new template", *store);
        EXPECT_TRUE(message.starts_with("Could not save: ")) << message;
        EXPECT_GT(message.size(), std::string("Could not save: ").size());
    }
    EXPECT_EQ(resources.save(std::string("{\"version\": \xff}"), "t", *store),
              "Could not save: Pricing JSON is not valid UTF-8.");
    EXPECT_EQ(resources.save(QString(QChar(0xD800)), QStringLiteral("t"), *store),
              "Could not save: Pricing JSON is not valid UTF-8.");
    EXPECT_EQ(readFile(pricingFile), pricingBefore);
    EXPECT_EQ(readFile(templateFile), templateBefore);
    EXPECT_FALSE(store->sessions()[0].estimatedCost);
}

TEST_F(EditableResourcesTest, SaveWritesBothFilesAndRepricesAndResetRestoresTheDefaults)
{
    EXPECT_EQ(resources.save(pricingJson(9), "my template", *store), "Saved locally.");
    EXPECT_EQ(readFile(pricingFile), pricingJson(9));
    EXPECT_EQ(readFile(templateFile), "my template");
    EXPECT_EQ(store->pricing().table().version, 9);
    ASSERT_TRUE(store->sessions()[0].estimatedCost);
    EXPECT_EQ(store->sessions()[0].estimatedCost->toString(), "3");

    // Also when a copy is missing.
    fs::remove(templateFile);
    const auto outcome = resources.resetDefaults(*store);
    EXPECT_EQ(outcome.message, std::nullopt);
    EXPECT_EQ(readFile(pricingFile), pricingJson(7));
    EXPECT_EQ(outcome.editors.handoffTemplate, "# Handoff\n{{objective}}\n");
    EXPECT_EQ(outcome.editors.pricingJSON, pricingJson(7));
    EXPECT_EQ(store->pricing().table().version, 7);
}

TEST_F(EditableResourcesTest, FolderThatCannotBeCreatedGivesNoCopyAndPricingFallsBack)
{
    std::ofstream(dir / "blocker") << "a file where the folder should be";
    core::EditableResources blocked(dir / "blocker/Loomwatch", dir / "defaults");
    EXPECT_EQ(blocked.resourceURL("ModelPricing", "json"), std::nullopt);
    EXPECT_EQ(blocked.loadPricing().table().version, 7); // straight from the shipped default
    EXPECT_EQ(blocked.loadEditors().pricingJSON, std::nullopt);
    EXPECT_TRUE(blocked.save(pricingJson(), "t", *store).starts_with("Could not save: "));

    core::EditableResources nothing(dir / "blocker/Loomwatch", dir / "no-defaults");
    EXPECT_TRUE(nothing.loadPricing().table().models.empty());
}
