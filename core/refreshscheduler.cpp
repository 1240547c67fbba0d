#include "core/refreshscheduler.h"

namespace loomwatch::core {

RefreshScheduler::RefreshScheduler(QObject* parent) : QObject(parent), m_worker(std::make_unique<QObject>())
{
    m_thread.setObjectName(QStringLiteral("loomwatch-providers"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

RefreshScheduler::~RefreshScheduler()
{
    // Jobs not yet started are dropped with the worker's event queue; deliveries already posted to
    // this object are dropped with it.
    m_thread.quit();
    m_thread.wait();
}

void RefreshScheduler::postJob(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_worker.get(), std::move(job), Qt::QueuedConnection);
}

} // namespace loomwatch::core
