#pragma once

#include <functional>
#include <string>

namespace loomwatch::core {

// The desktop application on the session bus (org.freedesktop.Application). A click on a
// notification reaches it there, wherever the notification was posted from.
inline constexpr const char* applicationBusName = "io.github.loomwatch.Loomwatch";
inline constexpr const char* applicationObjectPath = "/io/github/loomwatch/Loomwatch";
inline constexpr const char* applicationInterface = "org.freedesktop.Application";

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
    // `handler` gets the identifier of a posted notification that the user clicked. A facility whose
    // notifications cannot be clicked never calls it.
    virtual void setActivationHandler(std::function<void(const std::string& identifier)> handler)
    {
        static_cast<void>(handler);
    }
};

} // namespace loomwatch::core
