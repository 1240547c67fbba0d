#include "ingestion/jsonsearch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace loomwatch::ingestion {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

namespace {

bool isKind(element value, JsonSearch::Kind kind)
{
    switch (value.type()) {
    case element_type::STRING:
        return kind == JsonSearch::Kind::string;
    case element_type::INT64:
    case element_type::UINT64:
    case element_type::DOUBLE:
        return kind == JsonSearch::Kind::number;
    case element_type::OBJECT:
        return kind == JsonSearch::Kind::object;
    default:
        return false;
    }
}

std::uint64_t hashKey(std::string_view key)
{
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15u;
    std::uint64_t hash = key.size() * multiplier;
    for (std::size_t i = 0; i < key.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, key.data() + i, std::min<std::size_t>(8, key.size() - i));
        hash = (hash ^ word) * multiplier;
        hash ^= hash >> 29;
    }
    return hash;
}

} // namespace

// The objects below the members of the objects being searched (a stack: those of every object on the current path,
// each object's in document order), and an index of the current object's children by key that finds the ones a
// later member of the same object hides.
struct JsonSearch::Scratch::Memory
{
    struct Child
    {
        std::string_view key;
        object value;
        bool hidden;
    };
    // The index is open addressing, with generations so that starting the next object empties it at once. A slot is
    // in use when it carries the current generation; it then holds the latest child under its key.
    struct Slot
    {
        std::uint32_t generation = 0;
        std::uint32_t child = 0;
    };

    std::vector<Child> children;
    std::vector<Slot> slots = std::vector<Slot>(64); // a power of two, at most half in use
    std::uint32_t generation = 0;
    std::size_t slotsInUse = 0;
    // Children of the current object from here on are not in the index yet: most objects never need it.
    std::size_t firstUnindexed = 0;
    // Bits of the lengths and first bytes of the current object's children's keys: a member that misses either
    // has no earlier namesake among them.
    std::uint64_t childLengths = 0;
    std::uint64_t childFirstBytes = 0;

    static std::uint64_t lengthBit(std::string_view key) { return std::uint64_t{1} << (key.size() & 63); }
    static std::uint64_t firstByteBit(std::string_view key)
    {
        return key.empty() ? 1u : std::uint64_t{1} << (static_cast<unsigned char>(key.front()) & 63);
    }

    void startObject()
    {
        firstUnindexed = children.size();
        childLengths = 0;
        childFirstBytes = 0;
        slotsInUse = 0;
        if (++generation == 0) {
            std::fill(slots.begin(), slots.end(), Slot{});
            generation = 1;
        }
    }

    Slot& probe(std::string_view key)
    {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hashKey(key) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (slot.generation != generation || children[slot.child].key == key)
                return slot;
        }
    }

    void index(std::uint32_t child)
    {
        if (2 * (slotsInUse + 1) > slots.size()) {
            const std::vector<Slot> old = std::exchange(slots, std::vector<Slot>(slots.size() * 2));
            for (const Slot& slot : old) {
                if (slot.generation == generation)
                    probe(children[slot.child].key) = slot;
            }
        }
        Slot& slot = probe(children[child].key);
        if (slot.generation != generation)
            ++slotsInUse;
        slot = {generation, child};
    }

    // A member of the current object, after the children noted so far.
    void note(std::string_view key, element value)
    {
        if ((childLengths & lengthBit(key)) && (childFirstBytes & firstByteBit(key))) {
            for (; firstUnindexed < children.size(); ++firstUnindexed)
                index(static_cast<std::uint32_t>(firstUnindexed));
            const Slot& earlier = probe(key);
            if (earlier.generation == generation)
                children[earlier.child].hidden = true;
        }
        object child;
        if (value.get_object().get(child) != simdjson::SUCCESS)
            return;
        children.push_back({key, child, false});
        childLengths |= lengthBit(key);
        childFirstBytes |= firstByteBit(key);
    }
};

JsonSearch::Scratch::Scratch() : m_memory(std::make_unique<Memory>()) {}

JsonSearch::Scratch::~Scratch() = default;

std::optional<std::string_view> JsonSearch::Found::string(std::size_t lookup) const
{
    std::string_view text;
    if (!has(lookup) || m_values[lookup].get_string().get(text) != simdjson::SUCCESS)
        return std::nullopt;
    return text;
}

std::optional<object> JsonSearch::Found::object(std::size_t lookup) const
{
    simdjson::dom::object node;
    if (!has(lookup) || m_values[lookup].get_object().get(node) != simdjson::SUCCESS)
        return std::nullopt;
    return node;
}

