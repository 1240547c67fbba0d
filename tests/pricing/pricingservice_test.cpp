#include "pricing/pricingservice.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sstream>

using loomwatch::model::AgentTool;
using loomwatch::model::TokenUsage;
using loomwatch::pricing::ModelPrice;
using loomwatch::pricing::PricingDecodeError;
using loomwatch::pricing::PricingService;
using loomwatch::pricing::PricingTable;
using loomwatch::testing::testData;

namespace {

// Checks each line "tool model input output cacheRead cacheWrite estimate" of the file; returns how many there were.
int checkPrices(const PricingService& s, const std::string& casesFile)
{
    std::istringstream cases(testData("pricing/" + casesFile));
    std::string tool, model, expected;
    TokenUsage t;
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (!(std::istringstream(line) >> tool >> model >> t.input >> t.output >> t.cacheRead >> t.cacheWrite >>
              expected))
            continue;
        ++count;
        const auto c = s.estimateCost(*loomwatch::model::agentToolFromRaw(tool),
                                      model == "-" ? std::nullopt : std::optional(model), t);
        EXPECT_EQ(c ? c->toString() : "none", expected) << line;
    }
    return count;
}

std::string decodeError(const std::string& json)
{
    try {
        PricingService::decode(json);
    } catch (const PricingDecodeError& e) {
        return e.what();
    }
    return "decoded";
}

} // namespace

TEST(EstimateCost, MatchesModelsByTheTablesRulesInExactDecimals)
{
    EXPECT_EQ(checkPrices(PricingService(PricingService::decode(testData("pricing/rules.json"))), "rules.txt"), 15);
    EXPECT_FALSE(PricingService().estimateCost(AgentTool::claude, "claude-sonnet-4-5", {1, 1, 1, 1}));
}

TEST(EstimateCost, ASessionCostsTheSumOfItsModels)
{
    const PricingService s(PricingService::decode(testData("pricing/rules.json")));
    loomwatch::model::AgentSession session;
    session.model = "claude-haiku-4-5"; // the last model; it has no price
    session.tokens = {1000005, 1000005, 5, 5};
    session.modelTokens = {{"claude-opus-4-1", {1000000, 0, 0, 0}},
                           {"claude-haiku-4-5", {5, 5, 5, 5}},
                           {"claude-sonnet-4-5-20250929", {0, 1000000, 0, 0}}};
    EXPECT_EQ(s.estimateCost(session)->toString(), "16");
    // Only models without a price (or without tokens) have tokens: no estimate.
    session.modelTokens = {{"claude-haiku-4-5", {5, 5, 5, 5}}, {"claude-opus-4-1", {}}};
    EXPECT_FALSE(s.estimateCost(session));
    // A source that knows one model for the whole session: its model and tokens.
    session.modelTokens.clear();
    session.model = "claude-opus-4-1";
    EXPECT_EQ(s.estimateCost(session)->toString(), "6.00003");
}

TEST(PricingDecode, ReadsEveryFieldAndKeepsNumberText)
{
    const PricingTable t = PricingService::decode(
        R"({"version": 7, "extra": {"nested": [1, 2]}, "effectiveDate": "2026-02-01", "currency": "USD",
            "notice": "first", "notice": "last",
            "models": [{"provider": "codex", "model": "gpt-5", "aliases": ["gpt-5", "g5"], "note": null,
                        "inputPerMillion": 1.25 , "outputPerMillion": 1e1, "cacheReadPerMillion": 0.125,
                        "cacheWritePerMillion": 0.1000000000000000000000000000000001}]})");
    EXPECT_EQ(t.version, 7);
    EXPECT_EQ(t.effectiveDate, "2026-02-01");
    EXPECT_EQ(t.notice, "last");
    ASSERT_EQ(t.models.size(), 1u);
    const ModelPrice& m = t.models[0];
    EXPECT_EQ(m.provider, "codex");
    EXPECT_EQ(m.aliases, (std::vector<std::string>{"gpt-5", "g5"}));
    EXPECT_EQ(m.inputPerMillion.toString(), "1.25");
    EXPECT_EQ(m.outputPerMillion.toString(), "10");
    EXPECT_EQ(m.cacheWritePerMillion.toString(), "0.1000000000000000000000000000000001");
}

TEST(PricingDecode, FailuresNameTheProblemAndFromJsonFallsBackSilently)
{
    std::istringstream cases(testData("pricing/decode-errors.txt"));
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (const auto tab = line.find('\t'); tab != std::string::npos && ++count) {
            EXPECT_TRUE(decodeError(line.substr(tab + 1)).starts_with(line.substr(0, tab))) << line;
        }
    }
    EXPECT_EQ(count, 15);

    const PricingTable fallback = PricingService::fromJson(R"({"version":1})").table();
    EXPECT_EQ(std::tie(fallback.version, fallback.effectiveDate, fallback.currency, fallback.notice),
              std::tuple(0, "unknown", "USD", "Pricing unavailable."));
    EXPECT_TRUE(fallback.models.empty());
}

TEST(ShippedPricingTable, PricesRealModelIdsWithTheIntendedEntry)
{
    const PricingService s(PricingService::decode(testData("pricing/../../../resources/ModelPricing.json")));
    EXPECT_EQ(s.table().version, 1);
    EXPECT_EQ(checkPrices(s, "shipped-prices.txt"), 21);
}
