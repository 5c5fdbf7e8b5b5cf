// Stand-ins for the outside world, so that modem, link and transfer tests run
// on a virtual clock: a 1000-poll time-out costs microseconds.
//
// VirtualClock is the Waiter: sleeping advances virtual time, processing
// events runs the pump (the fake line delivering due bytes) and
// an optional test hook (a click arriving in the middle of a wait).
//
// FakeLine is a SerialLine with a scripted peer: every write is recorded and
// handed to the peer function, which answers with deliver(bytes, delayMs).
// Delivered bytes become readable once the virtual time has come.
#pragma once

#include "Prompter.h"
#include "Reporter.h"
#include "SerialLine.h"
#include "ServerControls.h"
#include "Waiter.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace Tarvo::Testing {

class VirtualClock final : public Waiter
{
public:
    void processEvents() override
    {
        if (pump)
            pump();
        if (onEvents)
            onEvents();
    }
    void sleepMs(int ms) override
    {
        m_now += ms;
        ++m_sleeps;
    }

    qint64 now() const { return m_now; }
    int sleeps() const { return m_sleeps; }

    std::function<void()> pump; // the fake line delivering what is due
    // Runs inside every event pass; lets a test act in the middle of a wait.
    std::function<void()> onEvents;

private:
    qint64 m_now = 0;
    int m_sleeps = 0;
};

class FakeLine final : public SerialLine
{
public:
    explicit FakeLine(VirtualClock &clock);

    // The scripted peer: sees every write, answers with deliver().
    std::function<void(const QByteArray &written)> peer;

    // Bytes the host will be able to read delayMs after now.
    void deliver(const QByteArray &bytes, qint64 delayMs = 0);
    // Moves due bytes into the receive buffer and raises the idle-mode
    // notification, as the event loop does for a real port.
    void pump();
    // The device disappears: reads and writes fail from now on.
    void vanish(const QString &error = QStringLiteral("Input/output error"));

    QByteArray written() const { return writes.join(); } // all writes, concatenated
    QList<QByteArray> writes;                            // each write on its own
    QByteArray pending() const { return m_pending; }
    std::vector<bool> dtrChanges; // every setDtr, in order

    // Knobs for the tests.
    bool openFails = false;
    bool modemLines = true;
    bool carrier = false;
    int closes = 0;

    // SerialLine
    bool open(int port, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void setDtr(bool on) override { dtrChanges.push_back(on); }
    bool carrierDetect() const override { return m_open && modemLines && carrier; }
    bool hasModemLines() const override { return modemLines; }
    bool write(const QByteArray &bytes) override;
    QByteArray read() override;
    void setMode(Mode mode) override { m_mode = mode; }
    Mode mode() const override { return m_mode; }
    bool failed() const override { return m_failed; }
    QString failure() const override { return m_failure; }

private:
    struct Scheduled
    {
        qint64 due;
        QByteArray bytes;
    };

    void deliverDue();

    VirtualClock &m_clock;
    std::deque<Scheduled> m_scheduled;
    QByteArray m_pending;
    Mode m_mode = Mode::Job;
    bool m_open = false;
    bool m_failed = false;
    QString m_failure;
};

// Records what the window would show.
class RecordingReporter final : public Reporter
{
public:
    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override
    {
        m_pane += text;
        m_red += colour == ColourRed ? text : QString();
    }
    void clearStatus() override { m_pane.clear(); }
    void WriteLog(const QString &text) override { logOnly += text; }
    void SetTrayTip(const QString &state) override { tips += state; }

    QString paneText() const { return m_pane; } // what the pane shows now
    QString redText() const { return m_red; }   // all red text since the start
    QString tip() const { return tips.isEmpty() ? QString() : tips.last(); }

    QStringList logOnly; // WriteLog calls made directly
    QStringList tips;

private:
    QString m_pane, m_red;
};

// Answers questions from a script and records everything asked.
class ScriptedPrompter final : public Prompter
{
public:
    bool askYesNo(const QString &question) override;
    // Answered at once, or, with holdAnswers, when answerHeld() is called.
    void askYesNoLater(const QString &question, std::function<void(bool)> answered) override;
    // Gives the answers held so far; questions they lead to wait for the next call.
    void answerHeld();
    void inform(const QString &text) override { informs += text; }
    void warn(const QString &text) override { warnings += text; }
    void beep() override { ++beeps; }

    QList<bool> answers; // consumed in order; Yes when used up
    bool holdAnswers = false;
    QList<std::function<void()>> held;
    QStringList questions;
    QStringList informs;
    QStringList warnings;
    int beeps = 0;
};

class RecordingControls final : public ServerControls
{
public:
    void setStartStop(StartStop action) override { startStop = action; }
    void setStartStopEnabled(bool enabled) override { startStopEnabled = enabled; }
    void setCloseCaption(const QString &caption) override { close = caption; }
    void setSettingsEnabled(bool enabled) override { settingsEnabled = enabled; }
    void setBusy(bool on) override { busy = on; }

    StartStop startStop = StartStop::Start;
    QString close = QStringLiteral("Exit");
    bool startStopEnabled = true;
    bool settingsEnabled = true;
    bool busy = false;
};

} // namespace Tarvo::Testing