std::optional<std::int64_t> JsonSearch::Found::integer(std::size_t lookup) const
{
    if (!has(lookup))
        return std::nullopt;
    const element value = m_values[lookup];
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

// The position of `name` among the keys, or -1.
inline int JsonSearch::keyIndex(std::string_view name) const
{
    if (name.size() >= m_keysByLength.size())
        return -1;
    for (std::uint32_t keys = m_keysByLength[name.size()]; keys != 0; keys &= keys - 1) {
        const auto k = static_cast<std::size_t>(std::countr_zero(keys));
        const std::string_view key = m_keys[k];
        if (key.front() == name.front() && key.back() == name.back() &&
            std::memcmp(key.data(), name.data(), name.size()) == 0)
            return static_cast<int>(k);
    }
    return -1;
}

// Called for every member of every object searched: most names are rejected by their length alone.
inline void JsonSearch::note(KeyedMembers& members, std::string_view key, element value) const
{
    if (key.size() >= m_keysByLength.size() || m_keysByLength[key.size()] == 0)
        return;
    const int k = keyIndex(key);
    if (k < 0)
        return;
    members.values.set(static_cast<std::size_t>(k), value);
    members.seen |= std::uint32_t{1} << k;
    members.seenLookups |= m_keyLookupBit[static_cast<std::size_t>(k)];
}

void JsonSearch::resolve(const KeyedMembers& members, Found& found) const
{
    for (std::uint32_t candidates = found.m_pending & members.seenLookups; candidates != 0;
         candidates &= candidates - 1) {
        const auto lookup = static_cast<std::size_t>(std::countr_zero(candidates));
        for (std::size_t k = m_firstKey[lookup]; k < m_firstKey[lookup + 1]; ++k) {
            if (((members.seen >> k) & 1u) && isKind(members.values[k], m_kinds[lookup])) {
                found.m_values.set(lookup, members.values[k]);
                found.m_found |= std::uint32_t{1} << lookup;
                found.m_pending &= ~(std::uint32_t{1} << lookup);
                break;
            }
        }
    }
}

JsonSearch::JsonSearch(std::initializer_list<Lookup> lookups)
{
    if (lookups.size() > maxLookups)
        throw std::invalid_argument("too many JSON lookups");
    for (const Lookup& lookup : lookups) {
        m_kinds[m_lookupCount] = lookup.kind;
        m_firstKey[m_lookupCount] = m_keyCount;
        for (const std::string_view key : lookup.keys) {
            if (m_keyCount == maxKeys || key.empty() || key.size() >= m_keysByLength.size() || keyIndex(key) >= 0)
                throw std::invalid_argument("unusable JSON lookup key: " + std::string(key));
            m_keys[m_keyCount] = key;
            m_keyLookupBit[m_keyCount] = std::uint32_t{1} << m_lookupCount;
            m_keysByLength[key.size()] |= std::uint32_t{1} << m_keyCount;
            ++m_keyCount;
        }
        ++m_lookupCount;
    }
    m_firstKey[m_lookupCount] = m_keyCount;
}

JsonSearch::Found JsonSearch::members(object node) const
{
    Found found;
    found.m_pending = (std::uint32_t{1} << m_lookupCount) - 1;
    KeyedMembers members;
    for (auto field : node)
        note(members, field.key, field.value);
    resolve(members, found);
    return found;
}

JsonSearch::Found JsonSearch::nested(object node, Scratch& scratch, std::uint32_t wanted,
                                     std::string_view skipMember) const
{
    Found found;
    found.m_pending = wanted & ((std::uint32_t{1} << m_lookupCount) - 1);
    if (found.m_pending != 0)
        searchNested(node, *scratch.m_memory, found, skipMember);
    return found;
}

void JsonSearch::searchNested(object node, Scratch::Memory& memory, Found& found, std::string_view skipMember) const
{
    KeyedMembers members;
    const std::size_t firstChild = memory.children.size();
    memory.startObject();
    for (auto field : node) {
        note(members, field.key, field.value);
        memory.note(field.key, field.value);
    }
    resolve(members, found);

    const std::size_t endChild = memory.children.size();
    for (std::size_t i = firstChild; i < endChild && found.m_pending != 0; ++i) {
        // A copy: searching below appends to the same stack.
        const auto child = memory.children[i];
        if (!child.hidden && (skipMember.empty() || child.key != skipMember))
            searchNested(child.value, memory, found, {});
    }
    memory.children.resize(firstChild);
}

} // namespace loomwatch::ingestion
