// A Hayes modem in front of the portable.
//
// In command mode it collects a line up to CR and answers "OK" or "ERROR";
// it never echoes and always answers in words, whatever E, V and Q say.
// Register S0 arms auto-answer: while it is non-zero, no call is up and the
// host is there, the modem rings after the first-call delay (counted from
// arming) and never sooner than the interval after the previous call's
// "NO CARRIER", then reports "CONNECT" and the portable greets with
// "Portable ready". Online, every byte goes to the portable, except that
// "+++" between frames returns to command mode, where "ATH0" ends the call. The call also ends when
// the portable asks for it (after "ALL DONE" or "ERROR", or by fault), when the host stays silent
// for the idle time-out, or when the host closes the line (which is how a closed serial port drops
// DTR).
//
// Time comes in from the caller, so the emulator can be driven by a real
// clock or by a test. Output leaves as chunks with the earliest moment they
// may go on the line; the caller paces them.
#pragma once

#include "PortableSession.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Tarvo::Portable {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

struct ModemSettings
{
    Seconds firstCallDelay{2.0};
    Seconds interval{15.0};
    Seconds idleTimeout{60.0};
    Seconds ringToConnect{0.1};
    Seconds connectToGreeting{0.2};
    Seconds endToNoCarrier{0.3};
    int connectSpeed = 9600;
    bool neverOk = false; // for hosts that must cope with a dumb modem
};

struct CallSummary
{
    int call = 0;
    int files = 0;
    std::int64_t payload = 0;
    double seconds = 0;
    std::int64_t wireIn = 0;
    std::int64_t wireOut = 0;
    std::string
        outcome; // all-done, error, host-hangup, host-gone, fault-hangup, idle-timeout, interrupted
};

struct Chunk
{
    std::string bytes;
    Clock::time_point notBefore;
};

class ModemEmulator
{
public:
    ModemEmulator(ModemSettings settings, PortableSession &portable);

    void receive(unsigned char byte, Clock::time_point at);
    // Time-driven work: ringing and the idle time-out.
    void tick(Clock::time_point now);
    // The earliest moment tick() has something to do.
    std::optional<Clock::time_point> nextDeadline() const;

    void setHostPresent(bool present, Clock::time_point now);
    void setRingingAllowed(bool allowed) { m_ringingAllowed = allowed; }
    // Ends a call that is up (at shutdown); no "NO CARRIER" is sent.
    void interrupt(Clock::time_point now);

    std::vector<Chunk> takeOutput() { return std::exchange(m_out, {}); }
    std::vector<CallSummary> takeFinishedCalls() { return std::exchange(m_finished, {}); }

    bool armed() const { return m_s0 > 0; }
    bool inCall() const { return m_state != State::Idle; }
    bool online() const { return m_state == State::Online; }
    int callsDone() const { return m_callsDone; }

    void setLog(std::function<void(const std::string &)> log) { m_log = std::move(log); }

private:
    enum class State { Idle, Online, CallCommand };

    void commandByte(unsigned char byte, Clock::time_point at);
    void onlineByte(unsigned char byte, Clock::time_point at);
    void runCommandLine(const std::string &line, Clock::time_point at);
    bool runCommands(const std::string &commands, Clock::time_point at, std::string &replies);
    void setS0(int value, Clock::time_point at);
    void startCall(Clock::time_point now);
    void endCall(const std::string &outcome, Clock::time_point at,
                 std::optional<Seconds> noCarrierAfter);
    void send(std::string bytes, Clock::time_point notBefore);
    void result(const std::string &text, Clock::time_point at);
    void log(const std::string &text) const;

    ModemSettings m_settings;
    PortableSession &m_portable;
    std::vector<Chunk> m_out;
    std::vector<CallSummary> m_finished;
    std::function<void(const std::string &)> m_log;

    State m_state = State::Idle;
    std::string m_line;
    int m_plus = 0;
    int m_s0 = 0;
    bool m_hostPresent = false; // the owner says when the host is there
    bool m_ringingAllowed = true;
    Clock::time_point m_armedAt{};
    std::optional<Clock::time_point> m_lastCallEnd;
    int m_callsDone = 0;

    // The call that is up.
    Clock::time_point m_connectAt{};
    Clock::time_point m_lastHostByte{};
    std::int64_t m_wireIn = 0;
    std::int64_t m_wireOut = 0;
};

} // namespace Tarvo::Portable
