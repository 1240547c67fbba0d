// Lists the sessions below a root and prints one line per session: "<id> <state>". Run as an unprivileged user
// by the provider tests, because permission faults are invisible to root.
#include "ingestion/filesessionprovider.h"

#include <iostream>

namespace {

class NoProcesses : public loomwatch::model::ProcessInspector
{
public:
    std::vector<loomwatch::model::AgentProcess> processes(loomwatch::model::AgentTool) const override { return {}; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <root>\n";
        return 2;
    }
    loomwatch::ingestion::FileSessionProvider provider(loomwatch::model::AgentTool::claude, argv[1],
                                                       std::make_shared<NoProcesses>());
    for (const auto& session : provider.sessions())
        std::cout << session.id << ' ' << loomwatch::model::rawValue(session.state) << '\n';
    return 0;
}
