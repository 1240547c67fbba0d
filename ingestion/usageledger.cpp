#include "ingestion/usageledger.h"

#include "ingestion/jsonlparser.h"
#include "ingestion/usagecache.h"
#include "model/regularfile.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace loomwatch::ingestion {

namespace {

// The parses kept as notes follow the parser's rules: new rules, new cache.
constexpr std::int64_t cacheVersion = UsageLedger::formatVersion * 1000 + JSONLParser::rulesVersion;
// Bytes before the counted end kept to tell an appended transcript from one rewritten in place.
constexpr std::size_t anchorSize = 32;
constexpr std::size_t chunkSize = 4 << 20;

// Memory for reading transcripts, kept at the size of the longest run read so far.
class ReadBuffer
{
public:
    // Room for `size` bytes followed by the decoder's padding, keeping the first `keep` bytes.
    char* reserve(std::size_t size, std::size_t keep)
    {
        if (size > m_capacity) {
            auto larger = std::make_unique_for_overwrite<char[]>(size + simdjson::SIMDJSON_PADDING);
            if (keep != 0)
                std::memcpy(larger.get(), m_data.get(), keep);
            m_data = std::move(larger);
            m_capacity = size;
        }
        return m_data.get();
    }

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_capacity = 0;
};

void debugLog(const std::string& message)
{
    if (std::getenv("LOOMWATCH_DEBUG") != nullptr)
        std::fprintf(stderr, "loomwatch: usage cache: %s\n", message.c_str());
}

} // namespace

// The cache, with the memory its counts read transcripts into.
class UsageLedger::Store : public UsageCache
{
public:
    ReadBuffer buffer;
};

namespace {

TranscriptIdentity identify(const model::RegularFile& file, model::AgentTool tool)
{
    return {static_cast<std::int64_t>(tool), file.device(), file.inode(), file.size(),
            std::chrono::duration_cast<std::chrono::nanoseconds>(file.modified().time_since_epoch()).count()};
}

model::Timestamp modifiedAt(const TranscriptIdentity& identity)
{
    return model::Timestamp(
        std::chrono::duration_cast<model::Timestamp::duration>(std::chrono::nanoseconds(identity.mtime)));
}

FileUsage usageOf(LedgerRow& row)
{
    return {std::move(row.sums), std::move(row.keys), std::move(row.state.lastModel), std::move(row.note)};
}

// Counts the complete lines in bytes [from, size) of the file; returns the offset after the last of them.
// `whole`, when given, sees the file's bytes when they were all read at once.
std::int64_t countBytes(const model::RegularFile& file, std::int64_t from, std::int64_t size, UsageCounter& counter,
                        model::Timestamp fallback, ReadBuffer& buffer,
                        const std::function<void(std::string_view)>& whole = {})
{
    std::size_t carried = 0; // the start of a line that the next read completes
    std::int64_t counted = from;
    for (std::int64_t offset = from; offset < size;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(chunkSize, size - offset));
        char* data = buffer.reserve(carried + want, carried);
        const std::size_t got = file.readAt(data + carried, want, offset);
        if (got == 0)
            break; // it shrank meanwhile: the next count starts afresh
        offset += static_cast<std::int64_t>(got);
        const std::size_t total = carried + got;
        const void* lastBreak = ::memrchr(data, '\n', total);
        if (lastBreak == nullptr) {
            carried = total;
            continue;
        }
        const std::size_t complete = static_cast<std::size_t>(static_cast<const char*>(lastBreak) - data) + 1;
        std::memset(data + total, 0, simdjson::SIMDJSON_PADDING);
        counter.count(std::string_view(data, complete), fallback);
        if (whole && from == 0 && static_cast<std::int64_t>(total) == size)
            whole(std::string_view(data, total));
        counted += static_cast<std::int64_t>(complete);
        carried = total - complete;
        std::memmove(data, data + complete, carried);
    }
    return counted;
}

std::string readAnchor(const model::RegularFile& file, std::int64_t counted)
{
    std::string anchor(static_cast<std::size_t>(std::min<std::int64_t>(counted, anchorSize)), '\0');
    anchor.resize(file.readAt(anchor.data(), anchor.size(), counted - static_cast<std::int64_t>(anchor.size())));
    return anchor;
}

// The whole transcript, not kept: messages under `known` keys do not count.
FileUsage countWhole(const model::RegularFile& file, const TranscriptIdentity& identity, model::AgentTool tool,
                     std::span<const std::uint64_t> known, ReadBuffer& buffer)
{
    UsageCounter counter(tool, {}, known);
    countBytes(file, 0, identity.size, counter, modifiedAt(identity), buffer);
    return {counter.takeSums(), counter.takeNewKeys(), counter.state().lastModel, {}};
}

} // namespace

std::unique_ptr<UsageLedger::Store> UsageLedger::openStore(const std::string& path, bool afresh)
{
    auto store = std::make_unique<Store>();
    if (path.empty()) {
        store->open({}, cacheVersion);
        return store;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const auto remove = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            std::filesystem::remove(path + suffix, ignored);
    };
    if (afresh)
        remove();
    int result = store->open(path, cacheVersion);
    if (result != SQLITE_OK && result != SQLITE_BUSY && std::filesystem::exists(path, ignored)) {
        debugLog("cannot use " + path + " (" + sqlite3_errstr(result) + "); making it anew");
        store = std::make_unique<Store>();
        remove();
        result = store->open(path, cacheVersion);
    }
    if (result == SQLITE_OK)
        return store;
    debugLog("cannot use " + path + " (" + sqlite3_errstr(result) + "); counting in memory");
    return nullptr;
}

