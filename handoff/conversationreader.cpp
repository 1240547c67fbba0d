#include "handoff/conversationreader.h"

#include "handoff/unicodetext.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>

namespace loomwatch::handoff {

namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;
using Value = std::optional<element>;

// The values under `keys` among the members of `node`, in one pass. Where a key repeats, its last member counts.
template <std::size_t count>
std::array<Value, count> membersOf(object node, const std::array<std::string_view, count>& keys)
{
    std::array<Value, count> found;
    for (const auto field : node) {
        for (std::size_t i = 0; i < count; ++i) {
            if (field.key == keys[i]) {
                found[i] = field.value;
                break;
            }
        }
    }
    return found;
}

std::optional<std::string_view> stringOf(const Value& value)
{
    std::string_view text;
    if (!value || value->get_string().get(text) != simdjson::SUCCESS)
        return std::nullopt;
    return text;
}

std::optional<object> objectOf(const Value& value)
{
    object node;
    if (!value || value->get_object().get(node) != simdjson::SUCCESS)
        return std::nullopt;
    return node;
}

std::optional<array> arrayOf(const Value& value)
{
    array items;
    if (!value || value->get_array().get(items) != simdjson::SUCCESS)
        return std::nullopt;
    return items;
}

bool isTrue(const Value& value)
{
    bool flag = false;
    return value && value->get_bool().get(flag) == simdjson::SUCCESS && flag;
}

// Agents wrap what they add to a user's turn themselves (command output, reminders, instructions) in tags.
bool beginsWithTag(std::string_view text)
{
    std::size_t pos = 0;
    while (const std::size_t n = whiteSpaceLength(text, pos))
        pos += n;
    return pos < text.size() && text[pos] == '<';
}

std::string_view trimmed(std::string_view text)
{
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (const std::size_t n = whiteSpaceLength(text, pos)) {
            pos += n;
            continue;
        }
        begin = std::min(begin, pos);
        do
            ++pos;
        while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80);
        end = pos;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view{};
}

std::string_view firstNonBlankLine(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        if (!line.empty())
            return line;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return {};
}

// Appends the string "text" of every item of `content` whose "type" is one of `types`, one space between them.
// False when there is no such item; items of other shapes are passed over.
bool appendTexts(array content, std::initializer_list<std::string_view> types, std::string& out)
{
    bool any = false;
    for (const element item : content) {
        object node;
        if (item.get_object().get(node) != simdjson::SUCCESS)
            continue;
        const auto [type, text] = membersOf<2>(node, {"type", "text"});
        const auto itemType = stringOf(type);
        const auto itemText = stringOf(text);
        if (!itemType || !itemText || std::find(types.begin(), types.end(), *itemType) == types.end())
            continue;
        if (any)
            out += ' ';
        out += *itemText;
        any = true;
    }
    return any;
}

// A command given as one string or as its words; anything else is none.
bool appendCommand(const Value& value, ConversationReader::Event& event)
{
    const std::size_t before = event.text.size();
    event.text += ": ";
    const std::size_t start = event.text.size();
    if (const auto text = stringOf(value)) {
        event.text += *text;
    } else if (const auto words = arrayOf(value)) {
        for (const element word : *words) {
            std::string_view part;
            if (word.get_string().get(part) != simdjson::SUCCESS) {
                event.text.resize(before);
                return false;
            }
            if (event.text.size() > start)
                event.text += ' ';
            event.text += part;
        }
    } else {
        event.text.resize(before);
        return false;
    }
    event.commandStart = start;
    return true;
}

void readToolUse(std::string_view name, const Value& input, ConversationReader::Event& event)
{
    event.kind = ConversationReader::Event::Kind::tool;
    event.text = name;
    const auto arguments = objectOf(input);
    if (!arguments)
        return;
    const auto values =
        membersOf<7>(*arguments, {"command", "file_path", "path", "pattern", "url", "description", "prompt"});
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (const auto argument = stringOf(values[i])) {
            event.text += ": ";
            if (i == 0)
                event.commandStart = event.text.size();
            event.text += *argument;
            return;
        }
    }
}

