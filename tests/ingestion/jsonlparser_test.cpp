#include "ingestion/jsonlparser.h"

#include "model/clock.h"
#include "model/timestamps.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

using loomwatch::ingestion::JSONLParser;
using loomwatch::model::AgentTool;
using loomwatch::model::ParsedSession;
using loomwatch::model::SessionState;
using loomwatch::model::Timestamp;
using loomwatch::model::TokenUsage;
using loomwatch::testing::setModificationTime;
using loomwatch::testing::TempDir;
using loomwatch::testing::writeFile;
using namespace std::chrono_literals;

namespace {

Timestamp at(std::string_view iso)
{
    auto parsed = loomwatch::model::parseIso8601Timestamp(iso);
    if (!parsed)
        throw std::invalid_argument(std::string(iso));
    return *parsed;
}

// The mtime stand-in: early enough that every timestamp in the tests counts as later activity.
const Timestamp fileTime = at("2026-01-01T00:00:00Z");

ParsedSession initialRecord()
{
    ParsedSession initial;
    initial.id = "file-stem";
    initial.startedAt = fileTime;
    initial.lastActivityAt = fileTime;
    return initial;
}

ParsedSession parseLines(std::string_view lines, AgentTool tool = AgentTool::claude)
{
    return JSONLParser(tool).parseTail(lines, false, initialRecord());
}

} // namespace

TEST(JSONLParserTest, LaterLinesOverrideTimesAreExtremesTokensAreMaxima)
{
    const auto session = parseLines(
        R"({"sessionId":"s1","cwd":"/a","gitBranch":"one","timestamp":"2026-03-01T10:00:00Z","message":{"model":"m1","usage":{"input_tokens":100,"output_tokens":5}}})"
        "\n"
        R"({"sessionId":"s2","cwd":"/b","gitBranch":"two","timestamp":"2026-02-01T10:00:00Z","message":{"model":"m2","usage":{"input_tokens":40,"output_tokens":7}}})"
        "\n"
        R"({"timestamp":"2026-03-05T10:00:00Z","message":{"usage":{"cache_read_input_tokens":9,"cache_creation_input_tokens":3}}})");
    EXPECT_EQ(session.id, "s2");
    EXPECT_EQ(session.projectPath, "/b");
    EXPECT_EQ(session.branch, "two");
    EXPECT_EQ(session.model, "m2");
    EXPECT_EQ(session.startedAt, fileTime); // the modification time is earlier than every line
    EXPECT_EQ(session.lastActivityAt, at("2026-03-05T10:00:00Z"));
    EXPECT_EQ(session.tokens, (TokenUsage{100, 7, 9, 3}));

    const auto later = JSONLParser(AgentTool::codex)
                           .parseTail(R"({"timestamp":"2026-03-01T10:00:00Z"})"
                                      "\n"
                                      R"({"timestamp":"2026-02-01T10:00:00Z"})",
                                      false, [] {
                                          auto initial = initialRecord();
                                          initial.startedAt = initial.lastActivityAt = at("2026-06-01T00:00:00Z");
                                          return initial;
                                      }());
    EXPECT_EQ(later.tool, AgentTool::codex);
    EXPECT_EQ(later.startedAt, at("2026-02-01T10:00:00Z"));
    EXPECT_EQ(later.lastActivityAt, at("2026-06-01T00:00:00Z"));
}

TEST(JSONLParserTest, ExplicitStateFromRolesAndErrorTypes)
{
    EXPECT_EQ(parseLines(R"({"message":{"role":"user"}})").explicitState, SessionState::working);
    EXPECT_EQ(parseLines("{\"message\":{\"role\":\"user\"}}\n{\"message\":{\"role\":\"assistant\"}}\n{\"x\":1}")
                  .explicitState,
              SessionState::waitingForInput);
    EXPECT_EQ(parseLines(R"({"role":"system"})").explicitState, std::nullopt);
    EXPECT_EQ(parseLines("").explicitState, std::nullopt);

    // An error anywhere wins over later roles.
    EXPECT_EQ(parseLines("{\"type\":\"error\"}\n{\"message\":{\"role\":\"assistant\"}}").explicitState,
              SessionState::errored);
    EXPECT_EQ(parseLines(R"({"payload":{"type":"turn_aborted","reason":"interrupted"}})").explicitState,
              SessionState::errored);
    EXPECT_EQ(parseLines(R"({"type":"Error"})").explicitState, std::nullopt);

    // Any top-level string "type" hides the payload's; a non-string one does not.
    EXPECT_EQ(parseLines(R"({"type":"event_msg","payload":{"type":"turn_aborted"}})").explicitState, std::nullopt);
    EXPECT_EQ(parseLines(R"({"type":7,"payload":{"type":"error"}})").explicitState, SessionState::errored);

    // The role is looked for in the payload first, then in the whole line.
    EXPECT_EQ(parseLines(R"({"payload":{"role":"assistant"},"message":{"role":"user"}})").explicitState,
              SessionState::waitingForInput);
    EXPECT_EQ(parseLines(R"({"payload":{"kind":"x"},"message":{"role":"user"}})").explicitState, SessionState::working);
}

