// OpenCode rows with arbitrary column texts and integers, the model column alone, and database paths.
#include "providers/opencodeprovider.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using loomwatch::model::AgentProcess;
using loomwatch::providers::OpenCodeProvider;
using loomwatch::providers::OpenCodeRow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    OpenCodeRow row;
    row.id = input.ConsumeRandomLengthString(64);
    row.title = input.ConsumeRandomLengthString(1024);
    row.timeCreated = input.ConsumeIntegral<std::int64_t>();
    row.timeUpdated = input.ConsumeIntegral<std::int64_t>();
    row.directory = input.ConsumeRandomLengthString(256);
    row.model = input.ConsumeRandomLengthString(512);
    row.tokensInput = input.ConsumeIntegral<std::int64_t>();
    row.tokensOutput = input.ConsumeIntegral<std::int64_t>();
    row.tokensCacheRead = input.ConsumeIntegral<std::int64_t>();
    row.tokensCacheWrite = input.ConsumeIntegral<std::int64_t>();
    std::vector<AgentProcess> processes(input.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (auto& process : processes) {
        process.pid = input.ConsumeIntegral<std::int32_t>();
        if (input.ConsumeBool())
            process.workingDirectory = input.ConsumeBool() ? row.directory : input.ConsumeRandomLengthString(64);
    }
    const std::string databasePath = input.ConsumeRandomLengthString(256);

    const auto session = OpenCodeProvider::mapRow(row, processes, databasePath);
    if (session.id != "openCode:" + row.id || session.tokens.input != row.tokensInput)
        std::abort();
    if (session.lastActivityAt.time_since_epoch().count() == 0 && row.timeUpdated != 0)
        std::abort();
    // What the store and the command line compute from every record: UBSan stops on an overflow.
    const auto now = std::chrono::system_clock::now();
    (void)(now - session.lastActivityAt);
    (void)(session.lastActivityAt - session.startedAt);

    if (const auto model = OpenCodeProvider::modelName(row.model); model && model->empty())
        std::abort();
    const std::string uri = OpenCodeProvider::fileUri(databasePath);
    if (uri.find_first_of("?#") != std::string::npos || uri.find('\0') != std::string::npos)
        std::abort();
    return 0;
}
