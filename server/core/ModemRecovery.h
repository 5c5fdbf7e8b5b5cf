// What recovery does to the modem, beside the described operations of
// ModemControl and through them: the rule that decides when (ModemReadiness)
// is elsewhere; here is how, and what the modem's own words mean meanwhile.
//
// Every step reads all the modem says while it waits for its reply, not only
// the "OK": a RING or CONNECT means a call is coming and ends the step at
// once (its lines go back to the call handling, nothing more is written), a
// "NO CARRIER" means the modem is in command mode, an "ERROR" is an answer.
//
//   - restart(): one try of the start, the port opened afresh (which drops
//     DTR), the modem initialised and armed, shown as one line.
//   - checkArmed(): asks an idle, armed modem "ATS0?". A register of 0 or no
//     answer makes a restart due; a RING before the reply ends the check,
//     and the reply that comes after it is still the check's
//     (takeLateReply()), never an unasked "OK". A modem that answers the
//     query "ERROR" does not have it: that is said once, in the log, and
//     from then on it is asked "AT", which still shows that it hears.
//   - modemOff(): on a line with modem-status signals, DSR (or CTS) that
//     was seen on and drops means the modem was switched off or unplugged.
//     It is said once; nothing is written while it is off; when the signal
//     comes back a restart is due at once. A line that never showed the
//     signal on (not wired, a pseudo-terminal) is left to the idle check.
//   - hangUpLostCall(): a call that only carrier detect says is over. DTR
//     low a moment (a modem set to &D2 hangs up, mostly without a word),
//     then "AT": an answer shows the modem in command mode, and "ATH0"
//     follows (one set to &D1 is there with the call still up). No answer:
//     the modem may still be online (one that ignores DTR holds the call
//     until its own time runs out), so after the escape's guard time of
//     silence comes the escape, then "ATH0". A "NO CARRIER" in any of these
//     waits ends it: the modem is in command mode. When nothing shows that
//     the call is gone, the modem is left unarmed, and recovery's next try
//     closes the port first, dropping DTR again.
#pragma once

#include "ModemControl.h"

#include <QByteArray>
#include <optional>

namespace Tarvo {

class ModemRecovery
{
public:
    explicit ModemRecovery(ModemControl &modem) : m_modem(modem) {}

    // DSR low this long is the modem off, not a glitch.
    static constexpr int PowerLossMs = 500;
    // The escape is answered after the modem's guard time (a second).
    static constexpr int EscapePolls = 130;
    // "AT" after the DTR drop: a modem in command mode answers at once.
    static constexpr int ProbePolls = 30;
    // Silence before the "+++", from the last byte written: the modem's
    // guard time (a second) and a margin for the bytes still on the wire.
    static constexpr int EscapeGuardMs = 1100;
    static constexpr int HangUpPolls = 100;
    static constexpr int DtrLowPolls = 20;

    enum class Restart { Armed, Failed, Interrupted };
    // One try of the start: the single line "Restarting modem, try
    // <attempt> ..." that ends in " OK" or, in red, in what failed and when
    // the next try comes (none when nextTrySeconds is 0: then it beeps).
    Restart restart(int attempt, int nextTrySeconds);

    // other comes back with whatever else the modem said meanwhile.
    void checkArmed(QByteArray &other);
    // A line the call handling read: true when it is the reply of a check
    // that a call cut short (then it is taken here, not shown).
    bool takeLateReply(const QByteArray &line);
    // The modem does not know "ATS0?" and is asked "AT".
    bool queryUnknown() const { return m_queryUnknown; }

    // Reads the modem-status signal; true while the modem is off (or the
    // signal is low and may be going off).
    bool modemOff();

    enum class HangUp { Down, NewCall, Failed, Interrupted };
    // other: as for checkArmed; a new call's RING and CONNECT among them.
    HangUp hangUpLostCall(QByteArray &other);

private:
    enum class Answer { Ok, Error, NoCarrier, Call, Silent, Cut };
    // One poll loop: the first of "OK", "ERROR", "NO CARRIER", RING or
    // CONNECT in reply ends it.
    Answer listen(int maxPolls, QByteArray &reply);
    // The same, polling until untilMs on the waiter's clock.
    Answer listenUntil(qint64 untilMs, QByteArray &reply);
    static Answer heard(const QByteArray &reply);
    Answer command(const QByteArray &text, int maxPolls, QByteArray &reply);
    bool cut() const;
    void noteQueryUnknown();
    void checkFailed(const QString &why);
    HangUp hangUp(QByteArray &reply);

    ModemControl &m_modem;
    bool m_queryUnknown = false;
    bool m_lateReply = false; // a check's reply is still to come
    std::optional<int> m_lateRegister;
    int m_opensSeen = -1;
    bool m_readySeen = false; // DSR seen on since the port opened
    qint64 m_readyLowSince = -1;
    bool m_off = false;
};

} // namespace Tarvo
