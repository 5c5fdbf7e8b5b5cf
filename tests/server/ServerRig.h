// A server window with stand-ins around it: a recording tray, scripted
// questions, a log in a temporary folder, and a modem service that moves the
// flags, captions and tips the way the modem control does. Its waits run on
// a LineWait over a fake line, so a test can act in the middle of one and
// see whether the wait was asked to end.
#pragma once

#include "FakeLine.h"
#include "LineWait.h"
#include "LogFile.h"
#include "ModemService.h"
#include "ServerState.h"
#include "TrayIcon.h"
#include "frmServer.h"

#include "Configuration.h"

#include <QMenu>
#include <QTemporaryDir>

namespace Tarvo::Testing {

class FakeTray final : public TrayIcon
{
public:
    explicit FakeTray(QStringList &events) : m_events(events) {}

    void add(const QIcon &icon, const QString &text) override
    {
        added = true;
        this->icon = icon;
        tip = text;
        m_events += "tray added";
    }
    void setTip(const QString &text) override { tip = text; }
    void remove() override
    {
        removed = true;
        m_events += "tray removed";
    }
    void setMenu(QMenu *m) override { menu = m; }
    bool isAvailable() const override { return available; }

    bool available = true;
    bool added = false;
    bool removed = false;
    QString tip;
    QIcon icon;
    QMenu *menu = nullptr;

private:
    QStringList &m_events;
};

class FakeModem final : public ModemService
{
public:
    FakeModem(LineWait &wait, Reporter &reporter, ServerControls &controls, ServerState &state,
              Prompter &prompter, QStringList &events)
        : m_wait(wait), m_reporter(reporter), m_controls(controls), m_state(state),
          m_prompter(prompter), m_events(events)
    {
    }

    bool openFails = false;
    bool initFails = false;
    int waitPolls = 0;                // polls of the initialisation's reply wait
    std::function<void()> insideInit; // runs once, inside that wait
    int inits = 0, hangUps = 0, opens = 0, closes = 0;
    int abortedWaits = 0;

    void InitializeModem() override
    {
        ++inits;
        m_events += "InitializeModem";
        Busy busy(*this);
        m_wait.clearAbort();
        m_reporter.ClearStatus();
        m_reporter.AppendStatus("Open COM1 ...");
        if (openFails) {
            m_reporter.AppendStatus(" failed\r\n", ColourRed);
            m_reporter.SetTrayTip("Open COM failed");
            m_state.PortOpened = false;
            m_controls.setCloseCaption("Exit");
            return;
        }
        ++opens;
        m_state.PortOpened = true;
        m_controls.setSettingsEnabled(false);
        m_controls.setCloseCaption("Hide");

        const bool answered = waitForReply();
        if (!m_state.PortOpened)
            return; // closed under the wait
        if (answered && !initFails) {
            m_state.AutoAnswerOn = true;
            m_reporter.SetTrayTip("Waiting call ...");
            m_controls.setStartStopCaption("Stop");
            return;
        }
        m_reporter.SetTrayTip("Initialize modem failed");
        HangUp();
        m_controls.setSettingsEnabled(true);
    }

    void HangUp() override
    {
        ++hangUps;
        m_events += "HangUp";
        Busy busy(*this);
        if (!m_state.PortOpened)
            return;
        if (m_state.Connected && !m_prompter.askYesNo("Hang up (disconnect) modem?"))
            return;
        ++closes;
        m_state.PortOpened = false;
        m_state.Connected = false;
        m_reporter.SetTrayTip("Not connected");
        m_controls.setStartStopCaption("Start");
        m_controls.setCloseCaption("Exit");
    }

    // A job-like wait of the given length, as the call handling runs one.
    bool waitPollsOf(int polls)
    {
        for (int i = 0; i < polls; ++i) {
            if (!m_wait.pause()) {
                ++abortedWaits;
                return false;
            }
        }
        return true;
    }

private:
    struct Busy
    {
        explicit Busy(FakeModem &m) : modem(m)
        {
            if (modem.m_busy++ == 0) {
                modem.m_controls.setStartStopEnabled(false);
                modem.m_controls.setBusy(true);
            }
        }
        ~Busy()
        {
            if (--modem.m_busy == 0) {
                modem.m_controls.setBusy(false);
                modem.m_controls.setStartStopEnabled(true);
            }
        }
        FakeModem &modem;
    };

    bool waitForReply()
    {
        if (insideInit) {
            auto hook = std::move(insideInit);
            insideInit = nullptr;
            hook();
        }
        return waitPollsOf(waitPolls);
    }

    LineWait &m_wait;
    Reporter &m_reporter;
    ServerControls &m_controls;
    ServerState &m_state;
    Prompter &m_prompter;
    QStringList &m_events;
    int m_busy = 0;
};

struct ServerRig
{
    ServerRig()
        : log(dir.path()), line(clock), wait(line, clock), tray(events),
          server(
              state, log, tray, prompter, config,
              [this](QWidget *parent) {
                  configureParents += parent;
                  return configureAccepts;
              },
              [this](QWidget *parent) { aboutParents += parent; }),
          modem(wait, server, server, state, prompter, events)
    {
        config.ModemPort = 3;
        server.attachModem(modem, &wait);
        server.setPortLostHandler([this] { ++portLostHandled; });
        QObject::connect(&server, &frmServer::unloaded, [this] { ++unloadedSignals; });
    }

    QString logText() const
    {
        QFile file(log.path());
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

    QStringList events;
    QTemporaryDir dir;
    ServerState state;
    LogFile log;
    VirtualClock clock;
    FakeLine line;
    LineWait wait;
    FakeTray tray;
    ScriptedPrompter prompter;
    Configuration config;
    bool configureAccepts = true;
    QList<QWidget *> configureParents;
    QList<QWidget *> aboutParents;
    frmServer server;
    FakeModem modem;
    int portLostHandled = 0;
    int unloadedSignals = 0;
};

} // namespace Tarvo::Testing
