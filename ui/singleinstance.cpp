#include "ui/singleinstance.h"

#include "core/notifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace loomwatch::ui {

namespace {

const QString busName = QString::fromLatin1(core::applicationBusName);
const QString objectPath = QString::fromLatin1(core::applicationObjectPath);
const QString interfaceName = QString::fromLatin1(core::applicationInterface);

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, int timeoutMs, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_timeoutMs(timeoutMs)
{}

SingleInstance::~SingleInstance()
{
    if (m_exported)
        m_bus.unregisterObject(objectPath);
}

SingleInstance::Claim SingleInstance::claim()
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return Claim::noBus;
    m_exported = m_bus.registerObject(objectPath, this, QDBusConnection::ExportAllSlots);
    // The owner may quit between our request and our call; then the name is free again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
            busName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid())
            return Claim::noBus;
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
            return Claim::owned;

        const QDBusReply<uint> owner = m_bus.interface()->servicePid(busName);
        QDBusMessage call =
            QDBusMessage::createMethodCall(busName, objectPath, interfaceName, QStringLiteral("Activate"));
        call << QVariantMap();
        const QDBusMessage answer = m_bus.call(call, QDBus::Block, m_timeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return Claim::activatedOther;
        if (answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            continue;
        m_message = QStringLiteral("loomwatch: %1 holds %2 but did not answer (%3); not starting a second Loomwatch.")
                        .arg(owner.isValid() ? QStringLiteral("process %1").arg(owner.value())
                                             : QStringLiteral("another program"),
                             busName, answer.errorMessage());
        return Claim::ownerDoesNotAnswer;
    }
    return Claim::noBus;
}

void SingleInstance::Activate(const QVariantMap&)
{
    emit activated();
}

void SingleInstance::Open(const QStringList&, const QVariantMap&)
{
    emit activated();
}

void SingleInstance::ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap&)
{
    QVariant first = parameter.value(0);
    if (first.canConvert<QDBusVariant>())
        first = qvariant_cast<QDBusVariant>(first).variant();
    emit actionActivated(name, first.toString());
}

} // namespace loomwatch::ui
