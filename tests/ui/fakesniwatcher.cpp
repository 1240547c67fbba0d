// A stand-in for a desktop's tray host on the session bus: the org.kde.StatusNotifierWatcher that
// tray items register with. It records the items and reports a host as present.
// With "--hold NAME" it is instead a hung process that owns NAME: it takes the name, then stops.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

#include <csignal>

class FakeWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool isHostRegistered() const { return true; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        // Items may register with an object path only; then the caller's bus name is the service.
        const QString item = service.startsWith(QLatin1Char('/')) ? message().service() + service : service;
        if (!m_items.contains(item))
            m_items << item;
    }

private:
    QStringList m_items;
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (argc == 3 && QByteArray(argv[1]) == "--hold") {
        if (!bus.registerService(QString::fromLocal8Bit(argv[2])))
            return 1;
        std::raise(SIGSTOP);
        return 0;
    }
    FakeWatcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllContents) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")))
        return 1;
    return QCoreApplication::exec();
}

#include "fakesniwatcher.moc"
