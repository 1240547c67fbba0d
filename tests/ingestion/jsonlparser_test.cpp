#include "ingestion/jsonlparser.h"

#include "model/clock.h"
#include "model/timestamps.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>

using loomwatch::ingestion::JSONLParser;
using namespace loomwatch::model;
using namespace loomwatch::testing;

namespace {

Timestamp at(std::string_view iso)
{
    return parseIso8601Timestamp(iso).value();
}

ParsedSession parseLines(std::string_view lines)
{
    ParsedSession initial;
    initial.id = "file-stem";
    initial.startedAt = initial.lastActivityAt = at("2026-02-15T00:00:00Z");
    return JSONLParser(AgentTool::codex).parseTail(lines, false, initial);
}

// The cases of tests/data/transcripts/line-rules.txt (the file says how they are written).
struct LineCase
{
    std::string name;
    std::string lines;
    std::vector<std::pair<std::string, std::string>> facts;
};

std::vector<LineCase> lineCases()
{
    const char* data = std::getenv("LOOMWATCH_TEST_DATA");
    if (data == nullptr)
        throw std::runtime_error("LOOMWATCH_TEST_DATA is not set");
    std::istringstream in(readFile(fs::path(data) / "transcripts/line-rules.txt"));
    std::vector<LineCase> cases;
    bool inFacts = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("=== ")) {
            cases.push_back({line.substr(4), {}, {}});
            inFacts = false;
        } else if (!cases.empty() && line == "---") {
            inFacts = true;
        } else if (!cases.empty() && inFacts && !line.empty()) {
            const auto space = line.find(' ');
            cases.back().facts.emplace_back(line.substr(0, space),
                                            space == std::string::npos ? "" : line.substr(space + 1));
        } else if (!cases.empty() && !inFacts) {
            cases.back().lines += line + "\n";
        }
    }
    return cases;
}

std::string fact(const ParsedSession& session, std::string_view name)
{
    const auto text = [](const std::optional<std::string>& value) {
        return value.value_or("-");
    };
    const std::pair<std::string_view, std::string> facts[] = {
        {"id", session.id},
        {"projectPath", text(session.projectPath)},
        {"branch", text(session.branch)},
        {"model", text(session.model)},
        {"startedAt", formatIso8601Millis(session.startedAt)},
        {"lastActivityAt", formatIso8601Millis(session.lastActivityAt)},
        {"state", session.explicitState ? std::string(rawValue(*session.explicitState)) : "-"},
        {"snippet", text(session.safeSnippet)},
    };
    for (const auto& [factName, value] : facts) {
        if (factName == name)
            return value;
    }
    throw std::invalid_argument("no such fact: " + std::string(name));
}

} // namespace

TEST(JSONLParserTest, LineRules)
{
    const auto cases = lineCases();
    ASSERT_GT(cases.size(), 20u);
    for (const auto& c : cases) {
        const auto session = parseLines(c.lines);
        for (const auto& [name, value] : c.facts)
            EXPECT_EQ(fact(session, name), value) << c.name << "\n" << c.lines;
    }
}

TEST(JSONLParserTest, WideObjectsAreSearchedInLinearTime)
{
    // A hundred thousand nested objects in one line used to take minutes: each looked for a later duplicate of
    // its key among all the members after it.
    std::string wide = "{";
    for (int i = 0; i < 100'000; ++i)
        wide += "\"k" + std::to_string(i) + "\":{},";
    wide += R"("k7":"hides its object","attachment":{"type":"note","text":"found"}})";
    EXPECT_EQ(parseLines(wide).safeSnippet, "found");
}

TEST(JSONLParserTest, LinesWithBytesThatAreNoTextAreSkipped)
{
    const auto session = parseLines("{\"sessionId\":\"good\"}\n" + std::string("\x00\x01\xFF\xFE garbage\n", 14) +
                                    "{\"sessionId\":\"bad-utf8-\xC3\x28\"}\n");
    EXPECT_EQ(session.id, "good");
}

TEST(JSONLParserTest, TailIsCutAtTheLimitAndLosesOnlyThePartialFirstLine)
{
    TempDir dir;
    const std::string lastLine = "{\"message\":{\"role\":\"assistant\"}}\n";
    const auto build = [&](std::size_t total) {
        std::string first = "{\"sessionId\":\"head\",\"pad\":\"";
        first += std::string(total - first.size() - 3 - lastLine.size(), 'x');
        return first + "\"}\n" + lastLine;
    };
    const JSONLParser parser(AgentTool::claude);

    const auto exact = dir / "exact.jsonl";
    writeFile(exact, build(JSONLParser::tailLimit));
    ASSERT_EQ(std::filesystem::file_size(exact), JSONLParser::tailLimit);
    EXPECT_EQ(parser.parse({exact, AgentTool::claude}).id, "head");

    const auto longer = dir / "longer.jsonl";
    writeFile(longer, build(JSONLParser::tailLimit + 1));
    const auto cut = parser.parse({longer, AgentTool::claude});
    EXPECT_EQ(cut.id, "longer");
    EXPECT_EQ(cut.explicitState, SessionState::waitingForInput);

    // One line longer than the limit: the tail holds no line feed before its end, so nothing is dropped,
    // and what is left is not valid JSON.
    const auto huge = dir / "huge.jsonl";
    writeFile(huge, "{\"sessionId\":\"huge\",\"pad\":\"" + std::string(JSONLParser::tailLimit, 'y') + "\"}");
    EXPECT_EQ(parser.parse({huge, AgentTool::claude}).id, "huge");

    // Without a line feed in the tail nothing is dropped (parseTail shows what is kept).
    EXPECT_EQ(parser.parseTail(R"({"sessionId":"kept"})", true, {}).id, "kept");
    EXPECT_EQ(parser.parseTail("ial\"}\n{\"sessionId\":\"next\"}", true, {}).id, "next");
}

TEST(JSONLParserTest, FileRecordAndFailures)
{
    TempDir dir;
    const JSONLParser parser(AgentTool::codex);

    const auto empty = dir / "rollout-2026-12-06T09-00-00-abc.jsonl";
    writeFile(empty, "");
    setModificationTime(empty, at("2026-12-01T08:00:00.250Z"));
    ParsedSession expected;
    expected.id = "rollout-2026-12-06T09-00-00-abc";
    expected.tool = AgentTool::codex;
    expected.startedAt = expected.lastActivityAt = at("2026-12-01T08:00:00.250Z");
    expected.sourcePath = empty.string();
    EXPECT_EQ(parser.parse({empty, AgentTool::codex}), expected);

    try {
        parser.parse({dir / "missing.jsonl", AgentTool::codex});
        ADD_FAILURE() << "a missing file must fail";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("missing.jsonl"), std::string::npos);
    }
    std::filesystem::create_directory(dir.path() / "folder.jsonl");
    EXPECT_THROW(parser.parse({dir / "folder.jsonl", AgentTool::codex}), std::system_error);

    // A FIFO must neither block the open nor be read.
    const auto fifo = dir / "pipe.jsonl";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_THROW(parser.parse({fifo, AgentTool::codex}), std::system_error);
}
