// The icon in the notification area, as the server window needs it: add it
// with a tip, change the tip, remove it, a menu for the right button, and
// the left double-click. SystemTrayIcon is the desktop's own tray; tests
// substitute a recording one.
//
// Whether a tray exists can change while the program runs (a tray host
// started later), so availability is asked each time it matters. Without a
// tray the icon is still added: the desktop shows it once a tray appears.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace Tarvo {

class TrayIcon : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void add(const QIcon &icon, const QString &tip) = 0;
    virtual void setTip(const QString &tip) = 0;
    virtual void remove() = 0;
    // The menu shown for the right button, with its default entry set.
    virtual void setMenu(QMenu *menu) = 0;
    virtual bool isAvailable() const = 0;

signals:
    void doubleClicked();
};

class SystemTrayIcon final : public TrayIcon
{
    Q_OBJECT

public:
    explicit SystemTrayIcon(QObject *parent = nullptr);
    ~SystemTrayIcon() override;

    void add(const QIcon &icon, const QString &tip) override;
    void setTip(const QString &tip) override;
    void remove() override;
    void setMenu(QMenu *menu) override;
    bool isAvailable() const override;

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

} // namespace Tarvo
