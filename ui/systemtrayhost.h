#pragma once

#include "ui/trayhost.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include <memory>

namespace loomwatch::ui {

class SystemTrayHost final : public TrayHost
{
    Q_OBJECT

public:
    explicit SystemTrayHost(QObject* parent = nullptr);
    ~SystemTrayHost() override;

    bool isAvailable() const override;
    void show() override;
    void setIconName(const QString& symbol) override;
    void setUpdateCheckEnabled(bool enabled) override;

private:
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_icon = nullptr;
    QAction* m_checkForUpdates = nullptr;
    QString m_iconName;
};

} // namespace loomwatch::ui
