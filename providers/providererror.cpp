#include "providers/providererror.h"

namespace loomwatch::providers {

ProviderError::ProviderError(Kind kind, const std::string& description) : std::runtime_error(description), m_kind(kind)
{}

ProviderError ProviderError::unsupportedSchema(const std::string& message)
{
    return {Kind::unsupportedSchema, "Unsupported provider schema: " + message};
}

ProviderError ProviderError::unreadableDatabase()
{
    return {Kind::unreadableDatabase, "The provider database could not be opened read-only."};
}

} // namespace loomwatch::providers
