#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace loomwatch::core {

// Runs blocking calls (the providers') on one worker thread, strictly one after another in the
// order they were posted, and hands each result back on the thread that owns the scheduler.
// Results still on their way when the scheduler is destroyed are dropped; a call already running
// then is allowed to finish first.
class RefreshScheduler : public QObject
{
    Q_OBJECT

public:
    explicit RefreshScheduler(QObject* parent = nullptr);
    ~RefreshScheduler() override;

    template <typename Result>
    void post(std::function<Result()> call, std::function<void(Result)> deliver)
    {
        // The result travels in a shared box: queued functors must be copyable.
        postJob([this, call = std::move(call), deliver = std::move(deliver)]() mutable {
            auto result = std::make_shared<Result>(call());
            QMetaObject::invokeMethod(
                this, [deliver = std::move(deliver), result] { deliver(std::move(*result)); }, Qt::QueuedConnection);
        });
    }

private:
    void postJob(std::function<void()> job);

    QThread m_thread;
    // Lives on m_thread: queued jobs run there in order.
    std::unique_ptr<QObject> m_worker;
};

} // namespace loomwatch::core