UsageLedger::UsageLedger(std::string path) : m_path(std::move(path)), m_store(openStore(m_path))
{
    if (!m_store) {
        m_path.clear();
        m_store = openStore({});
    }
}

UsageLedger::~UsageLedger() = default;

bool UsageLedger::isPersistent() const
{
    return !m_path.empty();
}

FileUsage UsageLedger::count(model::AgentTool tool, const std::string& path, bool withKeys, const NoteMaker& makeNote)
{
    std::lock_guard lock(m_mutex);
    return countLocked(tool, path, withKeys, makeNote);
}

FileUsage UsageLedger::countLocked(model::AgentTool tool, const std::string& path, bool withKeys,
                                   const NoteMaker& makeNote)
{
    const model::RegularFile file(path);
    const TranscriptIdentity identity = identify(file, tool);

    const auto attempt = [&](LedgerRow& row) {
        int result = m_store->find(path, row);
        if (result == SQLITE_ROW && row.identity == identity &&
            (result = m_store->readParts(path, row, withKeys)) == SQLITE_ROW) {
            if (!makeNote || !row.note.empty())
                return SQLITE_OK;
            row.note = makeNote(nullptr);
            return m_store->writeNote(path, row.note);
        }
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            return result;
        // Changed since it was counted: count it under the write lock, so that no other process counts the same
        // bytes meanwhile and no count is lost.
        UsageCache::Transaction transaction(*m_store);
        if (transaction.result() != SQLITE_OK)
            return transaction.result();
        row = {};
        if ((result = m_store->find(path, row)) == SQLITE_ROW)
            result = m_store->readParts(path, row, true);
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            return result;
        if (result == SQLITE_ROW && row.identity == identity && (!makeNote || !row.note.empty()))
            return transaction.commit();
        const bool appended = result == SQLITE_ROW && row.identity.tool == identity.tool &&
                              row.identity.device == identity.device && row.identity.inode == identity.inode &&
                              row.counted <= identity.size && readAnchor(file, row.counted) == row.anchor;
        if (!appended)
            row = {};
        UsageCounter counter(tool, row.state, row.keys);
        std::optional<std::string> note;
        const auto noteOfContents = [&](std::string_view bytes) {
            if (makeNote) {
                const Contents contents{bytes, modifiedAt(identity)};
                note = makeNote(&contents);
            }
        };
        row.counted = countBytes(file, row.counted, identity.size, counter, modifiedAt(identity), m_store->buffer,
                                 noteOfContents);
        row.identity = identity;
        row.anchor = readAnchor(file, row.counted);
        row.state = counter.state();
        const std::vector<UsageSums> moreSums = counter.takeSums();
        const std::vector<std::uint64_t> moreKeys = counter.takeNewKeys();
        mergeSums(row.sums, moreSums);
        row.keys = mergeKeys(row.keys, moreKeys);
        row.note = note ? std::move(*note) : makeNote ? makeNote(nullptr) : std::string();
        result = appended ? m_store->append(path, row, moreSums, moreKeys) : m_store->write(path, row);
        if (result != SQLITE_OK)
            return result;
        return transaction.commit();
    };

    for (int tries = 0;; ++tries) {
        LedgerRow row;
        const int result = attempt(row);
        if (result == SQLITE_OK)
            return usageOf(row);
        if (result == SQLITE_BUSY || tries == 1) {
            FileUsage usage = countWhole(file, identity, tool, {}, m_store->buffer);
            if (makeNote)
                usage.note = makeNote(nullptr);
            return usage;
        }
        // A cache damaged or made unwritable while in use: go on with a new one.
        debugLog(std::string("error while counting (") + sqlite3_errstr(result) + ")");
        m_store.reset();
        m_store = openStore(m_path, true);
        if (!m_store) {
            m_path.clear();
            m_store = openStore({});
        }
    }
}

std::vector<FileUsage> UsageLedger::countOnce(model::AgentTool tool, const std::vector<std::string>& paths)
{
    std::lock_guard lock(m_mutex);
    std::vector<FileUsage> result(paths.size());
    std::unordered_set<std::uint64_t> seen;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            const bool claude = tool == model::AgentTool::claude;
            FileUsage usage = countLocked(tool, paths[i], claude, {});
            if (std::ranges::any_of(usage.keys, [&](std::uint64_t key) { return seen.contains(key); })) {
                // Rare: count this one again without the messages an earlier transcript holds.
                std::vector<std::uint64_t> known(seen.begin(), seen.end());
                std::sort(known.begin(), known.end());
                const model::RegularFile file(paths[i]);
                usage = countWhole(file, identify(file, tool), tool, known, m_store->buffer);
            }
            seen.insert(usage.keys.begin(), usage.keys.end());
            result[i] = std::move(usage);
        } catch (const std::system_error&) {
            // Unreadable: it counts nothing.
        }
    }
    return result;
}

std::pair<std::vector<model::ModelTokens>, model::TokenUsage>
modelTotals(model::AgentTool tool, const std::vector<FileUsage>& files, const std::optional<std::string>& sessionModel)
{
    std::map<std::string, model::TokenUsage, std::less<>> raw;
    for (const FileUsage& file : files) {
        const std::string& unnamed = file.lastModel.empty() ? sessionModel.value_or(std::string()) : file.lastModel;
        for (const UsageSums& sums : file.sums)
            addTokens(raw[sums.model.empty() ? unnamed : sums.model], sums.tokens);
    }
    std::pair<std::vector<model::ModelTokens>, model::TokenUsage> result;
    for (const auto& [name, tokens] : raw) {
        result.first.push_back({name, settled(tool, tokens)});
        addTokens(result.second, result.first.back().tokens);
    }
    return result;
}

} // namespace loomwatch::ingestion
