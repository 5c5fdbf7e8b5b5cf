#include "ModemEmulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace Tarvo::Portable {

namespace {

Clock::duration toClock(Seconds s)
{
    return std::chrono::duration_cast<Clock::duration>(s);
}

} // namespace

ModemEmulator::ModemEmulator(ModemSettings settings, PortableSession &portable)
    : m_settings(settings), m_portable(portable)
{
}

void ModemEmulator::receive(unsigned char byte, Clock::time_point at)
{
    if (inCall()) {
        ++m_wireIn;
        m_lastHostByte = at;
    }
    if (m_state == State::Online)
        onlineByte(byte, at);
    else
        commandByte(byte, at);
}

void ModemEmulator::onlineByte(unsigned char byte, Clock::time_point at)
{
    // No guard time: the host sends "+++" straight after its last frame.
    if (byte == '+' && !m_portable.insideFrame()) {
        if (++m_plus == 3) {
            m_plus = 0;
            m_state = State::CallCommand;
            m_line.clear();
            log("+++: command mode");
            result("OK", at);
            return;
        }
    } else {
        m_plus = 0;
    }
    m_portable.receive(byte);
    std::string answer = m_portable.takeOutput();
    if (!answer.empty())
        send(std::move(answer), at);
    switch (m_portable.endRequest()) {
    case EndRequest::AllDone:
        endCall("all-done", at, m_settings.endToNoCarrier);
        break;
    case EndRequest::Error:
        endCall("error", at, m_settings.endToNoCarrier);
        break;
    case EndRequest::FaultHangup:
        endCall("fault-hangup", at, Seconds(0));
        break;
    case EndRequest::None:
        break;
    }
}

void ModemEmulator::commandByte(unsigned char byte, Clock::time_point at)
{
    if (byte == '\r') {
        const std::string line = std::exchange(m_line, {});
        runCommandLine(line, at);
    } else if (byte != '\n' && m_line.size() < 256) {
        m_line += char(byte);
    }
}

void ModemEmulator::runCommandLine(const std::string &line, Clock::time_point at)
{
    std::string upper;
    for (const char c : line) {
        if (c != ' ')
            upper += char(std::toupper(static_cast<unsigned char>(c)));
    }
    // Whatever precedes "AT" (a "+++" that arrived in command mode, noise)
    // is not part of the command, as with a real modem.
    const auto at_ = upper.find("AT");
    if (at_ == std::string::npos)
        return;
    std::string replies;
    const bool ok = runCommands(upper.substr(at_ + 2), at, replies);
    log("command " + upper.substr(at_) + (ok ? ": OK" : ": ERROR"));
    if (!replies.empty())
        send(replies, at);
    result(ok ? "OK" : "ERROR", at);
}

bool ModemEmulator::runCommands(const std::string &commands, Clock::time_point at,
                                std::string &replies)
{
    std::size_t i = 0;
    auto number = [&] {
        int value = 0;
        while (i < commands.size() && std::isdigit(static_cast<unsigned char>(commands[i])))
            value = std::min(value * 10 + (commands[i++] - '0'), 999);
        return value;
    };
    while (i < commands.size()) {
        const char c = commands[i++];
        switch (c) {
        case 'E':
        case 'V':
        case 'Q':
        case 'X':
        case 'M':
        case 'L':
        case 'I':
        case 'B':
            number();
            break;
        case '&':
            if (i >= commands.size() || !std::isalpha(static_cast<unsigned char>(commands[i])))
                return false;
            ++i;
            number();
            break;
        case 'H':
            if (number() == 0 && inCall())
                endCall("host-hangup", at, std::nullopt);
            break;
        case 'Z':
            number();
            setS0(0, at);
            if (inCall())
                endCall("host-hangup", at, std::nullopt);
            break;
        case 'S': {
            const int reg = number();
            if (i < commands.size() && commands[i] == '=') {
                ++i;
                const int value = number();
                if (reg == 0)
                    setS0(value, at);
            } else if (i < commands.size() && commands[i] == '?') {
                ++i;
                char text[16];
                std::snprintf(text, sizeof text, "\r\n%03d\r\n", reg == 0 ? m_s0 : 0);
                replies += text;
            }
            break;
        }
        default:
            return false; // dialling, answering by hand, online again: not offered
        }
    }
    return true;
}

