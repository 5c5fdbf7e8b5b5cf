// Stand-ins on a virtual clock (a 1000-poll time-out costs microseconds): a sleep advances time, an
// event pass runs the line's pump and a test's hook; a scripted peer sees each write.
#pragma once

#include "Configuration.h"
#include "Prompter.h"
#include "Reporter.h"
#include "SerialLine.h"
#include "ServerControls.h"
#include "ServerState.h"
#include "Waiter.h"

#include <QStringList>
#include <deque>
#include <utility>
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

    qint64 nowMs() const override { return m_now; }
    qint64 now() const { return m_now; }
    int sleeps() const { return m_sleeps; }

    std::function<void()> pump;     // the fake line delivering what is due
    std::function<void()> onEvents; // in every event pass: a test acts in the middle of a wait

private:
    qint64 m_now = 0;
    int m_sleeps = 0;
};

class FakeLine final : public SerialLine
{
public:
    explicit FakeLine(VirtualClock &clock) : m_clock(clock)
    {
        m_clock.pump = [this] { pump(); };
    }

    std::function<void(const QByteArray &written)> peer; // sees every write, answers by deliver()

    void deliver(const QByteArray &bytes, qint64 delayMs = 0) // readable delayMs from now
    {
        m_scheduled.push_back({m_clock.now() + delayMs, bytes});
    }
    // Moves due bytes in and raises the notifications, as the event loop does for a port.
    void pump()
    {
        deliverDue();
        if (std::exchange(m_lostDue, false))
            notifyLost();
        else if (m_open && m_mode == Mode::Idle && !m_pending.isEmpty())
            notifyReceive();
    }
    // The device disappears: reads and writes fail from now on. The owner hears of it in the next
    // event pass, unless it closes the line first.
    void vanish(const QString &error = QStringLiteral("Input/output error"))
    {
        if (!std::exchange(m_failed, true)) {
            m_failure = error;
            m_lostDue = true;
        }
    }

    QByteArray written() const { return writes.join(); } // all writes, concatenated
    QList<QByteArray> writes;                            // each write on its own
    QByteArray pending() const { return m_pending; }
    std::vector<bool> dtrChanges;          // every setDtr, in order
    std::function<void(bool on)> onDtr;    // after each setDtr
    std::function<void(Mode mode)> onMode; // after each mode change

    bool openFails = false, modemLines = true, carrier = false, ready = true; // ready: DSR
    int closes = 0, port = 0; // port: the COM number of the last open

    bool open(int comNumber, QString *error) override
    {
        port = comNumber;
        if (openFails || m_open) {
            if (error)
                *error = QStringLiteral("Permission error while locking the device");
            return false;
        }
        m_open = true;
        m_failed = false;
        m_failure.clear();
        m_pending.clear();
        return true;
    }
    void close() override
    {
        if (m_open && onDtr) // a closed port drops DTR
            onDtr(false);
        closes += m_open;
        m_open = m_lostDue = false;
        m_pending.clear();
    }
    bool isOpen() const override { return m_open; }
    void setDtr(bool on) override
    {
        dtrChanges.push_back(on);
        if (onDtr)
            onDtr(on);
    }
    bool carrierDetect() const override { return m_open && !m_failed && modemLines && carrier; }
    bool hasModemLines() const override { return modemLines; }
    bool modemReady() const override { return m_open && !m_failed && modemLines && ready; }
    bool write(const QByteArray &bytes) override
    {
        if (!m_open || m_failed)
            return false;
        writes += bytes;
        if (peer)
            peer(bytes);
        return !m_failed; // a device pulled as the bytes go out fails the write
    }
    QByteArray read() override
    {
        if (!m_open || m_failed)
            return {};
        deliverDue();
        // Idle mode drains a byte at a time, as the notification handler reads.
        return m_mode == Mode::Idle ? std::exchange(m_pending, m_pending.mid(1)).left(1)
                                    : std::exchange(m_pending, {});
    }
    void setMode(Mode mode) override
    {
        m_mode = mode;
        if (onMode)
            onMode(mode);
    }
    Mode mode() const override { return m_mode; }
    bool failed() const override { return m_failed; }
    QString failure() const override { return m_failure; }

private:
    struct Scheduled
    {
        qint64 due;
        QByteArray bytes;
    };

    void deliverDue()
    {
        for (; !m_scheduled.empty() && m_scheduled.front().due <= m_clock.now();
             m_scheduled.pop_front())
            m_pending += m_open ? m_scheduled.front().bytes : QByteArray();
    }

    VirtualClock &m_clock;
    std::deque<Scheduled> m_scheduled;
    QByteArray m_pending;
    Mode m_mode = Mode::Job;
    bool m_open = false, m_failed = false, m_lostDue = false;
    QString m_failure;
};

// Records what the window would show.
class RecordingReporter final : public Reporter
{
public:
    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override
    {
        logged += text;
        m_pane += text;
        m_red += colour == ColourRed ? text : QString();
    }
    void clearStatus() override { m_pane.clear(); }
    void WriteLog(const QString &text) override { logOnly += text; }
    void SetTrayTip(const QString &state) override { tips += state; }

    QString paneText() const { return m_pane; } // what the pane shows now
    QString redText() const { return m_red; }   // all red text since the start
    QString tip() const { return tips.isEmpty() ? QString() : tips.last(); }

    QStringList logOnly, tips; // logOnly: the WriteLog calls made directly
    QString logged;            // everything appended, as the log has it

private:
    QString m_pane, m_red;
};

// Answers questions from a script and records everything asked.
class ScriptedPrompter final : public Prompter
{
public:
    bool askYesNo(const QString &question) override
    {
        questions += question;
        if (whileAsking) // what happens while the box is open
            whileAsking(question);
        return answers.isEmpty() || answers.takeFirst();
    }
    // Answered at once, or, with holdAnswers, when answerHeld() is called.
    void askYesNoLater(const QString &question, std::function<void(bool)> answered) override
    {
        const bool yes = askYesNo(question);
        if (!holdAnswers)
            return answered(yes);
        held += [answered, yes] { answered(yes); };
    }
    // Gives the answers held so far; questions they lead to wait for the next call.
    void answerHeld()
    {
        for (const auto &answer : std::exchange(held, {}))
            answer();
    }
    void inform(const QString &text) override { informs += text; }
    void warn(const QString &text) override { warnings += text; }
    void beep() override { ++beeps; }

    QList<bool> answers; // consumed in order; Yes when used up
    std::function<void(const QString &question)> whileAsking;
    bool holdAnswers = false;
    QList<std::function<void()>> held;
    QStringList questions, informs, warnings;
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
    bool startStopEnabled = true, settingsEnabled = true, busy = false;
};

// What the modem control and the call handling report to, and the settings they read.
struct Recorders
{
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    ServerState state;
    Configuration config;
};

} // namespace Tarvo::Testing
