#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace loomwatch::cli {

// Turns SIGINT and SIGTERM into a call of `onSignal` on the event loop: the handler only writes a
// byte to a socket pair, whose reading end the loop watches. One at a time per process.
class SignalPipe
{
public:
    explicit SignalPipe(std::function<void()> onSignal);
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace loomwatch::cli
