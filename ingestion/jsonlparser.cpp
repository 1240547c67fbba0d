#include "ingestion/jsonlparser.h"

#include "handoff/snippet.h"
#include "model/pathtext.h"
#include "model/timestamps.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace loomwatch::ingestion {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// Keys looked up through nested objects. The token keys come in pairs: the second of a pair is only used when the
// first is found nowhere in the line.
enum Key : int
{
    keyModel,
    keyModelName,
    keyRole,
    keyText,
    keyInputTokens,
    keyInputTokensCamel,
    keyOutputTokens,
    keyOutputTokensCamel,
    keyCacheReadInputTokens,
    keyCachedInputTokens,
    keyCacheCreationInputTokens,
    keyCount,
};

constexpr std::array<std::string_view, keyCount> keyNames{
    "model",
    "model_name",
    "role",
    "text",
    "input_tokens",
    "inputTokens",
    "output_tokens",
    "outputTokens",
    "cache_read_input_tokens",
    "cached_input_tokens",
    "cache_creation_input_tokens",
};

// Called for every member of every object searched, so it rejects by length and first letter before comparing.
int keyIndex(std::string_view name)
{
    if (name.size() < 4 || name.size() > 27)
        return -1;
    switch (name.front()) {
    case 'm':
    case 'r':
    case 't':
    case 'i':
    case 'o':
    case 'c':
        break;
    default:
        return -1;
    }
    for (int i = 0; i < keyCount; ++i) {
        if (keyNames[static_cast<std::size_t>(i)] == name)
            return i;
    }
    return -1;
}

// What one depth-first search over an object tree is still looking for, and what it found. Each target resolves
// at the first object, in pre-order (an object's own members before its nested objects, siblings in document
// order), that holds a value of the wanted kind under the target's key; one traversal answers all targets exactly
// as separate searches would.
struct NestedSearch
{
    enum Target : unsigned
    {
        wantModel = 1u << 0,
        wantRole = 1u << 1,
        wantText = 1u << 2,
        wantTokens = 1u << 3, // all seven token keys
    };

    unsigned wanted = 0;
    std::string_view model;
    std::string_view role;
    std::string_view text;
    bool modelFound = false;
    bool roleFound = false;
    bool textFound = false;
    // Token keys from keyInputTokens on; a key resolves at the first number, whether or not it converts.
    std::array<bool, keyCount> numberResolved{};
    std::array<std::optional<std::int64_t>, keyCount> numbers{};
    int unresolvedNumbers = 0;

    explicit NestedSearch(unsigned targets) : wanted(targets)
    {
        if (wanted & wantTokens)
            unresolvedNumbers = keyCount - keyInputTokens;
    }

    bool done() const
    {
        return (!(wanted & wantModel) || modelFound) && (!(wanted & wantRole) || roleFound) &&
               (!(wanted & wantText) || textFound) && unresolvedNumbers == 0;
    }
};

