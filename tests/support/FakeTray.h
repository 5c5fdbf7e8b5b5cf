// A tray icon that records its tip and how often it was taken away, for the
// tests that run the server window without a desktop's tray.
#pragma once

#include "TrayIcon.h"

namespace Tarvo::Testing {

struct FakeTray final : TrayIcon
{
    void add(const QIcon &, const QString &text) override { tip = text; }
    void setTip(const QString &text) override { tip = text; }
    void remove() override { ++removed; }
    void setMenu(QMenu *) override {}
    bool isAvailable() const override { return available; }

    bool available = true;
    int removed = 0; // the unloading takes the icon away once
    QString tip;
};

} // namespace Tarvo::Testing
