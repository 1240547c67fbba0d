#include "pricing/pricingservice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using loomwatch::model::AgentTool;
using loomwatch::model::Decimal;
using loomwatch::model::TokenUsage;
using loomwatch::pricing::ModelPrice;
using loomwatch::pricing::PricingDecodeError;
using loomwatch::pricing::PricingService;
using loomwatch::pricing::PricingTable;

namespace {

Decimal dec(const char* text)
{
    return *Decimal::fromString(text);
}

ModelPrice price(std::string provider, std::string model, std::vector<std::string> aliases, const char* input,
                 const char* output = "0", const char* cacheRead = "0", const char* cacheWrite = "0")
{
    return ModelPrice{std::move(provider), std::move(model), std::move(aliases), dec(input),
                      dec(output),         dec(cacheRead),   dec(cacheWrite)};
}

PricingService service(std::vector<ModelPrice> models)
{
    return PricingService(PricingTable{1, "2026-01-01", "USD", std::move(models), "test"});
}

std::string cost(const PricingService& s, AgentTool tool, std::optional<std::string> model, TokenUsage tokens)
{
    const auto c = s.estimateCost(tool, model, tokens);
    return c ? c->toString() : "none";
}

std::string readData(const std::string& name)
{
    std::ifstream in(std::filesystem::path(std::getenv("LOOMWATCH_TEST_DATA")) / "pricing" / name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

TEST(EstimateCost, IsExactDecimalArithmetic)
{
    const auto s = service({price("claude", "claude-sonnet-4-5", {}, "3", "15", "0.30", "3.75")});
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-sonnet-4-5", {1, 0, 0, 0}), "0.000003");
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-sonnet-4-5", {1000000, 0, 0, 0}), "3");
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-sonnet-4-5", {0, 0, 0, 0}), "0");
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-sonnet-4-5", {1234, 567, 89012, 3456}), "0.0518706");
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-sonnet-4-5", {0, 0, 0, 9223372036854775807}),
              "34587645138205.40927625");
}

TEST(EstimateCost, NoModelOrNoMatchGivesNone)
{
    const auto s = service({price("claude", "claude-sonnet-4-5", {"sonnet"}, "3")});
    EXPECT_EQ(cost(s, AgentTool::claude, std::nullopt, {1, 1, 1, 1}), "none");
    EXPECT_EQ(cost(s, AgentTool::claude, "gpt-5", {1, 1, 1, 1}), "none");
    EXPECT_EQ(cost(s, AgentTool::codex, "claude-sonnet-4-5", {1, 1, 1, 1}), "none");
    EXPECT_EQ(cost(PricingService(), AgentTool::claude, "claude-sonnet-4-5", {1, 1, 1, 1}), "none");
}

TEST(EstimateCost, CaseRules)
{
    const auto s = service({
        price("Claude", "claude-opus-4", {}, "15"),
        price("OpenCode", "x", {"sonnet"}, "3"),
        price("opencode", "y", {"Haiku"}, "1"),
        price("anthropic", "claude-haiku-4-5", {"haiku"}, "1"),
    });
    EXPECT_EQ(cost(s, AgentTool::claude, "Claude-Opus-4", {1000000, 0, 0, 0}), "15");
    EXPECT_EQ(cost(s, AgentTool::openCode, "Claude-SONNET-4-5", {1000000, 0, 0, 0}), "3");
    // Aliases are taken as written against the lower-cased name: "Haiku" matches nothing.
    EXPECT_EQ(cost(s, AgentTool::openCode, "claude-haiku-4-5", {1000000, 0, 0, 0}), "none");
    // A vendor name is not a tool.
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-haiku-4-5", {1000000, 0, 0, 0}), "none");
    // Unicode lower-casing of the session's model name.
    const auto u = service({price("codex", "straße-ä", {}, "2")});
    EXPECT_EQ(cost(u, AgentTool::codex, "STRASSE-Ä", {1000000, 0, 0, 0}), "none");
    EXPECT_EQ(cost(u, AgentTool::codex, "Straße-Ä", {1000000, 0, 0, 0}), "2");
}

TEST(EstimateCost, ASessionCostsTheSumOfItsModels)
{
    const auto s = service({price("claude", "claude-sonnet-4-5", {"sonnet"}, "3", "15"),
                            price("claude", "claude-haiku-4-5", {}, "1", "5")});
    loomwatch::model::AgentSession session;
    session.model = "claude-opus-4-5"; // the last model; it has no price
    session.tokens = {1000005, 1000005, 5, 5};
    session.modelTokens = {{"claude-haiku-4-5", {1000000, 0, 0, 0}},
                           {"claude-opus-4-5", {5, 5, 5, 5}},
                           {"claude-sonnet-4-5-20250929", {0, 1000000, 0, 0}}};
    EXPECT_EQ(s.estimateCost(session)->toString(), "16");
    // Only models without a price (or without tokens) have tokens: no estimate.
    session.modelTokens = {{"claude-opus-4-5", {5, 5, 5, 5}}, {"claude-haiku-4-5", {}}};
    EXPECT_FALSE(s.estimateCost(session));
    // A source that knows one model for the whole session: its model and tokens.
    session.modelTokens.clear();
    session.model = "claude-haiku-4-5";
    EXPECT_EQ(s.estimateCost(session)->toString(), "6.00003");
}

TEST(EstimateCost, FirstMatchingEntryWins)
{
    const auto s = service({price("claude", "a", {"opus"}, "1"), price("claude", "claude-opus-4", {}, "15")});
    EXPECT_EQ(cost(s, AgentTool::claude, "claude-opus-4", {1000000, 0, 0, 0}), "1");
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

TEST(PricingDecode, FailuresNameTheProblem)
{
    std::istringstream cases(readData("decode-errors.txt"));
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (const auto tab = line.find('\t'); tab != std::string::npos && ++count) {
            EXPECT_TRUE(decodeError(line.substr(tab + 1)).starts_with(line.substr(0, tab))) << line;
        }
    }
    EXPECT_EQ(count, 15);
}

TEST(PricingDecode, FromJsonFallsBackSilently)
{
    const PricingService s = PricingService::fromJson(R"({"version":1})");
    EXPECT_EQ(s.table().version, 0);
    EXPECT_EQ(s.table().effectiveDate, "unknown");
    EXPECT_EQ(s.table().currency, "USD");
    EXPECT_TRUE(s.table().models.empty());
    EXPECT_EQ(s.table().notice, "Pricing unavailable.");
}

TEST(ShippedPricingTable, PricesRealModelIdsWithTheIntendedEntry)
{
    const PricingService s(PricingService::decode(readData("../../../resources/ModelPricing.json")));
    EXPECT_EQ(s.table().version, 1);
    std::istringstream cases(readData("shipped-prices.txt"));
    std::string tool, model, expected;
    TokenUsage t;
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        if (std::istringstream(line) >> tool >> model >> t.input >> t.output >> t.cacheRead >> t.cacheWrite >>
                expected &&
            ++count) {
            EXPECT_EQ(cost(s, *loomwatch::model::agentToolFromRaw(tool), model, t), expected) << line;
        }
    }
    EXPECT_EQ(count, 21);
}
