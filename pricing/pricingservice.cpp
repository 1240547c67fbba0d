#include "pricing/pricingservice.h"

#include <simdjson.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <utility>

namespace loomwatch::pricing {

namespace {

namespace od = simdjson::ondemand;

// A key's decoded value, or why it could not be decoded. A duplicated key overwrites both, so only
// its last occurrence is judged, as a decoder that keeps the last value would.
template <typename T>
struct Slot
{
    bool present = false;
    std::optional<T> value;
    std::string error;

    void set(T v)
    {
        present = true;
        value = std::move(v);
        error.clear();
    }
    void fail(std::string message)
    {
        present = true;
        value.reset();
        error = std::move(message);
    }
};

class Failure
{
public:
    explicit Failure(std::string message) : m_message(std::move(message)) {}
    const std::string& message() const { return m_message; }

private:
    std::string m_message;
};

void check(simdjson::error_code error)
{
    if (error != simdjson::SUCCESS)
        throw Failure(std::string("The pricing table is not valid JSON: ") + simdjson::error_message(error));
}

template <typename T>
T get(simdjson::simdjson_result<T> result)
{
    T value{};
    check(std::move(result).get(value));
    return value;
}

od::json_type typeOf(od::value& value)
{
    return get(value.type());
}

std::string quoted(std::string_view key)
{
    return "\"" + std::string(key) + "\"";
}

std::string where(std::string_view key, std::size_t model)
{
    return model == 0 ? quoted(key) : quoted(key) + " of model " + std::to_string(model);
}

void readString(od::value& value, Slot<std::string>& slot, std::string_view key, std::size_t model = 0)
{
    if (typeOf(value) != od::json_type::string)
        return slot.fail(where(key, model) + " must be a string.");
    slot.set(std::string(get(value.get_string())));
}

// The price from the number's own text, never through a binary double.
void readPrice(od::value& value, Slot<model::Decimal>& slot, std::string_view key, std::size_t model)
{
    if (typeOf(value) != od::json_type::number)
        return slot.fail(where(key, model) + " must be a number.");
    std::string_view raw = value.raw_json_token();
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\n' || raw.back() == '\r'))
        raw.remove_suffix(1);
    if (auto price = model::Decimal::fromString(raw))
        slot.set(*price);
    else
        slot.fail(where(key, model) + " is not a number Loomwatch can hold.");
}

void readAliases(od::value& value, Slot<std::vector<std::string>>& slot, std::size_t model)
{
    const std::string error = where("aliases", model) + " must be an array of strings.";
    if (typeOf(value) != od::json_type::array)
        return slot.fail(error);
    std::vector<std::string> aliases;
    bool ok = true;
    for (auto element : get(value.get_array())) {
        od::value alias = get(std::move(element));
        if (typeOf(alias) != od::json_type::string)
            ok = false;
        else if (ok)
            aliases.emplace_back(get(alias.get_string()));
    }
    if (ok)
        slot.set(std::move(aliases));
    else
        slot.fail(error);
}

template <typename T>
void require(const Slot<T>& slot, std::string_view key, std::size_t model = 0)
{
    if (!slot.present)
        throw Failure("The key " + quoted(key) + (model == 0 ? "" : " of model " + std::to_string(model)) +
                      " is missing.");
    if (!slot.error.empty())
        throw Failure(slot.error);
}

// Decodes one element of "models"; throws Failure with the element's first problem.
ModelPrice readModel(od::value& value, std::size_t index)
{
    if (typeOf(value) != od::json_type::object)
        throw Failure("Model " + std::to_string(index) + " must be an object.");
    Slot<std::string> provider, name;
    Slot<std::vector<std::string>> aliases;
    Slot<model::Decimal> input, output, cacheRead, cacheWrite;
    for (auto field : get(value.get_object())) {
        od::field f = get(std::move(field));
        const std::string_view key = get(f.unescaped_key());
        od::value v = f.value();
        if (key == "provider")
            readString(v, provider, key, index);
        else if (key == "model")
            readString(v, name, key, index);
        else if (key == "aliases")
            readAliases(v, aliases, index);
        else if (key == "inputPerMillion")
            readPrice(v, input, key, index);
        else if (key == "outputPerMillion")
            readPrice(v, output, key, index);
        else if (key == "cacheReadPerMillion")
            readPrice(v, cacheRead, key, index);
        else if (key == "cacheWritePerMillion")
            readPrice(v, cacheWrite, key, index);
    }
    require(provider, "provider", index);
    require(name, "model", index);
    require(aliases, "aliases", index);
    require(input, "inputPerMillion", index);
    require(output, "outputPerMillion", index);
    require(cacheRead, "cacheReadPerMillion", index);
    require(cacheWrite, "cacheWritePerMillion", index);
    return ModelPrice{
        std::move(*provider.value), std::move(*name.value), std::move(*aliases.value), *input.value, *output.value,
        *cacheRead.value,           *cacheWrite.value};
}

void readModels(od::value& value, Slot<std::vector<ModelPrice>>& slot)
{
    if (typeOf(value) != od::json_type::array)
        return slot.fail("\"models\" must be an array.");
    std::vector<ModelPrice> models;
    std::string error;
    std::size_t index = 0;
    for (auto element : get(value.get_array())) {
        od::value v = get(std::move(element));
        ++index;
        try {
            ModelPrice price = readModel(v, index);
            if (error.empty())
                models.push_back(std::move(price));
        } catch (const Failure& failure) {
            if (error.empty())
                error = failure.message();
        }
    }
    if (error.empty())
        slot.set(std::move(models));
    else
        slot.fail(error);
}

PricingTable decodeTable(std::string_view json)
{
    const simdjson::padded_string padded(json);
    // The on-demand parser only validates what it visits: check the whole document first.
    simdjson::dom::parser validator;
    check(validator.parse(padded).error());

    od::parser parser;
    od::document document = get(parser.iterate(padded));
    od::object root;
    if (document.get_object().get(root) != simdjson::SUCCESS)
        throw Failure("The pricing table must be a JSON object.");

    Slot<std::int64_t> version;
    Slot<std::string> effectiveDate, currency, notice;
    Slot<std::vector<ModelPrice>> models;
    for (auto field : root) {
        od::field f = get(std::move(field));
        const std::string_view key = get(f.unescaped_key());
        od::value v = f.value();
        if (key == "version") {
            std::int64_t n = 0;
            if (typeOf(v) == od::json_type::number && v.get_int64().get(n) == simdjson::SUCCESS)
                version.set(n);
            else
                version.fail("\"version\" must be an integer.");
        } else if (key == "effectiveDate") {
            readString(v, effectiveDate, key);
        } else if (key == "currency") {
            readString(v, currency, key);
        } else if (key == "models") {
            readModels(v, models);
        } else if (key == "notice") {
            readString(v, notice, key);
        }
    }
    require(version, "version");
    require(effectiveDate, "effectiveDate");
    require(currency, "currency");
    require(models, "models");
    require(notice, "notice");
    return PricingTable{*version.value, std::move(*effectiveDate.value), std::move(*currency.value),
                        std::move(*models.value), std::move(*notice.value)};
}

bool isAscii(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Full Unicode lower-casing (root locale), with a shortcut for ASCII.
std::string lowerCased(std::string_view text)
{
    std::string out;
    if (isAscii(text)) {
        out.resize(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
            out[i] = asciiLower(text[i]);
        return out;
    }
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(out);
    return out;
}

// Whether `text` lower-cased equals `lower`.
bool lowersTo(std::string_view text, std::string_view lower)
{
    if (!isAscii(text))
        return lowerCased(text) == lower;
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i]) != lower[i])
            return false;
    }
    return true;
}

} // namespace

