#pragma once

#include "model/decimal.h"
#include "model/sessiontypes.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace loomwatch::pricing {

struct ModelPrice
{
    std::string provider;
    std::string model;
    std::vector<std::string> aliases;
    model::Decimal inputPerMillion;
    model::Decimal outputPerMillion;
    model::Decimal cacheReadPerMillion;
    model::Decimal cacheWritePerMillion;
};

struct PricingTable
{
    std::int64_t version = 0;
    std::string effectiveDate;
    std::string currency;
    std::vector<ModelPrice> models;
    std::string notice;

    // Used whenever no table can be loaded: no models, so no estimates.
    static PricingTable fallback();
};

// what() is the decoder's description of the first problem, shown after "Could not save: ".
class PricingDecodeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class PricingService
{
public:
    PricingService(); // the fallback table
    explicit PricingService(PricingTable table);

    // Every key required; prices built from each JSON number's own text. Throws PricingDecodeError.
    static PricingTable decode(std::string_view json);
    // The decoded table, or the fallback table when the text does not decode.
    static PricingService fromJson(std::string_view json) noexcept;

    const PricingTable& table() const { return m_table; }

    std::optional<model::Decimal> estimateCost(model::AgentTool tool, const std::optional<std::string>& modelName,
                                               const model::TokenUsage& tokens) const;
    // A session's estimate: the sum of its models' estimates (its modelTokens), where a model without a price adds
    // nothing; none when no model that has tokens has a price. A session without per-model tokens is priced by its
    // model and tokens.
    std::optional<model::Decimal> estimateCost(const model::AgentSession& session) const;

private:
    PricingTable m_table;
};

} // namespace loomwatch::pricing
