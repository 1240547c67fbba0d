#pragma once

#include <functional>
#include <string>

namespace loomwatch::core {

struct NotificationRequest
{
    // A request whose identifier was posted before replaces that notification.
    std::string identifier;
    std::string title;
    std::string body;
    bool playSound = true;

    bool operator==(const NotificationRequest&) const = default;
};

// The desktop's notification facility. Both calls return at once and report later, on the
// calling thread; `done` is called exactly once, also when there is no notification server.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void post(const NotificationRequest& request, std::function<void(bool delivered)> done) = 0;
    // Whether a notification server answers; nothing is shown.
    virtual void checkAvailable(std::function<void(bool available)> done) = 0;
};

} // namespace loomwatch::core
