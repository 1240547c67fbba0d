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

#include <sstream>
#include <string>
#include <vector>

using namespace loomwatch::handoff;
using namespace loomwatch::model;
using namespace loomwatch::testing;
using loomwatch::ingestion::JSONLParser;
using loomwatch::providers::OpenCodeProvider;

namespace {

struct Case
{
    std::string name;
    std::string text;                 // as an agent would have written it
    std::vector<std::string> secrets; // the parts of `text` that must not survive: those between « and »
};

std::vector<Case> loadCorpus(const std::string& file)
{
    const std::string all = "\n" + testData("redaction/" + file);
    std::vector<Case> cases;
    for (std::size_t pos = all.find("\n=== "); pos != std::string::npos;) {
        const std::size_t nameEnd = all.find('\n', pos + 1);
        const std::size_t next = all.find("\n=== ", nameEnd);
        Case c{all.substr(pos + 5, nameEnd - pos - 5), all.substr(nameEnd + 1, next - nameEnd - 1), {}};
        if (c.text.ends_with('\n'))
            c.text.pop_back();
        for (std::size_t open; (open = c.text.find("\u00AB")) != std::string::npos;) {
            const std::size_t close = c.text.find("\u00BB", open);
            c.secrets.push_back(c.text.substr(open + 2, close - open - 2));
            c.text.erase(close, 2);
            c.text.erase(open, 2);
        }
        cases.push_back(std::move(c));
        pos = next;
    }
    return cases;
}

std::string escaped(std::string_view text)
{
    std::string out;
    for (const char c : text)
        out += c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    return out;
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

// The transcript of tests/data/redaction/<agent>.jsonl with `text` in its places, written to `dir`.
std::string transcript(const TempDir& dir, const std::string& agent, const std::string& text)
{
    std::string content = testData("redaction/" + agent + ".jsonl");
    for (const auto& [mark, value] : {std::pair{"@TEXT_IN_JSON@", escaped(escaped(text))}, {"@TEXT@", escaped(text)}})
        for (std::size_t at = content.find(mark); at != std::string::npos; at = content.find(mark, at + value.size()))
            content.replace(at, std::string_view(mark).size(), value);
    writeFile(dir / (agent + ".jsonl"), content);
    return dir / (agent + ".jsonl");
}

// The handoff of a session whose excerpt came from the transcript, the way the application makes it.
std::string handoffOf(const std::string& path, AgentTool tool)
{
    AgentSession session;
    session.tool = tool;
    session.lastSnippet = JSONLParser(tool).parse({path, tool}).safeSnippet;
    session.sourcePath = path;
    return HandoffGenerator([] { return std::optional<std::string>("{{objective}}\n{{recent_actions}}"); })
        .generateHandoff(session);
}

const std::pair<const char*, AgentTool> agents[] = {{"claude", AgentTool::claude}, {"codex", AgentTool::codex}};

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
        for (const auto& [agent, tool] : agents) {
            const std::string path = transcript(dir, agent, c.text);
            const auto snippet = JSONLParser(tool).parse({path, tool}).safeSnippet;
            ASSERT_TRUE(snippet.has_value());
            // Every case starts its first secret early enough to be inside the excerpt.
            EXPECT_NE(snippet->find(redactionMarker), std::string::npos) << *snippet;
            EXPECT_EQ(leakedPart(*snippet, c.secrets), "") << *snippet;
            const std::string handoff = handoffOf(path, tool);
            EXPECT_EQ(leakedPart(handoff, c.secrets), "") << handoff;
        }
        writeFile(dir / "raw.jsonl", "$ ./deploy.sh\n" + c.text + "\n");
        const std::string raw = handoffOf(dir / "raw.jsonl", AgentTool::claude);
        EXPECT_NE(raw.find(redactionMarker), std::string::npos) << raw;
        EXPECT_EQ(leakedPart(raw, c.secrets), "") << raw;

        const auto title = OpenCodeProvider::mapRow({"ses_1", c.text, 0, 0, "", ""}, {}, "/db").lastSnippet;
        EXPECT_EQ(leakedPart(title.value_or(""), c.secrets), "") << *title;
        // A secret that the excerpt's cut or the start of the handoff's tail splits leaves nothing readable.
        for (std::size_t before = 140; before < 160; before += 3) {
            const std::string snippet = makeSnippet(std::string(before, 'x') + " " + c.text);
            EXPECT_EQ(leakedPart(snippet, c.secrets), "") << snippet;
        }
        const std::string whole = readFile(transcript(dir, "claude", c.text));
        const std::size_t cut = whole.find(escaped(c.secrets.front())) + escaped(c.secrets.front()).size() / 2;
        const std::size_t padding = HandoffGenerator::tailBytes - (whole.size() - cut) - 12;
        writeFile(dir / "cut.jsonl",
                  std::string(1000, 'x') + "\n" + whole + "{\"pad\":\"" + std::string(padding, 'y') + "\"}\n");
        const std::string cutHandoff = handoffOf(dir / "cut.jsonl", AgentTool::claude);
        EXPECT_EQ(leakedPart(cutHandoff, c.secrets), "") << cutHandoff;
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
        for (const auto& [agent, tool] : agents) {
            const std::string path = transcript(dir, agent, c.text);
            EXPECT_EQ(JSONLParser(tool).parse({path, tool}).safeSnippet, excerptOf(c.text));
            const std::string handoff = handoffOf(path, tool);
            EXPECT_NE(handoff.find("\n- " + excerptOf("Assistant: " + c.text)), std::string::npos) << handoff;
            EXPECT_EQ(handoff.find(redactionMarker), std::string::npos) << handoff;
        }
        EXPECT_EQ(OpenCodeProvider::mapRow({"ses_1", c.text, 0, 0, "", ""}, {}, "/db").lastSnippet, c.text);
        writeFile(dir / "raw.jsonl", "$ ./deploy.sh\n" + c.text + "\n");
        const std::string raw = handoffOf(dir / "raw.jsonl", AgentTool::claude);
        std::istringstream lines(c.text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(raw.find("\n- " + excerptOf(line)), std::string::npos) << raw;
    }
}
