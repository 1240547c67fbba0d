#include "cli/commandcontext.h"

#include "core/appstore.h"

#include <QEventLoop>

#include <ostream>

namespace loomwatch::cli {

CommandContext::CommandContext(const Command& command, Arguments arguments, std::istream& in, std::size_t columns,
                               core::ServiceOptions options)
    : m_command(command), m_arguments(std::move(arguments)), m_in(in), m_columns(columns), m_options(std::move(options))
{}

CommandContext::~CommandContext() = default;

core::Services& CommandContext::services()
{
    if (!m_services) {
        core::ServiceOptions options = m_options;
        options.watchChanges = m_command.watches;
        options.notify = m_arguments.flag("--notify");
        options.keepHistory = options.keepHistory && m_command.keepsHistory;
        m_services = std::make_unique<core::Services>(std::move(options));
    }
    return *m_services;
}

core::AppStore& CommandContext::refreshedStore()
{
    core::AppStore& appStore = store();
    QEventLoop loop;
    QObject::connect(&appStore, &core::AppStore::refreshFinished, &loop, &QEventLoop::quit);
    appStore.start();
    loop.exec();
    return appStore;
}

int CommandContext::reportErrors(std::ostream& err)
{
    if (const auto& error = store().errorMessage()) {
        err << *error << '\n';
        return 1;
    }
    return 0;
}

} // namespace loomwatch::cli