// Truncation toward zero; values that are not finite or outside the 64-bit signed range have no integer value.
std::optional<std::int64_t> integerValue(element value)
{
    switch (value.type()) {
    case element_type::INT64:
        return value.get_int64().value_unsafe();
    case element_type::UINT64: {
        const std::uint64_t unsignedValue = value.get_uint64().value_unsafe();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    case element_type::DOUBLE: {
        const double d = std::trunc(value.get_double().value_unsafe());
        // 2^63 is exactly representable; every finite double below it and at or above -2^63 fits.
        if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

bool isNumber(element value)
{
    const auto type = value.type();
    return type == element_type::INT64 || type == element_type::UINT64 || type == element_type::DOUBLE;
}

bool stringValue(element value, std::string_view& out)
{
    return value.get_string().get(out) == simdjson::SUCCESS;
}

// Whether a later member of the object has the same key; a duplicated key's last value is the one that counts.
bool shadowedLater(object::iterator it, object::iterator end)
{
    const std::string_view key = it.key();
    for (++it; it != end; ++it) {
        if (it.key() == key)
            return true;
    }
    return false;
}

// Above this many members the pairwise look for a later duplicate gives way to one set of keys, so that a line
// of a hundred thousand members costs linear time, not minutes.
constexpr std::size_t pairwiseMemberLimit = 32;

// `skipMember` names a member of `node` whose object is not entered (one already searched for everything wanted).
void searchNested(object node, NestedSearch& search, std::string_view skipMember = {})
{
    std::array<std::optional<element>, keyCount> direct{};
    std::size_t memberCount = 0;
    for (auto field : node) {
        ++memberCount;
        const int index = keyIndex(field.key);
        if (index >= 0)
            direct[static_cast<std::size_t>(index)] = field.value;
    }

    if ((search.wanted & NestedSearch::wantModel) && !search.modelFound) {
        for (const Key key : {keyModel, keyModelName}) {
            if (direct[key] && stringValue(*direct[key], search.model)) {
                search.modelFound = true;
                break;
            }
        }
    }
    if ((search.wanted & NestedSearch::wantRole) && !search.roleFound && direct[keyRole])
        search.roleFound = stringValue(*direct[keyRole], search.role);
    if ((search.wanted & NestedSearch::wantText) && !search.textFound && direct[keyText])
        search.textFound = stringValue(*direct[keyText], search.text);
    if (search.unresolvedNumbers > 0) {
        for (int key = keyInputTokens; key < keyCount; ++key) {
            const auto& value = direct[static_cast<std::size_t>(key)];
            if (search.numberResolved[static_cast<std::size_t>(key)] || !value || !isNumber(*value))
                continue;
            search.numberResolved[static_cast<std::size_t>(key)] = true;
            search.numbers[static_cast<std::size_t>(key)] = integerValue(*value);
            --search.unresolvedNumbers;
        }
    }

    // Nested objects only; arrays and anything inside them are not searched.
    if (memberCount <= pairwiseMemberLimit) {
        const auto end = node.end();
        for (auto it = node.begin(); it != end && !search.done(); ++it) {
            object child;
            if (it.value().get_object().get(child) != simdjson::SUCCESS)
                continue;
            if (shadowedLater(it, end) || (!skipMember.empty() && it.key() == skipMember))
                continue;
            searchNested(child, search);
        }
        return;
    }
    std::vector<std::pair<std::string_view, element>> members;
    members.reserve(memberCount);
    for (auto field : node)
        members.emplace_back(field.key, field.value);
    std::vector<bool> isLast(members.size());
    std::unordered_set<std::string_view> seen;
    seen.reserve(members.size());
    for (std::size_t i = members.size(); i-- > 0;)
        isLast[i] = seen.insert(members[i].first).second;
    for (std::size_t i = 0; i < members.size() && !search.done(); ++i) {
        object child;
        if (isLast[i] && (skipMember.empty() || members[i].first != skipMember) &&
            members[i].second.get_object().get(child) == simdjson::SUCCESS)
            searchNested(child, search);
    }
}

// Direct (not nested) members that the per-line rules read; the last of duplicated keys wins.
struct DirectMembers
{
    std::optional<element> sessionId, id, cwd, gitBranch, gitBranchSnake, timestamp, type, payload;

    explicit DirectMembers(object node)
    {
        // By length first: every member of every line passes through here.
        for (auto field : node) {
            const std::string_view key = field.key;
            switch (key.size()) {
            case 2:
                if (key == "id")
                    id = field.value;
                break;
            case 3:
                if (key == "cwd")
                    cwd = field.value;
                break;
            case 4:
                if (key == "type")
                    type = field.value;
                break;
            case 7:
                if (key == "payload")
                    payload = field.value;
                break;
            case 9:
                if (key == "sessionId")
                    sessionId = field.value;
                else if (key == "gitBranch")
                    gitBranch = field.value;
                else if (key == "timestamp")
                    timestamp = field.value;
                break;
            case 10:
                if (key == "git_branch")
                    gitBranchSnake = field.value;
                break;
            default:
                break;
            }
        }
    }
};

std::optional<std::string_view> stringOf(const std::optional<element>& value)
{
    std::string_view text;
    if (value && stringValue(*value, text))
        return text;
    return std::nullopt;
}

template <typename... Rest>
std::optional<std::string_view> firstString(const std::optional<element>& first, const Rest&... rest)
{
    if (auto found = stringOf(first))
        return found;
    if constexpr (sizeof...(rest) > 0)
        return firstString(rest...);
    else
        return std::nullopt;
}

struct LineState
{
    model::ParsedSession session;
    std::optional<std::string> lastRole;
    std::optional<std::string> lastText;
    bool errorSeen = false;
};

// Overwrites in place: most lines repeat the same facts, and reusing the string's memory saves an allocation each.
void assign(std::optional<std::string>& field, std::string_view value)
{
    if (field)
        field->assign(value);
    else
        field.emplace(value);
}

void mergeTokens(std::int64_t& field, const NestedSearch& search, Key primary, std::optional<Key> fallback)
{
    std::optional<std::int64_t> value;
    if (search.numberResolved[primary])
        value = search.numbers[primary];
    else if (fallback && search.numberResolved[*fallback])
        value = search.numbers[*fallback];
    field = std::max(field, value.value_or(0));
}

void applyLine(object line, LineState& state)
{
    const DirectMembers top(line);
    object body = line;
    std::optional<DirectMembers> payloadMembers;
    if (top.payload && top.payload->get_object().get(body) == simdjson::SUCCESS)
        payloadMembers.emplace(body);
    else
        body = line;
    const DirectMembers& inner = payloadMembers ? *payloadMembers : top;
    auto& session = state.session;

    // A body's "id" names the session only beside a "cwd": Codex also puts an "id" on every response item.
    if (auto sessionId = stringOf(top.sessionId)) {
        session.id = *sessionId;
    } else if (auto id = stringOf(inner.id); id && stringOf(inner.cwd)) {
        session.id = *id;
    }
    if (auto cwd = firstString(top.cwd, inner.cwd))
        assign(session.projectPath, *cwd);
    if (auto branch = firstString(top.gitBranch, inner.gitBranchSnake))
        assign(session.branch, *branch);

    NestedSearch search(NestedSearch::wantModel | NestedSearch::wantRole | NestedSearch::wantText |
                        NestedSearch::wantTokens);
    searchNested(body, search);
    if (search.modelFound)
        assign(session.model, search.model);

    if (auto timestampText = firstString(top.timestamp, inner.timestamp)) {
        if (auto when = model::parseIso8601Timestamp(*timestampText)) {
            if (*when < session.startedAt)
                session.startedAt = *when;
            if (*when >= session.lastActivityAt)
                session.lastActivityAt = *when;
        }
    }

    if (search.roleFound) {
        assign(state.lastRole, search.role);
    } else if (payloadMembers) {
        // The payload was searched for a role just now and has none.
        NestedSearch lineSearch(NestedSearch::wantRole);
        searchNested(line, lineSearch, "payload");
        if (lineSearch.roleFound)
            assign(state.lastRole, lineSearch.role);
    }

    mergeTokens(session.tokens.input, search, keyInputTokens, keyInputTokensCamel);
    mergeTokens(session.tokens.output, search, keyOutputTokens, keyOutputTokensCamel);
    mergeTokens(session.tokens.cacheRead, search, keyCacheReadInputTokens, keyCachedInputTokens);
    mergeTokens(session.tokens.cacheWrite, search, keyCacheCreationInputTokens, std::nullopt);

    if (search.textFound)
        assign(state.lastText, search.text);

    // A top-level string "type" hides the payload's, whatever its value.
    if (auto type = firstString(top.type, inner.type); type && (*type == "turn_aborted" || *type == "error")) {
        session.explicitState = model::SessionState::errored;
        state.errorSeen = true;
    }
}

// `data` must stay readable for simdjson::SIMDJSON_PADDING bytes past `size`.
model::ParsedSession applyTail(const char* data, std::size_t size, bool startsMidLine, model::ParsedSession initial,
                               simdjson::dom::parser& parser)
{
    std::string_view tail(data, size);
    if (startsMidLine) {
        const auto firstBreak = tail.find('\n');
        if (firstBreak != std::string_view::npos)
            tail.remove_prefix(firstBreak + 1);
    }

    LineState state{std::move(initial), {}, {}, false};
    while (!tail.empty()) {
        const auto lineEnd = tail.find('\n');
        const std::string_view piece = tail.substr(0, lineEnd);
        tail.remove_prefix(lineEnd == std::string_view::npos ? tail.size() : lineEnd + 1);
        if (piece.empty())
            continue;
        object line;
        if (parser.parse(piece.data(), piece.size(), false).get_object().get(line) != simdjson::SUCCESS)
            continue;
        applyLine(line, state);
    }

    auto& session = state.session;
    if (state.lastText)
        session.safeSnippet = handoff::makeSnippet(*state.lastText);
    if (!state.errorSeen && state.lastRole) {
        if (*state.lastRole == "assistant")
            session.explicitState = model::SessionState::waitingForInput;
        else if (*state.lastRole == "user")
            session.explicitState = model::SessionState::working;
    }
    return std::move(session);
}

[[noreturn]] void throwFileError(int error, const std::string& what, const std::string& path)
{
    throw std::system_error(error, std::generic_category(), "Cannot " + what + " " + path);
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

struct JSONLParser::Workspace::Buffers
{
    // Room for `capacity` bytes of tail plus the decoder's padding.
    std::unique_ptr<char[]> tail;
    std::size_t capacity = 0;
    simdjson::dom::parser json;

    char* reserve(std::size_t size)
    {
        if (!tail || size > capacity) {
            tail.reset();
            tail.reset(new char[size + simdjson::SIMDJSON_PADDING]);
            capacity = size;
        }
        return tail.get();
    }
};

JSONLParser::Workspace::Workspace() : m_buffers(std::make_unique<Buffers>()) {}

JSONLParser::Workspace::~Workspace() = default;

JSONLParser::JSONLParser(model::AgentTool tool) : m_tool(tool) {}

model::ParsedSession JSONLParser::parse(const model::SessionSource& source) const
{
    Workspace workspace;
    return parse(source, workspace);
}

model::ParsedSession JSONLParser::parse(const model::SessionSource& source, Workspace& workspace) const
{
    const std::string& path = source.url;
    // Non-blocking, so that a FIFO or device named like a transcript cannot stall the open.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        throwFileError(errno, "open", path);
    struct stat info
    {};
    if (::fstat(file.get(), &info) != 0)
        throwFileError(errno, "read the attributes of", path);
    if (!S_ISREG(info.st_mode))
        throwFileError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, "read (not a regular file)", path);

    const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
    const std::size_t start = size > tailLimit ? size - tailLimit : 0;
    const std::size_t wanted = size - start;
    // Bytes appended after the size was taken are left for the next parse, so that no more than the limit is read.
    char* const buffer = workspace.m_buffers->reserve(wanted);
    std::size_t length = 0;
    while (length < wanted) {
        const ssize_t got = ::pread(file.get(), buffer + length, wanted - length, static_cast<off_t>(start + length));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwFileError(errno, "read", path);
        }
        if (got == 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    std::fill_n(buffer + length, simdjson::SIMDJSON_PADDING, '\0');

    model::ParsedSession initial;
    initial.id = model::fileStem(path);
    initial.tool = m_tool;
    const auto modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    initial.startedAt = modified;
    initial.lastActivityAt = modified;
    initial.sourcePath = path;
    return applyTail(buffer, length, start != 0, std::move(initial), workspace.m_buffers->json);
}

model::ParsedSession JSONLParser::parseTail(std::string_view tail, bool startsMidLine,
                                            model::ParsedSession initial) const
{
    std::unique_ptr<char[]> buffer(new char[tail.size() + simdjson::SIMDJSON_PADDING]);
    std::copy(tail.begin(), tail.end(), buffer.get());
    std::fill_n(buffer.get() + tail.size(), simdjson::SIMDJSON_PADDING, '\0');
    initial.tool = m_tool;
    simdjson::dom::parser parser;
    return applyTail(buffer.get(), tail.size(), startsMidLine, std::move(initial), parser);
}

} // namespace loomwatch::ingestion
