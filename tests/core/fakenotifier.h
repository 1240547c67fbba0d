#pragma once

#include "core/notifier.h"

#include <functional>
#include <vector>

namespace loomwatch::testing {

// Records requests; answers at once, or holds the answers until the test releases them.
class FakeNotifier final : public core::Notifier
{
public:
    std::vector<core::NotificationRequest> posted;
    std::vector<std::function<void(bool)>> pending;
    bool holdAnswers = false;
    bool deliver = true;

    void post(const core::NotificationRequest& r, std::function<void(bool)> done) override
    {
        posted.push_back(r);
        if (holdAnswers)
            pending.push_back(std::move(done));
        else
            done(deliver);
    }
    void checkAvailable(std::function<void(bool)> done) override { done(deliver); }
    void answerAll()
    {
        for (auto answers = std::move(pending); auto& done : answers)
            done(deliver);
    }
};

} // namespace loomwatch::testing
