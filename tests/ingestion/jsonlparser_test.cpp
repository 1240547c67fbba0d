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

TEST(JSONLParserTest, WideObjectsInLinearTimeAndBytesThatAreNoText)
{
    // A hundred thousand nested objects in one line used to take minutes: each looked for a later duplicate of
    // its key among all the members after it.
    std::string wide = "{";
    for (int i = 0; i < 100'000; ++i)
        wide += "\"k" + std::to_string(i) + "\":{},";
    wide += R"("k7":"hides its object","attachment":{"type":"note","text":"found"}})";
    EXPECT_EQ(parseLines(wide).safeSnippet, "found");
    EXPECT_EQ(parseLines("{\"sessionId\":\"good\"}\n" + std::string("\x00\x01\xFF\xFE garbage\n", 14) +
                         "{\"sessionId\":\"bad-utf8-\xC3\x28\"}\n")
                  .id,
              "good");
}

TEST(JSONLParserTest, TailIsCutAtTheLimitAndLosesOnlyThePartialFirstLine)
{
    TempDir dir;
    const JSONLParser parser(AgentTool::claude);
    const auto parse = [&](const std::string& name, std::size_t size, const std::string& last = "") {
        std::string first = "{\"sessionId\":\"head\",\"pad\":\"";
        first += std::string(size - first.size() - 3 - last.size(), 'x') + "\"}\n" + last;
        writeFile(dir / name, first);
        setModificationTime(dir / name, at("2026-12-01T08:00:00Z"));
        const auto parsed = parser.parse({dir / name, AgentTool::claude});
        // The same bytes already in memory (as a first count reads them) give the same record.
        JSONLParser::Workspace workspace;
        first.append(64, '\0');
        EXPECT_EQ(parser.parseContents({dir / name, AgentTool::claude}, std::string_view(first).substr(0, size),
                                       at("2026-12-01T08:00:00Z"), workspace),
                  parsed);
        return parsed;
    };
    EXPECT_EQ(parse("exact.jsonl", JSONLParser::tailLimit).id, "head");
    const std::string answer = "{\"message\":{\"role\":\"assistant\"}}\n";
    const auto cut = parse("longer.jsonl", JSONLParser::tailLimit + 1, answer);
    EXPECT_EQ(cut.id, "longer");
    EXPECT_EQ(cut.explicitState, SessionState::waitingForInput);
    // Without a line feed in the tail nothing is dropped.
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

    std::filesystem::create_directory(dir.path() / "folder.jsonl");
    // A FIFO must neither block the open nor be read.
    ASSERT_EQ(mkfifo((dir / "pipe.jsonl").c_str(), 0644), 0);
    for (const char* name : {"missing.jsonl", "folder.jsonl", "pipe.jsonl"})
        EXPECT_THROW(
            try {
                parser.parse({dir / name, AgentTool::codex});
            } catch (const std::system_error& error) {
                EXPECT_NE(std::string(error.what()).find(name), std::string::npos);
                throw;
            },
            std::system_error);
}
