// A ControlTarget that records what it is asked, answers from its fields,
// and can take its time the way a modem operation does (pumping events);
// and a control server over a real socket in a fresh folder with one behind it.
#pragma once

#include "ControlServer.h"
#include "ControlTarget.h"
#include "LogFeed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <functional>

namespace Tarvo::Testing {

class FakeTarget : public ControlTarget
{
public:
    ControlStatus state{QStringLiteral("Waiting call ..."),
                        QStringLiteral("Tarvo - Waiting call ..."),
                        true,
                        true,
                        false,
                        false,
                        true,
                        true,
                        QString()};
    int startMs = 0; // how long start() pumps events
    ControlResult startResult;
    QStringList calls;
    QList<CallOnStop> stops;
    QMap<QString, QString> values{{QStringLiteral("Settings/Modem Port"), QStringLiteral("1")},
                                  {QStringLiteral("Settings/Job"), QStringLiteral("2")}};
    std::function<void()> onCloseWhenIdle;
    QString saveRefusal; // when set, every save is refused with it

    ControlStatus status() const override { return state; }
    ControlResult start() override
    {
        calls << QStringLiteral("start");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < startMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        calls << QStringLiteral("start done");
        return startResult;
    }
    ControlResult stop(CallOnStop call) override
    {
        calls << (call == CallOnStop::EndCall ? QStringLiteral("stop end")
                                              : QStringLiteral("stop keep"));
        stops << call;
        return {};
    }
    ControlResult recheck() override
    {
        calls << QStringLiteral("recheck");
        return {};
    }
    ControlResult closeWhenIdle() override
    {
        calls << QStringLiteral("close-when-idle");
        if (onCloseWhenIdle)
            onCloseWhenIdle();
        return {};
    }
    QMap<QString, QString> settings() const override { return values; }
    ControlResult saveSettings(const QMap<QString, QString> &newValues) override
    {
        if (!saveRefusal.isEmpty())
            return {false, saveRefusal};
        if (newValues.value(QStringLiteral("Settings/Modem Port")).toInt() < 1)
            return {false, QStringLiteral("Modem Port must be 1 to 4")};
        values = newValues;
        return {};
    }
};

struct ControlBench
{
    ~ControlBench()
    {
        server.reset();
        QTest::qWait(0); // deferred deletions of the connections
    }
    bool listen(const QString &name = QStringLiteral("test 1"))
    {
        server = std::make_unique<ControlServer>(target, feed, name);
        return server->listen(path) || (qWarning() << server->errorString(), false);
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("control"));
    FakeTarget target;
    LogFeed feed;
    std::unique_ptr<ControlServer> server;
};

} // namespace Tarvo::Testing
