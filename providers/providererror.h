#pragma once

#include <stdexcept>
#include <string>

namespace loomwatch::providers {

// A database-backed provider's failure; what() is the description the user sees.
class ProviderError : public std::runtime_error
{
public:
    enum class Kind
    {
        unsupportedSchema,
        unreadableDatabase,
    };

    // `message` is the database's own error text, e.g. "no such column: s.path".
    static ProviderError unsupportedSchema(const std::string& message);
    static ProviderError unreadableDatabase();

    Kind kind() const { return m_kind; }

private:
    ProviderError(Kind kind, const std::string& description);

    Kind m_kind;
};

} // namespace loomwatch::providers
