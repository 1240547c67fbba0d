#include "cli/sessionids.h"

#include <algorithm>

namespace loomwatch::cli {

namespace {

constexpr std::size_t minimumLength = 8;

std::size_t commonPrefixLength(std::string_view a, std::string_view b)
{
    return static_cast<std::size_t>(std::ranges::mismatch(a, b).in1 - a.begin());
}

} // namespace

std::string_view localId(std::string_view id)
{
    const std::size_t colon = id.find(':');
    return colon == std::string_view::npos ? id : id.substr(colon + 1);
}

std::vector<std::string> shortIds(const std::vector<model::AgentSession>& sessions)
{
    // Every id with and without its prefix, sorted: the longest common start of one string with any
    // other is the one with its nearest neighbours that belong to other sessions.
    struct Key
    {
        std::string_view text;
        std::size_t owner;
        bool local;
    };
    std::vector<Key> keys;
    keys.reserve(sessions.size() * 2);
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        keys.push_back({localId(sessions[i].id), i, true});
        keys.push_back({sessions[i].id, i, false});
    }
    std::ranges::sort(keys, {}, &Key::text);
    std::vector<std::string> result(sessions.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (!keys[k].local)
            continue;
        const std::string_view local = keys[k].text;
        std::size_t length = std::min(minimumLength, local.size());
        bool shared = false;
        const auto compare = [&](std::size_t other) {
            shared = shared || keys[other].text == local;
            length = std::max(length, commonPrefixLength(local, keys[other].text) + 1);
        };
        std::size_t before = k;
        while (before > 0 && keys[--before].owner == keys[k].owner) {
        }
        if (keys[before].owner != keys[k].owner)
            compare(before);
        std::size_t after = k + 1;
        while (after < keys.size() && keys[after].owner == keys[k].owner)
            ++after;
        if (after < keys.size())
            compare(after);
        while (length < local.size() && (static_cast<unsigned char>(local[length]) & 0xC0) == 0x80)
            ++length; // not inside a UTF-8 sequence
        const auto& session = sessions[keys[k].owner];
        result[keys[k].owner] = shared ? session.id : std::string(local.substr(0, length));
    }
    return result;
}

std::vector<const model::AgentSession*> resolveSessionId(const std::vector<model::AgentSession>& sessions,
                                                         std::string_view query)
{
    for (const auto& exact : {+[](const model::AgentSession& s) { return std::string_view(s.id); },
                              +[](const model::AgentSession& s) {
                                  return localId(s.id);
                              }}) {
        std::vector<const model::AgentSession*> found;
        for (const auto& session : sessions) {
            if (exact(session) == query)
                found.push_back(&session);
        }
        if (found.size() == 1)
            return found;
    }
    std::vector<const model::AgentSession*> found;
    for (const auto& session : sessions) {
        if (session.id.starts_with(query) || localId(session.id).starts_with(query))
            found.push_back(&session);
    }
    return found;
}

} // namespace loomwatch::cli