TEST(JSONLParserTest, PayloadThatIsNotAnObjectLeavesTheLineAsBody)
{
    const auto session = parseLines(R"({"payload":"text","cwd":"/p","id":"line-id","model":"m","text":"hello"})"
                                    "\n"
                                    R"({"payload":[{"model":"inside-array"}],"usage":{"input_tokens":4}})");
    EXPECT_EQ(session.projectPath, "/p");
    EXPECT_EQ(session.id, "line-id");
    EXPECT_EQ(session.model, "m");
    EXPECT_EQ(session.safeSnippet, "hello");
    EXPECT_EQ(session.tokens.input, 4);
}

TEST(JSONLParserTest, NestedSearchFollowsDocumentOrderSkipsArraysAndLastDuplicateWins)
{
    // Cumulative totals come before the last turn's counts in Codex lines: the first one in document order counts.
    const auto codex = parseLines(
        R"({"type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":900,"cached_input_tokens":800},"last_token_usage":{"input_tokens":1000,"cached_input_tokens":10}}}})");
    EXPECT_EQ(codex.tokens.input, 900);
    EXPECT_EQ(codex.tokens.cacheRead, 800);

    // An object's own key is found before anything nested in an earlier sibling.
    EXPECT_EQ(parseLines(R"({"a":{"model":"nested"},"model":"direct"})").model, "direct");
    // "model" anywhere beats "model_name" at the same object; a non-string "model" does not stop the search.
    EXPECT_EQ(parseLines(R"({"model_name":"second","model":"first"})").model, "first");
    EXPECT_EQ(parseLines(R"({"model":{"id":1},"model_name":"named"})").model, "named");
    EXPECT_EQ(parseLines(R"({"model":{"model":"inner"}})").model, "inner");

    // Text in a list of content blocks is not found; text in a nested object is.
    EXPECT_EQ(parseLines(R"({"message":{"content":[{"type":"text","text":"in array"}]}})").safeSnippet, std::nullopt);
    EXPECT_EQ(parseLines(R"({"attachment":{"type":"note","text":"in object"}})").safeSnippet, "in object");

    // A duplicated key counts with its last value, both directly and for what is searched below it.
    const auto duplicated = parseLines(
        R"({"sessionId":"first","sessionId":"second","cwd":"/x","cwd":5,"message":{"model":"hidden"},"message":"plain","usage":{"input_tokens":7},"usage":{"output_tokens":3}})");
    EXPECT_EQ(duplicated.id, "second");
    EXPECT_EQ(duplicated.projectPath, std::nullopt);
    EXPECT_EQ(duplicated.model, std::nullopt);
    EXPECT_EQ(duplicated.tokens, (TokenUsage{0, 3, 0, 0}));
}

