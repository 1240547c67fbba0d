// A corpus of credentials in the places agents write them, run through the ways transcript text leaves a
// transcript: the excerpt kept with a session, the handoff prompt and OpenCode's titles; texts that only look
// like credentials; and texts with what redaction makes of them.
#include "handoff/handoffgenerator.h"
#include "handoff/secretredaction.h"
#include "handoff/snippet.h"
#include "handoff/unicodetext.h"
#include "ingestion/jsonlparser.h"
#include "providers/opencodeprovider.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using loomwatch::handoff::HandoffGenerator;
using loomwatch::handoff::makeSnippet;
using loomwatch::handoff::prefixCharacters;
using loomwatch::handoff::redactionMarker;
using loomwatch::handoff::redactSecrets;
using loomwatch::ingestion::JSONLParser;
using loomwatch::model::AgentSession;
using loomwatch::model::AgentTool;
using loomwatch::model::SessionState;
using loomwatch::providers::OpenCodeProvider;
using loomwatch::testing::TempDir;
using loomwatch::testing::writeFile;

namespace {

constexpr std::string_view openMark = "\u00AB";
constexpr std::string_view closeMark = "\u00BB";

struct Case
{
    std::string name;
    std::string text;                 // as an agent would have written it
    std::vector<std::string> secrets; // the parts of `text` that must not survive
};

std::vector<Case> loadCorpus(const std::string& file)
{
    const char* root = std::getenv("LOOMWATCH_TEST_DATA");
    std::ifstream in(std::filesystem::path(root ? root : "tests/data") / "redaction" / file, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing corpus " + file);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string all = buffer.str();

    std::vector<Case> cases;
    std::size_t pos = 0;
    while ((pos = all.find("=== ", pos)) != std::string::npos) {
        const std::size_t nameEnd = all.find('\n', pos);
        std::size_t next = all.find("\n=== ", nameEnd);
        const std::size_t end = next == std::string::npos ? all.size() : next + 1;
        Case c{all.substr(pos + 4, nameEnd - pos - 4), {}, {}};
        std::string_view body(all.data() + nameEnd + 1, end - nameEnd - 1);
        if (body.ends_with('\n'))
            body.remove_suffix(1);
        for (std::size_t at = 0; at < body.size();) {
            const std::size_t open = body.find(openMark, at);
            if (open == std::string_view::npos) {
                c.text += body.substr(at);
                break;
            }
            const std::size_t close = body.find(closeMark, open);
            if (close == std::string_view::npos)
                throw std::runtime_error("unclosed secret in " + c.name);
            c.text += body.substr(at, open - at);
            const auto secret = body.substr(open + openMark.size(), close - open - openMark.size());
            c.text += secret;
            c.secrets.emplace_back(secret);
            at = close + closeMark.size();
        }
        cases.push_back(std::move(c));
        pos = end;
    }
    return cases;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

// Any eight consecutive characters of a secret (within one of its white-space separated pieces) found in
// `output`, or empty. Catches a secret that survives in part, raw or JSON-escaped.
std::string leakedPart(const std::string& output, const std::vector<std::string>& secrets)
{
    for (const auto& secret : secrets) {
        std::istringstream pieces(secret);
        for (std::string piece; pieces >> piece;) {
            for (std::size_t i = 0; i + 8 <= piece.size(); ++i) {
                if (output.find(piece.substr(i, 8)) != std::string::npos)
                    return piece.substr(i, 8);
            }
        }
    }
    return {};
}

// What the excerpt makes of text that holds nothing to redact: white space collapsed, cut to 160 characters.
std::string excerptOf(const std::string& text)
{
    std::istringstream words(text);
    std::string out;
    for (std::string word; words >> word;)
        out += (out.empty() ? "" : " ") + word;
    return prefixCharacters(out, 160);
}

// The same text where each agent puts it: a Claude Code attachment, a Codex reasoning event after a shell
// command's output, and a transcript that holds the text as its own lines.
struct Transcripts
{
    std::string claude;
    std::string codex;
    std::string raw;
    std::string claudeContent;
};

Transcripts writeTranscripts(const TempDir& dir, const std::string& text)
{
    const std::string quoted = jsonString(text);
    const std::string claude =
        R"({"parentUuid":null,"isSidechain":false,"userType":"external","cwd":"/home/dev/src/api_server","sessionId":"5f0c1a9e-7b2d-4c3e-9a81-2f6d0b4e8c17","version":"2.0.14","gitBranch":"main","type":"user","message":{"role":"user","content":"Set up the deployment"},"uuid":"u1","timestamp":"2026-12-06T05:50:00.000Z"})"
        "\n"
        R"({"parentUuid":"u1","cwd":"/home/dev/src/api_server","sessionId":"5f0c1a9e-7b2d-4c3e-9a81-2f6d0b4e8c17","type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"toolu_1","content":)" +
        quoted + R"(,"is_error":false}]},"toolUseResult":{"stdout":)" + quoted +
        R"(,"stderr":"","interrupted":false},"uuid":"u2","timestamp":"2026-12-06T05:50:20.000Z"})"
        "\n"
        R"({"parentUuid":"u2","cwd":"/home/dev/src/api_server","sessionId":"5f0c1a9e-7b2d-4c3e-9a81-2f6d0b4e8c17","type":"attachment","attachment":{"type":"todo_reminder","text":)" +
        quoted +
        R"(},"uuid":"t1","timestamp":"2026-12-06T05:50:21.000Z"})"
        "\n";
    const std::string codex =
        R"({"timestamp":"2026-12-06T05:50:00.000Z","type":"session_meta","payload":{"id":"0199a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b","timestamp":"2026-12-06T05:50:00.000Z","cwd":"/home/dev/src/api_server","originator":"codex_cli_rs","cli_version":"0.46.0","git":{"branch":"main"}}})"
        "\n"
        R"({"timestamp":"2026-12-06T05:50:10.000Z","type":"response_item","payload":{"type":"function_call_output","call_id":"call_1","output":)" +
        quoted +
        R"(}})"
        "\n"
        R"({"timestamp":"2026-12-06T05:50:11.000Z","type":"event_msg","payload":{"type":"agent_reasoning","text":)" +
        quoted + "}}\n";
    Transcripts paths{dir / "claude.jsonl", dir / "rollout-2026-12-06T05-50-00.jsonl", dir / "raw.jsonl", claude};
    writeFile(paths.claude, claude);
    writeFile(paths.codex, codex);
    writeFile(paths.raw, "$ ./deploy.sh\n" + text + "\n");
    return paths;
}

// The handoff of a session whose excerpt came from the transcript, the way the application makes it.
std::string handoffOf(const std::string& path, AgentTool tool)
{
    const auto parsed = JSONLParser(tool).parse({path, tool});
    AgentSession session;
    session.id = "corpus";
    session.tool = tool;
    session.state = SessionState::waitingForInput;
    session.lastSnippet = parsed.safeSnippet;
    session.sourcePath = path;
    return HandoffGenerator([] { return std::optional<std::string>("{{objective}}\n{{recent_actions}}"); })
        .generateHandoff(session);
}

// The handoff of a Claude Code transcript whose tail begins in the middle of `secret`: in front of the transcript
// a line of filler, behind it one long line that makes the tail start there.
std::string handoffCutThrough(const TempDir& dir, const std::string& transcript, const std::string& secret)
{
    const std::string escaped = jsonString(secret).substr(1, jsonString(secret).size() - 2);
    const std::size_t cut = transcript.find(escaped) + escaped.size() / 2;
    const std::size_t padding = HandoffGenerator::tailBytes - (transcript.size() - cut) - 12;
    const std::string path = dir / "cut.jsonl";
    writeFile(path, std::string(1000, 'x') + "\n" + transcript + "{\"pad\":\"" + std::string(padding, 'y') + "\"}\n");
    return handoffOf(path, AgentTool::claude);
}

} // namespace

TEST(RedactionCorpus, TextsBecomeWhatTheTableSays)
{
    const auto cases = loadCorpus("exact.txt");
    ASSERT_GE(cases.size(), 10u);
    for (const auto& c : cases) {
        const std::size_t split = c.text.find("\n--- becomes\n");
        ASSERT_NE(split, std::string::npos) << c.name;
        const std::string expected = c.text.substr(split + 13);
        EXPECT_EQ(redactSecrets(c.text.substr(0, split)), expected) << c.name;
        EXPECT_EQ(redactSecrets(expected), expected) << c.name << ": a second pass changes nothing";
    }
}

TEST(RedactionCorpus, NoCredentialSurvivesTheExcerptOrTheHandoff)
{
    const auto cases = loadCorpus("secrets.txt");
    ASSERT_GE(cases.size(), 60u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.secrets.empty());
        const std::string redacted = redactSecrets(c.text);
        EXPECT_EQ(leakedPart(redacted, c.secrets), "") << redacted;

        const TempDir dir;
        const auto files = writeTranscripts(dir, c.text);
        for (const auto& [path, tool] :
             {std::pair{files.claude, AgentTool::claude}, std::pair{files.codex, AgentTool::codex}}) {
            const auto snippet = JSONLParser(tool).parse({path, tool}).safeSnippet;
            ASSERT_TRUE(snippet.has_value());
            // Every case starts its first secret early enough to be inside the excerpt.
            EXPECT_NE(snippet->find(redactionMarker), std::string::npos) << *snippet;
            EXPECT_EQ(leakedPart(*snippet, c.secrets), "") << *snippet;
            const std::string handoff = handoffOf(path, tool);
            EXPECT_EQ(leakedPart(handoff, c.secrets), "") << handoff;
        }
        const std::string raw = handoffOf(files.raw, AgentTool::claude);
        EXPECT_NE(raw.find(redactionMarker), std::string::npos) << raw;
        EXPECT_EQ(leakedPart(raw, c.secrets), "") << raw;

        const auto title = OpenCodeProvider::mapRow({"ses_1", c.text, 0, 0, "", ""}, {}, "/db").lastSnippet;
        EXPECT_EQ(leakedPart(title.value_or(""), c.secrets), "") << *title;
        // A secret that the excerpt's cut or the start of the handoff's tail splits leaves nothing readable.
        for (std::size_t before = 140; before < 160; before += 3) {
            const std::string snippet = makeSnippet(std::string(before, 'x') + " " + c.text);
            EXPECT_EQ(leakedPart(snippet, c.secrets), "") << snippet;
        }
        const std::string cut = handoffCutThrough(dir, files.claudeContent, c.secrets.front());
        EXPECT_EQ(leakedPart(cut, c.secrets), "") << cut;
    }
}

TEST(RedactionCorpus, TextsThatOnlyLookLikeCredentialsSurviveUnchanged)
{
    const auto cases = loadCorpus("lookalikes.txt");
    ASSERT_GE(cases.size(), 25u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(redactSecrets(c.text), c.text);

        const TempDir dir;
        const auto files = writeTranscripts(dir, c.text);
        for (const auto& [path, tool] :
             {std::pair{files.claude, AgentTool::claude}, std::pair{files.codex, AgentTool::codex}}) {
            EXPECT_EQ(JSONLParser(tool).parse({path, tool}).safeSnippet, excerptOf(c.text));
            const std::string handoff = handoffOf(path, tool);
            EXPECT_TRUE(handoff.starts_with(excerptOf(c.text) + "\n")) << handoff;
            EXPECT_EQ(handoff.find(redactionMarker), std::string::npos) << handoff;
        }
        EXPECT_EQ(OpenCodeProvider::mapRow({"ses_1", c.text, 0, 0, "", ""}, {}, "/db").lastSnippet, c.text);
        const std::string raw = handoffOf(files.raw, AgentTool::claude);
        std::istringstream lines(c.text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(raw.find("\n- " + excerptOf(line)), std::string::npos) << raw;
    }
}
