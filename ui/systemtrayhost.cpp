#include "ui/systemtrayhost.h"

#include "ui/trayicon.h"

namespace loomwatch::ui {

SystemTrayHost::SystemTrayHost(QObject* parent)
    : TrayHost(parent), m_menu(std::make_unique<QMenu>()), m_icon(new QSystemTrayIcon(this))
{
    m_menu->addAction(QStringLiteral("Open Dashboard"), this, &TrayHost::openDashboardRequested);
    m_menu->addAction(QStringLiteral("Refresh"), this, &TrayHost::refreshRequested);
    m_menu->addAction(QStringLiteral("Settings\u2026"), this, &TrayHost::settingsRequested);
    m_checkForUpdates =
        m_menu->addAction(QStringLiteral("Check for Updates\u2026"), this, &TrayHost::checkForUpdatesRequested);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit Loomwatch"), this, &TrayHost::quitRequested);

    m_icon->setToolTip(QStringLiteral("Loomwatch"));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit activated(m_icon->geometry());
    });
}

SystemTrayHost::~SystemTrayHost() = default;

bool SystemTrayHost::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayHost::show()
{
    m_icon->show();
}

void SystemTrayHost::setIconName(const QString& symbol)
{
    if (symbol == m_iconName)
        return;
    m_iconName = symbol;
    m_icon->setIcon(trayIcon(symbol));
}

void SystemTrayHost::setUpdateCheckEnabled(bool enabled)
{
    m_checkForUpdates->setEnabled(enabled);
}

} // namespace loomwatch::ui
