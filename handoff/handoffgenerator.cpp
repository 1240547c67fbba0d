#include "handoff/handoffgenerator.h"

#include "handoff/conversationreader.h"
#include "handoff/keyblocks.h"
#include "handoff/secretredaction.h"
#include "handoff/snippet.h"
#include "handoff/unicodetext.h"
#include "model/clock.h"
#include "model/regularfile.h"

#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <utility>

namespace loomwatch::handoff {

namespace {

// The last `limit` bytes of the file (all of it when shorter); `cut` tells whether bytes came before them.
std::string readTail(const std::string& path, std::size_t limit, bool& cut)
{
    const model::RegularFile file(path);
    const std::int64_t start = std::max<std::int64_t>(file.size() - static_cast<std::int64_t>(limit), 0);
    cut = start > 0;
    // A file that grows while it is read still yields at most `limit` bytes.
    std::string data(static_cast<std::size_t>(file.size() - start), '\0');
    data.resize(file.readAt(data.data(), data.size(), start));
    return data;
}

// What of a tail cut from a longer transcript can be shown. Its first line is only the end of a line, and
// whatever secret began before the cut (a key's last characters, the body of a key block) can no longer be
// recognised: that line is left out, and so is everything up to a key block's END line whose BEGIN was cut off.
std::string_view safePartOfCutTail(std::string_view text)
{
    const std::size_t firstBreak = text.find('\n');
    text.remove_prefix(firstBreak == std::string_view::npos ? text.size() : firstBreak + 1);
    for (std::size_t end = text.find("-----END "); end != std::string_view::npos;
         end = text.find("-----END ", end + 1)) {
        const std::size_t length = privateKeyArmourLength(text, end, false);
        if (length == 0)
            continue;
        for (std::size_t begin = text.find("-----BEGIN "); begin < end; begin = text.find("-----BEGIN ", begin + 1)) {
            if (privateKeyArmourLength(text, begin, true) != 0)
                return text;
        }
        text.remove_prefix(end + length);
        return text;
    }
    return text;
}

struct Conversation
{
    std::vector<std::string> actions;
    std::optional<std::string> objective;
};

std::string actionLine(const ConversationReader::Event& event)
{
    using Kind = ConversationReader::Event::Kind;
    if (event.kind == Kind::user)
        return "User: " + event.text;
    if (event.kind == Kind::assistant)
        return "Assistant: " + event.text;
    if (event.hasCommand())
        return "Ran: " + std::string(event.command());
    return event.text;
}

// The last events of the lines of `bytes` and the user's last request, or nothing when they hold no event. Read
// before any redaction, which could break a line's JSON.
std::optional<Conversation> conversationOf(std::string_view bytes)
{
    std::string text = toValidUtf8(bytes);
    const std::size_t length = text.size();
    // The decoder reads a little past the end of what it decodes.
    text.append(simdjson::SIMDJSON_PADDING, '\0');

    simdjson::dom::parser json;
    ConversationReader reader;
    std::array<ConversationReader::Event, HandoffGenerator::actionCount> last;
    ConversationReader::Event next;
    std::size_t count = 0;
    std::optional<std::string> request;
    for (std::size_t start = 0; start < length;) {
        const std::size_t end = std::min(text.find('\n', start), length);
        simdjson::dom::object line;
        const bool decoded =
            end > start &&
            json.parse(text.data() + start, end - start, false).get_object().get(line) == simdjson::SUCCESS;
        start = end + 1;
        if (!decoded || !reader.read(line, next))
            continue;
        if (next.kind == ConversationReader::Event::Kind::user)
            request = next.text;
        std::swap(next, last[count++ % last.size()]);
    }
    if (count == 0)
        return std::nullopt;

    Conversation conversation;
    for (std::size_t i = count > last.size() ? count - last.size() : 0; i < count; ++i)
        conversation.actions.push_back(actionLine(last[i % last.size()]));
    if (request)
        conversation.objective = makeSnippet(*request, HandoffGenerator::objectiveCharacters);
    return conversation;
}

std::string formatDateTime(model::Timestamp t)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort));
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    if (format == nullptr)
        return model::formatIso8601Millis(t);
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text, status);
    if (U_FAILURE(status))
        return model::formatIso8601Millis(t);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string recentActions(const std::vector<std::string>& lines)
{
    if (lines.empty())
        return "- Recent transcript details were unavailable; inspect the current workspace before changing files.";
    std::string block;
    const std::size_t count = std::min(HandoffGenerator::actionCount, lines.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            block += '\n';
        block += "- ";
        block += makeSnippet(lines[i], HandoffGenerator::actionCharacters);
    }
    return block;
}