void readFailedResult(const Value& content, ConversationReader::Event& event)
{
    event.kind = ConversationReader::Event::Kind::error;
    std::string joined;
    std::string_view text;
    if (const auto single = stringOf(content))
        text = *single;
    else if (const auto items = arrayOf(content); items && appendTexts(*items, {"text"}, joined))
        text = joined;
    const std::string_view line = firstNonBlankLine(text);
    event.text = line.empty() ? "Error:" : "Error: ";
    event.text += line;
}

} // namespace

std::string_view ConversationReader::Event::command() const
{
    return hasCommand() ? std::string_view(text).substr(commandStart) : std::string_view();
}

bool ConversationReader::read(object line, Event& event)
{
    event.text.clear();
    event.commandStart = std::string::npos;
    const auto [type, message, isMeta, payload] = membersOf<4>(line, {"type", "message", "isMeta", "payload"});
    const auto lineType = stringOf(type);
    if (lineType == "user" || lineType == "assistant") {
        const auto body = objectOf(message);
        return body && !isTrue(isMeta) && readClaude(*body, lineType == "user", event);
    }
    if (lineType == "response_item") {
        const auto item = objectOf(payload);
        return item && readCodex(*item, event);
    }
    // Codex files from before the envelope hold the items as lines of their own.
    return readCodex(line, event);
}

bool ConversationReader::readClaude(object message, bool fromUser, Event& event)
{
    const auto [content] = membersOf<1>(message, {"content"});
    event.kind = fromUser ? Event::Kind::user : Event::Kind::assistant;
    if (const auto text = stringOf(content)) {
        event.text = *text;
        return !(fromUser && beginsWithTag(event.text));
    }
    const auto items = arrayOf(content);
    if (!items)
        return false;
    if (appendTexts(*items, {"text"}, event.text))
        return !(fromUser && beginsWithTag(event.text));

    // A user's turn without text carries tool results, worth telling only when one failed; an assistant's
    // carries the tools it called, of which the last is told.
    std::optional<std::string_view> toolName;
    Value toolInput;
    for (const element item : *items) {
        object node;
        if (item.get_object().get(node) != simdjson::SUCCESS)
            continue;
        const auto [itemType, name, input, isError, resultContent] =
            membersOf<5>(node, {"type", "name", "input", "is_error", "content"});
        const auto kind = stringOf(itemType);
        if (fromUser && kind == "tool_result" && isTrue(isError)) {
            readFailedResult(resultContent, event);
            return true;
        }
        if (!fromUser && kind == "tool_use" && stringOf(name)) {
            toolName = stringOf(name);
            toolInput = input;
        }
    }
    if (!toolName)
        return false;
    readToolUse(*toolName, toolInput, event);
    return true;
}

bool ConversationReader::readCodex(object item, Event& event)
{
    const auto [type, role, content, name, arguments, action] =
        membersOf<6>(item, {"type", "role", "content", "name", "arguments", "action"});
    const auto itemType = stringOf(type);
    if (itemType == "message") {
        const auto speaker = stringOf(role);
        const auto items = arrayOf(content);
        if (!items || (speaker != "user" && speaker != "assistant"))
            return false;
        event.kind = speaker == "user" ? Event::Kind::user : Event::Kind::assistant;
        return appendTexts(*items, {"input_text", "output_text"}, event.text) &&
               !(event.kind == Event::Kind::user && beginsWithTag(event.text));
    }
    event.kind = Event::Kind::tool;
    if (itemType == "local_shell_call") {
        event.text = "shell";
        if (const auto call = objectOf(action))
            appendCommand(membersOf<1>(*call, {"command"})[0], event);
        return true;
    }
    const auto toolName = stringOf(name);
    if (!toolName || (itemType != "function_call" && itemType != "custom_tool_call"))
        return false;
    event.text = *toolName;
    if (const auto text = stringOf(arguments); text && itemType == "function_call")
        appendCommandArgument(*text, event);
    return true;
}

void ConversationReader::appendCommandArgument(std::string_view arguments, Event& event)
{
    object decoded;
    if (m_arguments.parse(arguments.data(), arguments.size()).get_object().get(decoded) != simdjson::SUCCESS)
        return;
    const auto [command, cmd] = membersOf<2>(decoded, {"command", "cmd"});
    if (!appendCommand(command, event))
        appendCommand(cmd, event);
}

} // namespace loomwatch::handoff
