#pragma once

#include <simdjson.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace loomwatch::ingestion {

// Looks up several facts at once in a decoded JSON object. The rules every lookup shares:
// - Members count in document order. Where an object repeats a key, only its last member counts, both for the
//   value under that key and for the objects searched below it.
// - A value of another kind than the one wanted counts as absent.
// - A nested lookup resolves at the first object, in pre-order (an object's own members before the objects nested
//   in them, siblings in document order), that holds a value of the wanted kind under one of the lookup's keys;
//   there the earlier key wins. Arrays and everything inside them are not searched.
class JsonSearch
{
public:
    static constexpr std::size_t maxLookups = 16;
    static constexpr std::size_t maxKeys = 32;
    static constexpr std::uint32_t allLookups = ~std::uint32_t{0};

    enum class Kind
    {
        string,
        number,
        object,
    };

    // One fact: the keys it goes by, in order of preference (each key belongs to one lookup only), and the kind of
    // value wanted.
    struct Lookup
    {
        std::vector<std::string_view> keys;
        Kind kind;
    };

private:
    // Room for values that are read only where a bit says one was written. Left uninitialized otherwise: every
    // line of a transcript fills several of these.
    template <std::size_t size>
    class Values
    {
    public:
        Values() {}
        simdjson::dom::element operator[](std::size_t i) const { return m_slots[i].value; }
        void set(std::size_t i, simdjson::dom::element value) { m_slots[i].value = value; }

    private:
        union Slot {
            Slot() {}
            simdjson::dom::element value;
        };
        std::array<Slot, size> m_slots;
    };

public:
    // What one search found, by the position of the lookup in the search's list. Refers into the decoded
    // document, so it is valid as long as that is.
    class Found
    {
    public:
        bool has(std::size_t lookup) const { return (m_found >> lookup) & 1u; }
        std::optional<std::string_view> string(std::size_t lookup) const;
        std::optional<simdjson::dom::object> object(std::size_t lookup) const;
        // The number truncated toward zero; nothing when none was found or it is not finite or lies outside the
        // 64-bit signed range.
        std::optional<std::int64_t> integer(std::size_t lookup) const;

    private:
        friend class JsonSearch;
        Values<maxLookups> m_values;
        std::uint32_t m_found = 0;
        std::uint32_t m_pending = 0;
    };

    // Memory that nested searches reuse, kept at the size of the widest object seen. One serves one thread at a
    // time.
    class Scratch
    {
    public:
        Scratch();
        ~Scratch();
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;

    private:
        friend class JsonSearch;
        struct Memory;
        std::unique_ptr<Memory> m_memory;
    };

    // Throws std::invalid_argument when there are more than maxLookups lookups or maxKeys keys, a key is empty or
    // longer than 63 bytes, or one key serves two lookups.
    JsonSearch(std::initializer_list<Lookup> lookups);

    // Among the members of `node` alone.
    Found members(simdjson::dom::object node) const;

    // Through `node` and the objects nested in it, for the lookups whose bits (1 << position) are set in `wanted`.
    // A member of `node` named `skipMember` is not entered.
    Found nested(simdjson::dom::object node, Scratch& scratch, std::uint32_t wanted = allLookups,
                 std::string_view skipMember = {}) const;

private:
    // The members of one object that go by a key: the last value under key k, where bit k of `seen` is set.
    struct KeyedMembers
    {
        Values<maxKeys> values;
        std::uint32_t seen = 0;
        std::uint32_t seenLookups = 0;
    };

    int keyIndex(std::string_view name) const;
    void note(KeyedMembers& members, std::string_view key, simdjson::dom::element value) const;
    void resolve(const KeyedMembers& members, Found& found) const;
    void searchNested(simdjson::dom::object node, Scratch::Memory& memory, Found& found,
                      std::string_view skipMember) const;

    std::size_t m_lookupCount = 0;
    std::array<Kind, maxLookups> m_kinds{};
    // The keys of lookup i are m_keys[m_firstKey[i] .. m_firstKey[i + 1]).
    std::array<std::size_t, maxLookups + 1> m_firstKey{};
    std::size_t m_keyCount = 0;
    std::array<std::string_view, maxKeys> m_keys{};
    std::array<std::uint32_t, maxKeys> m_keyLookupBit{};
    // Bit k of entry n is set when key k is n bytes long.
    std::array<std::uint32_t, 64> m_keysByLength{};
};

} // namespace loomwatch::ingestion
