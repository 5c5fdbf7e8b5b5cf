#include "TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace Tarvo {

SystemTrayIcon::SystemTrayIcon(QObject *parent)
    : TrayIcon(parent), m_icon(std::make_unique<QSystemTrayIcon>())
{
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A single left click does nothing; the right button's menu is
                // shown by the tray itself.
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit doubleClicked();
            });
}

SystemTrayIcon::~SystemTrayIcon() = default;

void SystemTrayIcon::add(const QIcon &icon, const QString &tip)
{
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->show();
}

void SystemTrayIcon::setTip(const QString &tip)
{
    m_icon->setToolTip(tip);
}

void SystemTrayIcon::remove()
{
    m_icon->hide();
}

void SystemTrayIcon::setMenu(QMenu *menu)
{
    m_icon->setContextMenu(menu);
}

bool SystemTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace Tarvo