TEST(JSONLParserTest, WideObjectsAreSearchedInLinearTimeWithTheSameRules)
{
    // A hundred thousand nested objects in one line used to take minutes: each looked for a later duplicate of
    // its key among all the members after it.
    std::string wide = "{";
    for (int i = 0; i < 100'000; ++i)
        wide += "\"k" + std::to_string(i) + "\":{},";
    wide += R"("attachment":{"type":"note","text":"found"}})";
    EXPECT_EQ(parseLines(wide).safeSnippet, "found");

    // Past a few dozen members, duplicates and document order still decide as in a small object.
    std::string filler;
    for (int i = 0; i < 40; ++i)
        filler += "\"f" + std::to_string(i) + "\":{\"n\":" + std::to_string(i) + "},";
    const auto duplicated =
        parseLines("{" + filler +
                   R"("message":{"model":"hidden"},"a":{"model":"first"},"message":"plain",)"
                   R"("usage":{"input_tokens":7},"b":{"model":"second"},"usage":{"output_tokens":3}})");
    EXPECT_EQ(duplicated.model, "first");
    EXPECT_EQ(duplicated.tokens, (TokenUsage{0, 3, 0, 0}));
}

TEST(JSONLParserTest, TokenNumbersTruncateAndOutOfRangeValuesAreNotFound)
{
    EXPECT_EQ(
        parseLines(R"({"usage":{"input_tokens":12.9,"output_tokens":-3,"cache_creation_input_tokens":7e2}})").tokens,
        (TokenUsage{12, 0, 0, 700}));
    // The first number under a key decides, even when it has no integer value; the fallback key is not tried then.
    EXPECT_EQ(
        parseLines(R"({"usage":{"input_tokens":1e30,"inputTokens":5},"output_tokens":18446744073709551615})").tokens,
        (TokenUsage{}));
    EXPECT_EQ(
        parseLines(R"({"usage":{"input_tokens":"12","inputTokens":5,"output_tokens":9223372036854775807}})").tokens,
        (TokenUsage{5, 9223372036854775807, 0, 0}));
    EXPECT_EQ(parseLines(R"({"x":{"cached_input_tokens":4},"y":{"cache_read_input_tokens":2}})").tokens.cacheRead, 2);
}

TEST(JSONLParserTest, SessionIdFromBodyOnlyBesideAWorkingDirectory)
{
    constexpr std::string_view rollout =
        R"({"timestamp":"2026-12-06T09:00:00Z","type":"session_meta","payload":{"id":"codex-session","cwd":"/w"}})"
        "\n"
        R"({"timestamp":"2026-12-06T09:00:05Z","type":"response_item","payload":{"type":"reasoning","id":"rs_1"}})"
        "\n"
        R"({"timestamp":"2026-12-06T09:00:06Z","type":"response_item","payload":{"type":"message","id":"msg_2","role":"assistant"}})";
    EXPECT_EQ(parseLines(rollout, AgentTool::codex).id, "codex-session");
    EXPECT_EQ(parseLines(R"({"id":"only-id"})").id, "file-stem");
    EXPECT_EQ(parseLines(R"({"id":"bare","cwd":"/bare"})").id, "bare");
    // A line's own "sessionId" counts on every line.
    EXPECT_EQ(parseLines(R"({"sessionId":"parent","payload":{"id":"x","cwd":"/y"}})").id, "parent");
}

TEST(JSONLParserTest, TimestampForms)
{
    const auto base = at("2026-12-06T05:52:24Z");
    EXPECT_EQ(at("2026-12-06T05:52:24.123Z"), base + 123ms);
    EXPECT_EQ(at("2026-12-06T05:52:24.1Z"), base + 100ms);
    EXPECT_EQ(at("2026-12-06T06:52:24+0100"), base);
    EXPECT_EQ(at("2026-12-06T03:22:24.5-0230"), base + 500ms);
    EXPECT_EQ(at("2026-12-06T05:52:24"), base); // no zone means UTC
    for (const char* invalid : {"2026-12-06", "2026-12-06 05:52:24Z", "2026-12-06T05:52Z", "2026-13-06T05:52:24Z",
                                "2026-02-30T05:52:24Z", "2026-12-06T05:52:24.Z", "2026-12-06T05:52:24+01:00",
                                "2026-12-06T05:52:24z", "2026-12-06T24:00:00Z", "2026-12-06T05:52:24Zjunk", ""})
        EXPECT_EQ(loomwatch::model::parseIso8601Timestamp(invalid), std::nullopt) << invalid;

    const auto session = parseLines("{\"timestamp\":\"2026-05-01\"}\n{\"timestamp\":\"2026-05-02T00:00:00.000Z\"}");
    EXPECT_EQ(session.lastActivityAt, at("2026-05-02T00:00:00Z"));

    // Instants so far from 1970 that the time since them overflows a nanosecond count are no timestamps (they
    // used to overflow while being converted).
    EXPECT_EQ(at("1900-01-01T00:00:00Z").time_since_epoch(), -2208988800s);
    EXPECT_EQ(at("2116-02-20T23:53:36.999999999Z").time_since_epoch(), 4611686016999999999ns);
    for (const char* outOfRange : {"1013-12-06T09:00:01.100Z", "0000-01-01T00:00:00Z", "1700-01-01T00:00:00Z",
                                   "2116-02-20T23:53:39Z", "9999-12-31T23:59:59.999-2359"})
        EXPECT_EQ(loomwatch::model::parseIso8601Timestamp(outOfRange), std::nullopt) << outOfRange;
    const auto ancient = parseLines(R"({"timestamp":"1013-12-06T09:00:01.100Z","sessionId":"old"})");
    EXPECT_EQ(ancient.id, "old");
    EXPECT_EQ(ancient.startedAt, fileTime);
}

TEST(JSONLParserTest, SnippetComesFromTheLastTextRedactedCollapsedAndCut)
{
    const auto collapsed =
        parseLines("{\"text\":\"first\"}\n{\"text\":\"  token = abcdefgh1234\\n\\n\\tnext   line \"}");
    EXPECT_EQ(collapsed.safeSnippet, "[REDACTED] next line");
    EXPECT_EQ(parseLines(R"({"text":"  "})").safeSnippet, "");

    // 200 flags of two code points each: the cut counts user-perceived characters.
    std::string flags;
    for (int i = 0; i < 200; ++i)
        flags += "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    const auto cut = parseLines("{\"text\":\"" + flags + "\"}");
    ASSERT_TRUE(cut.safeSnippet);
    EXPECT_EQ(*cut.safeSnippet, flags.substr(0, 160 * 8));
}

TEST(JSONLParserTest, MalformedLinesAreSkipped)
{
    std::string content = "{\"sessionId\":\"good\",\"message\":{\"role\":\"user\"}}\n";
    content += "\n\n   \n";
    content += "not json at all\n";
    content += "[{\"sessionId\":\"array\"}]\n";
    content += "\"just a string\"\n";
    content += std::string("\x00\x01\xFF\xFE garbage", 13) + "\n";
    content += "{\"sessionId\":\"bad-utf8-\xC3\x28\"}\n";
    content += "{\"sessionId\":\"two\"} {\"sessionId\":\"docs\"}\n";
    content += "{\"usage\":{\"input_tokens\":99999999999999999999999}}\n";
    content += "{\"message\":{\"role\":\"assistant\"},\"sessionId\":\"trunc"; // cut mid-line by a writer
    const auto session = parseLines(content);
    EXPECT_EQ(session.id, "good");
    EXPECT_EQ(session.explicitState, SessionState::working);
    EXPECT_EQ(session.tokens, TokenUsage{});
}

TEST(JSONLParserTest, TailIsCutAtTheLimitAndLosesOnlyThePartialFirstLine)
{
    TempDir dir;
    const std::string lastLine = "{\"message\":{\"role\":\"assistant\"}}\n";
    const auto build = [&](std::size_t total) {
        std::string first = "{\"sessionId\":\"head\",\"pad\":\"";
        first += std::string(total - first.size() - 3 - lastLine.size(), 'x');
        first += "\"}\n";
        return first + lastLine;
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
    EXPECT_EQ(parser.parseTail(R"({"sessionId":"kept"})", true, initialRecord()).id, "kept");
    EXPECT_EQ(parser.parseTail("ial\"}\n{\"sessionId\":\"next\"}", true, initialRecord()).id, "next");
}

TEST(JSONLParserTest, FileRecordAndFailures)
{
    TempDir dir;
    const JSONLParser parser(AgentTool::codex);

    const auto empty = dir / "rollout-2026-12-06T09-00-00-abc.jsonl";
    writeFile(empty, "");
    setModificationTime(empty, at("2026-12-01T08:00:00.250Z"));
    const auto record = parser.parse({empty, AgentTool::codex});
    EXPECT_EQ(record.id, "rollout-2026-12-06T09-00-00-abc");
    EXPECT_EQ(record.tool, AgentTool::codex);
    EXPECT_EQ(record.startedAt, at("2026-12-01T08:00:00.250Z"));
    EXPECT_EQ(record.lastActivityAt, record.startedAt);
    EXPECT_EQ(record.sourcePath, empty);
    EXPECT_EQ(record.tokens, TokenUsage{});
    EXPECT_EQ(record.explicitState, std::nullopt);
    EXPECT_EQ(record.safeSnippet, std::nullopt);

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