PricingTable PricingTable::fallback()
{
    return PricingTable{0, "unknown", "USD", {}, "Pricing unavailable."};
}

PricingService::PricingService() : m_table(PricingTable::fallback()) {}

PricingService::PricingService(PricingTable table) : m_table(std::move(table)) {}

PricingTable PricingService::decode(std::string_view json)
{
    try {
        return decodeTable(json);
    } catch (const Failure& failure) {
        throw PricingDecodeError(failure.message());
    } catch (const simdjson::simdjson_error& error) {
        throw PricingDecodeError(std::string("The pricing table is not valid JSON: ") + error.what());
    }
}

PricingService PricingService::fromJson(std::string_view json) noexcept
{
    try {
        return PricingService(decode(json));
    } catch (...) {
        return PricingService();
    }
}

std::optional<model::Decimal> PricingService::estimateCost(model::AgentTool tool,
                                                           const std::optional<std::string>& modelName,
                                                           const model::TokenUsage& tokens) const
{
    if (!modelName)
        return std::nullopt;
    const std::string name = lowerCased(*modelName);
    // The raw values are ASCII and no other character lower-cases to their letters, so an ASCII
    // comparison is the full lower-cased comparison.
    const std::string provider = lowerCased(model::rawValue(tool));

    const ModelPrice* match = nullptr;
    for (const ModelPrice& entry : m_table.models) {
        if (!lowersTo(entry.provider, provider))
            continue;
        if (lowersTo(entry.model, name)) {
            match = &entry;
            break;
        }
        for (const std::string& alias : entry.aliases) {
            if (name.find(alias) != std::string::npos) {
                match = &entry;
                break;
            }
        }
        if (match)
            break;
    }
    if (!match)
        return std::nullopt;

    static const model::Decimal million(1000000);
    // A zero count adds an exact zero, so skipping it changes no result.
    model::Decimal cost;
    for (const auto& [count, perMillion] :
         {std::pair{tokens.input, &match->inputPerMillion}, std::pair{tokens.output, &match->outputPerMillion},
          std::pair{tokens.cacheRead, &match->cacheReadPerMillion},
          std::pair{tokens.cacheWrite, &match->cacheWritePerMillion}}) {
        if (count != 0)
            cost += model::Decimal(count) / million * *perMillion;
    }
    return cost;
}

std::optional<model::Decimal> PricingService::estimateCost(const model::AgentSession& session) const
{
    if (session.modelTokens.empty())
        return estimateCost(session.tool, session.model, session.tokens);
    std::optional<model::Decimal> total;
    for (const model::ModelTokens& perModel : session.modelTokens) {
        if (perModel.model.empty() || perModel.tokens == model::TokenUsage{})
            continue;
        if (auto cost = estimateCost(session.tool, perModel.model, perModel.tokens))
            total = total ? *total + *cost : *cost;
    }
    return total;
}

} // namespace loomwatch::pricing
