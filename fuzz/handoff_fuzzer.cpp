// The handoff renderer with an arbitrary template, arbitrary transcript lines and session fields.
#include "handoff/handoffgenerator.h"
#include "handoff/unicodetext.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using loomwatch::handoff::HandoffGenerator;
using namespace loomwatch::model;

namespace {

std::optional<std::string> maybeString(FuzzedDataProvider& input)
{
    if (!input.ConsumeBool())
        return std::nullopt;
    return input.ConsumeRandomLengthString(256);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    AgentSession session;
    session.id = "fuzz";
    session.tool = input.PickValueInArray(allAgentTools);
    session.state = input.PickValueInArray(allSessionStates);
    session.lastActivityAt = Timestamp(Timestamp::duration(input.ConsumeIntegral<std::int64_t>()));
    session.projectPath = maybeString(input);
    session.branch = maybeString(input);
    session.lastSnippet = maybeString(input);
    // 0 and 3: the fuzzed text; 1: no template; 2: the source throws.
    const int templateMode = input.ConsumeIntegralInRange(0, 3);
    std::optional<std::string> templateText = input.ConsumeRandomLengthString(4096);
    std::vector<std::string> lines(input.ConsumeIntegralInRange<std::size_t>(0, 24));
    for (auto& line : lines)
        line = input.ConsumeRandomLengthString(1024);

    HandoffGenerator generator([&]() -> std::optional<std::string> {
        if (templateMode == 1)
            return std::nullopt;
        if (templateMode == 2)
            throw std::runtime_error("unreadable");
        return templateText;
    });
    const std::string text = generator.renderHandoff(session, lines);
    // A template that cannot be had or is not UTF-8 gives the built-in one.
    const bool builtIn = templateMode == 1 || templateMode == 2 || !loomwatch::handoff::isValidUtf8(*templateText);
    if (builtIn && !text.starts_with("# Continuation Handoff\n\n## Objective\n"))
        std::abort();
    return 0;
}
