// A modem control on the fake line with a scripted Hayes modem behind it.
//
// The modem answers "\r\nOK\r\n" to every command unless the script says
// otherwise; it can echo, stay silent, answer something else, or answer in
// several timed pieces. Each write is logged with the virtual time and the
// poll count at which it left, so tests can measure the waits.
#pragma once

#include "Configuration.h"
#include "FakeLine.h"
#include "LineWait.h"
#include "ModemControl.h"
#include "ServerState.h"

#include <QHash>
#include <QList>

namespace Tarvo::Testing {

struct ReplyPiece
{
    QByteArray bytes;
    qint64 delayMs;
};

struct ModemScript
{
    bool echo = false;
    qint64 delayMs = 30;
    QList<QByteArray> silent;                     // commands never answered
    QHash<QByteArray, QList<ReplyPiece>> replies; // other answers, by command
};

struct SentCommand
{
    QByteArray bytes;
    qint64 at;
    int polls;
};

struct ModemRig
{
    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    ServerState state;
    Configuration config;
    ModemControl modem{wait, reporter, prompter, controls, state, config};
    ModemScript script;
    QList<SentCommand> sent;

    ModemRig()
    {
        config.ModemPort = 2;
        line.peer = [this](const QByteArray &bytes) { answer(bytes); };
    }

    void answer(const QByteArray &command)
    {
        sent += SentCommand{command, clock.now(), clock.sleeps()};
        if (script.echo)
            line.deliver(command, 1);
        if (script.silent.contains(command))
            return;
        const auto custom = script.replies.constFind(command);
        if (custom == script.replies.constEnd()) {
            line.deliver("\r\nOK\r\n", script.delayMs);
            return;
        }
        for (const ReplyPiece &piece : *custom)
            line.deliver(piece.bytes, piece.delayMs);
    }

    // Brings the server into the waiting state and forgets what that took.
    void startWaiting()
    {
        modem.InitializeModem();
        line.writes.clear();
        line.dtrChanges.clear();
        sent.clear();
        prompter.beeps = 0;
    }
};

} // namespace Tarvo::Testing
