#include "ingestion/sqlitehandle.h"
#include "ingestion/usageledger.h"

#include "support/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace loomwatch::ingestion;
using namespace loomwatch::testing;
using loomwatch::model::AgentTool;
using loomwatch::model::TokenUsage;

namespace {

constexpr AgentTool claude = AgentTool::claude;
const std::string opus = "claude-opus-4-5-20251101";
// What the Claude Code transcript of tests/data/usage holds, worked out by hand from its lines (the usage command's
// reports over it check the counting of each kind of record).
const std::string claudeTotals = "claude-opus-4-5-20251101 114 24 6 8, claude-sonnet-4-5-20250929 3 410 45000 1200, "
                                 "total 117 434 45006 1208";
const std::string sonnetOnly = "claude-sonnet-4-5-20250929 3 410 45000 1200, total 3 410 45000 1200";

std::string text(const TokenUsage& t)
{
    return std::to_string(t.input) + " " + std::to_string(t.output) + " " + std::to_string(t.cacheRead) + " " +
           std::to_string(t.cacheWrite);
}

// "model tokens, ..., total tokens" with records without a model under the opus model.
std::string totals(const std::vector<FileUsage>& files)
{
    const auto [perModel, total] = modelTotals(claude, files, opus);
    std::string result;
    for (const auto& m : perModel)
        result += m.model + " " + text(m.tokens) + ", ";
    return result + "total " + text(total);
}

std::string totals(UsageLedger& ledger, const fs::path& path)
{
    return totals({ledger.count(claude, path)});
}

// The line before "thanks": a message no other line repeats.
std::string message(const std::string& id, int output)
{
    return R"({"type":"assistant","timestamp":"2026-12-06T10:00:00.000Z","requestId":"req_)" + id +
           R"(","message":{"model":"claude-sonnet-4-5-20250929","id":"msg_)" + id +
           R"(","usage":{"input_tokens":1,"output_tokens":)" + std::to_string(output) + "}}}\n";
}

} // namespace

