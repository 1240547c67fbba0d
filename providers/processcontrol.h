#pragma once

#include "model/sessiontypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace loomwatch::providers {

enum class ProcessControlErrorKind
{
    failed,     // the signal call failed; errorNumber() holds its errno
    invalidPID, // a process that must not be signalled, or that is no longer the tool's process
};

// what() is the message the user sees: "Could not terminate process <pid>."
class ProcessControlError : public std::runtime_error
{
public:
    ProcessControlError(ProcessControlErrorKind kind, std::int32_t pid, int errorNumber = 0);

    ProcessControlErrorKind kind() const { return m_kind; }
    std::int32_t pid() const { return m_pid; }
    int errorNumber() const { return m_errorNumber; }

private:
    ProcessControlErrorKind m_kind;
    std::int32_t m_pid;
    int m_errorNumber;
};

// Sends SIGTERM once to `pid`, which must still be a process of `tool` as the process inspector
// recognises it, so a pid recycled by an unrelated process is never signalled. Never waits and never
// escalates. Throws ProcessControlError.
void terminate(std::int32_t pid, model::AgentTool tool);

std::string terminationFailureMessage(std::int32_t pid);

} // namespace loomwatch::providers
