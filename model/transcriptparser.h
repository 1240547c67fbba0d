#pragma once

#include "model/sessiontypes.h"

namespace loomwatch::model {

class TranscriptParser
{
public:
    virtual ~TranscriptParser() = default;
    // Throws std::system_error when the file cannot be opened, positioned, read or stat'ed.
    // Malformed content never throws.
    virtual ParsedSession parse(const SessionSource& source) const = 0;
};

} // namespace loomwatch::model