TEST(UsageLedger, AppendsPartialLinesTruncationAndReplacement)
{
    TempDir dir;
    UsageLedger ledger(dir / "cache/usage.sqlite");
    ASSERT_TRUE(ledger.isPersistent());
    const auto path = dir / "s.jsonl";
    const std::string whole = testData("usage/claude-session.jsonl");
    const std::size_t cut = whole.find("msg_01B"); // inside the first opus line

    // A line is counted once it is complete, and then only once.
    writeFile(path, whole.substr(0, cut));
    EXPECT_EQ(totals(ledger, path), sonnetOnly);
    appendFile(path, whole.substr(cut));
    EXPECT_EQ(totals(ledger, path), claudeTotals);
    EXPECT_EQ(totals(ledger, path), claudeTotals);

    // Shorter than what was counted: counted again from the start.
    writeFile(path, whole.substr(0, whole.rfind('\n', cut) + 1));
    EXPECT_EQ(totals(ledger, path), sonnetOnly);
    // Rewritten in place, longer, with other bytes just before the end counted: counted afresh, not on top.
    std::string other = whole.substr(0, cut);
    other.replace(other.find("\"output_tokens\":410"), 19, "\"output_tokens\":777");
    other.replace(other.find("00:00:01.000Z"), 13, "00:00:02.000Z");
    writeFile(path, other + "\n");
    EXPECT_EQ(totals(ledger, path), "claude-sonnet-4-5-20250929 3 777 45000 1200, total 3 777 45000 1200");
    // Replaced by another file (a new inode) of the same size as the counted end.
    writeFile(dir / "new.jsonl", whole.substr(0, cut) + "\n");
    fs::rename(dir / "new.jsonl", path);
    EXPECT_EQ(totals(ledger, path), sonnetOnly);

    // A transcript longer than one read: lines across the reads' borders count once.
    std::string large;
    std::int64_t lines = 0;
    for (; large.size() < 9'000'000; ++lines)
        large += message(std::to_string(lines), 1) + std::string(lines % 7 == 0 ? 40'000 : 0, ' ') + "\n";
    writeFile(path, large);
    EXPECT_EQ(totals(ledger, path),
              "claude-sonnet-4-5-20250929 " + text({lines, lines, 0, 0}) + ", total " + text({lines, lines, 0, 0}));
}

TEST(UsageLedger, AMessageCountsOnlyInTheFirstTranscriptThatHoldsIt)
{
    TempDir dir;
    UsageLedger ledger;
    const std::string original = testData("usage/claude-session.jsonl");
    writeFile(dir / "original.jsonl", original);
    // A resumed session repeats the messages of the one it resumes, then goes on.
    writeFile(dir / "resumed.jsonl", original.substr(0, original.find("msg_01B")) + "\n" + message("new", 5));

    const auto both = ledger.countOnce(claude, {dir / "original.jsonl", dir / "resumed.jsonl"});
    EXPECT_EQ(totals({both[1]}), "claude-sonnet-4-5-20250929 1 5 0 0, total 1 5 0 0");
    EXPECT_EQ(totals(both), "claude-opus-4-5-20251101 114 24 6 8, claude-sonnet-4-5-20250929 4 415 45000 1200, "
                            "total 118 439 45006 1208");
    const auto reversed = ledger.countOnce(claude, {dir / "resumed.jsonl", dir / "original.jsonl", dir / "gone.jsonl"});
    EXPECT_EQ(totals(reversed), totals(both));
    EXPECT_EQ(totals({reversed[2]}), "total 0 0 0 0");
    // Counted alone, each has all of its own.
    EXPECT_EQ(totals(ledger, dir / "resumed.jsonl"),
              "claude-sonnet-4-5-20250929 4 415 45000 1200, total 4 415 45000 1200");
}

TEST(UsageLedger, DamagedForeignAndUnwritableCachesStillCountRight)
{
    TempDir dir;
    const auto transcript = dir / "s.jsonl";
    writeFile(transcript, testData("usage/claude-session.jsonl"));
    const auto cache = dir / "cache/usage.sqlite";
    // Written over, another program's database, cut short.
    for (int damage = 0; damage < 3; ++damage) {
        if (damage == 1) {
            SqliteConnection db;
            db.open(cache, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            db.exec("CREATE TABLE transcripts(path TEXT); PRAGMA user_version = 999");
        } else {
            writeFile(cache,
                      damage == 0 ? "not a database, but a cache someone wrote over" : readFile(cache).substr(0, 5000));
        }
        UsageLedger ledger(cache);
        EXPECT_TRUE(ledger.isPersistent());
        EXPECT_EQ(totals(ledger, transcript), claudeTotals);
        EXPECT_EQ(totals(ledger, transcript), claudeTotals);
    }
    // A folder the user cannot write to: counts are kept in memory.
    fs::permissions(dir / "cache", fs::perms(0555));
    fs::remove(cache);
    EXPECT_EQ(runInOtherProcess([&] {
                  UsageLedger ledger(cache);
                  return !ledger.isPersistent() && totals(ledger, transcript) == claudeTotals ? 0 : 1;
              }),
              0);
}

TEST(UsageLedger, TwoProcessesCountingAtOnceLoseNothing)
{
    TempDir dir;
    const auto cache = dir / "usage.sqlite";
    const fs::path files[2] = {dir / "a.jsonl", dir / "b.jsonl"};
    for (const auto& file : files)
        writeFile(file, "");
    // Each process appends to both transcripts in turn and counts both after every line; each message comes twice,
    // as streaming writes it, so that its second line meets its key among those stored by earlier counts.
    const auto work = [&](int process) {
        UsageLedger ledger(cache);
        for (int i = 0; i < 120; ++i) {
            appendFile(files[i / 2 % 2], message(std::to_string(process) + "-" + std::to_string(i / 2), process));
            for (const auto& file : files)
                ledger.count(claude, file);
        }
        return ledger.isPersistent() ? 0 : 1;
    };
    const pid_t other = ::fork();
    if (other == 0)
        ::_exit(work(1));
    EXPECT_EQ(work(2), 0);
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    UsageLedger cached(cache);
    UsageLedger fresh;
    for (const auto& file : files) {
        EXPECT_EQ(totals(cached, file), "claude-sonnet-4-5-20250929 60 90 0 0, total 60 90 0 0");
        EXPECT_EQ(totals(fresh, file), totals(cached, file));
    }
}