using Substitution = std::pair<std::string_view, std::string>;

// One pass over the template: inserted values are never searched again, so an excerpt that quotes
// "{{path}}" stays as written whatever the order of the placeholders.
std::string fillTemplate(std::string_view text, const std::vector<Substitution>& values)
{
    std::string out;
    out.reserve(text.size() + 1024);
    std::size_t copied = 0;
    for (std::size_t pos = text.find("{{"); pos != std::string_view::npos; pos = text.find("{{", pos)) {
        const auto hit = std::find_if(values.begin(), values.end(),
                                      [&](const Substitution& s) { return text.substr(pos).starts_with(s.first); });
        if (hit == values.end()) {
            ++pos;
            continue;
        }
        out.append(text, copied, pos - copied);
        out += hit->second;
        copied = pos = pos + hit->first.size();
    }
    out.append(text, copied);
    return out;
}

} // namespace

HandoffGenerator::HandoffGenerator(TemplateSource source) : m_source(std::move(source)) {}

std::string HandoffGenerator::generateHandoff(const model::AgentSession& session) const
{
    if (!session.sourcePath || std::filesystem::path(*session.sourcePath).extension() != ".jsonl")
        return renderHandoff(session, {});

    bool cut = false;
    const std::string tail = readTail(*session.sourcePath, tailBytes, cut);
    // A cut tail loses its first line, whole or not: nothing tells whether the cut fell at its start.
    std::string_view whole = tail;
    if (cut) {
        const std::size_t firstBreak = whole.find('\n');
        whole.remove_prefix(firstBreak == std::string_view::npos ? whole.size() : firstBreak + 1);
    }
    if (auto conversation = conversationOf(whole))
        return renderHandoff(session, conversation->actions, conversation->objective);

    const std::string text = redactSecrets(toValidUtf8(cut ? safePartOfCutTail(tail) : std::string_view(tail)));

    std::deque<std::string_view> last;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start) {
            last.emplace_back(text.data() + start, end - start);
            if (last.size() > keptLines)
                last.pop_front();
        }
        start = end + 1;
    }
    std::vector<std::string> lines;
    lines.reserve(last.size());
    for (std::string_view line : last)
        lines.push_back(prefixCharacters(line, lineCharacters));
    return renderHandoff(session, lines);
}

std::string HandoffGenerator::renderHandoff(const model::AgentSession& session, const std::vector<std::string>& lines,
                                            const std::optional<std::string>& objective) const
{
    std::optional<std::string> editable;
    try {
        if (m_source)
            editable = m_source();
    } catch (...) {
        // An unreadable template falls back to the built-in one, as a missing one does.
    }
    std::string text = editable && isValidUtf8(*editable) ? std::move(*editable) : std::string(builtInTemplate);

    const std::string tool(model::displayName(session.tool));
    const std::string request = objective             ? *objective
                                : session.lastSnippet ? *session.lastSnippet
                                                      : "Continue the active " + tool + " task.";
    const std::string currentState = "Loomwatch last observed this session as **" +
                                     std::string(model::displayName(session.state)) + "** at " +
                                     formatDateTime(session.lastActivityAt) + ".";

    const std::vector<Substitution> values = {
        {"{{objective}}", request},
        {"{{current_state}}", currentState},
        {"{{path}}", session.projectPath.value_or("Unknown")},
        {"{{branch}}", session.branch.value_or("Unknown")},
        {"{{tool}}", tool},
        {"{{recent_actions}}", recentActions(lines)},
        {"{{blockers}}",
         "- No explicit blocker could be established safely. Verify current repository and process state."},
        {"{{next_steps}}",
         "1. Inspect the workspace and Git status.\n2. Confirm the last completed action.\n3. Continue and run "
         "verification."},
        {"{{verification}}", "- Confirm the requested behavior and report exact build/test results."},
    };
    return fillTemplate(text, values);
}

} // namespace loomwatch::handoff