void ModemEmulator::setS0(int value, Clock::time_point at)
{
    if (m_s0 == 0 && value > 0)
        m_armedAt = at;
    m_s0 = value;
}

std::optional<Clock::time_point> ModemEmulator::nextDeadline() const
{
    if (inCall())
        return m_lastHostByte + toClock(m_settings.idleTimeout);
    if (!armed() || !m_hostPresent || !m_ringingAllowed)
        return std::nullopt;
    Clock::time_point ring = m_armedAt + toClock(m_settings.firstCallDelay);
    if (m_lastCallEnd)
        ring = std::max(ring, *m_lastCallEnd + toClock(m_settings.interval));
    return ring;
}

void ModemEmulator::tick(Clock::time_point now)
{
    const auto deadline = nextDeadline();
    if (!deadline || now < *deadline)
        return;
    if (inCall()) {
        log("host silent too long");
        endCall("idle-timeout", now, Seconds(0));
    } else {
        startCall(now);
    }
}

void ModemEmulator::startCall(Clock::time_point now)
{
    send("\r\nRING\r\n", now);
    m_connectAt = now + toClock(m_settings.ringToConnect);
    send("\r\nCONNECT " + std::to_string(m_settings.connectSpeed) + "\r\n", m_connectAt);
    m_state = State::Online;
    m_plus = 0;
    m_wireIn = m_wireOut = 0;
    m_lastHostByte = m_connectAt;
    m_portable.beginCall();
    log("call " + std::to_string(m_callsDone + 1));
    send("Portable ready\r\n", m_connectAt + toClock(m_settings.connectToGreeting));
}

void ModemEmulator::endCall(const std::string &outcome, Clock::time_point at,
                            std::optional<Seconds> noCarrierAfter)
{
    m_portable.endCall();
    const CallStats &stats = m_portable.stats();
    CallSummary summary;
    summary.call = ++m_callsDone;
    summary.files = stats.files;
    summary.payload = stats.payload;
    summary.seconds = std::max(0.0, Seconds(at - m_connectAt).count());
    summary.wireIn = m_wireIn;
    summary.wireOut = m_wireOut;
    summary.outcome = outcome;
    m_finished.push_back(summary);

    m_state = State::Idle;
    m_line.clear();
    m_plus = 0;
    // The interval to the next ring counts from the "NO CARRIER": a ring
    // before it would reach a host that still thinks the call is up.
    const Clock::time_point hungUp = at + toClock(noCarrierAfter.value_or(Seconds(0)));
    m_lastCallEnd = hungUp;
    log("call ended: " + outcome);
    if (noCarrierAfter)
        send("\r\nNO CARRIER\r\n", hungUp);
}

void ModemEmulator::setHostPresent(bool present, Clock::time_point now)
{
    if (present == m_hostPresent)
        return;
    m_hostPresent = present;
    log(present ? "host opened the line" : "host closed the line");
    if (!present) {
        m_line.clear();
        if (inCall())
            endCall("host-gone", now, std::nullopt);
    }
}

void ModemEmulator::interrupt(Clock::time_point now)
{
    if (inCall())
        endCall("interrupted", now, std::nullopt);
}

void ModemEmulator::send(std::string bytes, Clock::time_point notBefore)
{
    if (inCall())
        m_wireOut += std::int64_t(bytes.size());
    m_out.push_back({std::move(bytes), notBefore});
}

void ModemEmulator::result(const std::string &text, Clock::time_point at)
{
    if (text == "OK" && m_settings.neverOk)
        return;
    send("\r\n" + text + "\r\n", at);
}

void ModemEmulator::log(const std::string &text) const
{
    if (m_log)
        m_log(text);
}

} // namespace Tarvo::Portable
