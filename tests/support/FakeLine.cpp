#include "FakeLine.h"

namespace Tarvo::Testing {

void VirtualClock::processEvents()
{
    for (const auto &pump : m_pumps)
        pump();
    if (onEvents)
        onEvents();
}

FakeLine::FakeLine(VirtualClock &clock) : m_clock(clock)
{
    m_clock.addPump([this] { pump(); });
}

void FakeLine::deliver(const QByteArray &bytes, qint64 delayMs)
{
    m_scheduled.push_back({m_clock.now() + delayMs, bytes});
}

void FakeLine::deliverDue()
{
    while (!m_scheduled.empty() && m_scheduled.front().due <= m_clock.now()) {
        if (m_open)
            m_pending += m_scheduled.front().bytes;
        m_scheduled.pop_front();
    }
}

void FakeLine::pump()
{
    deliverDue();
    // Like QSerialPort, the notification is never raised recursively.
    if (m_open && m_mode == Mode::Idle && !m_pending.isEmpty() && !m_notifying) {
        m_notifying = true;
        notifyReceive();
        m_notifying = false;
    }
}

void FakeLine::vanish(const QString &error)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure = error;
    notifyLost();
}

QByteArray FakeLine::written() const
{
    QByteArray all;
    for (const auto &w : writes)
        all += w;
    return all;
}

bool FakeLine::open(int, QString *error)
{
    ++opens;
    if (openFails || m_open) {
        if (error)
            *error = openError;
        return false;
    }
    m_open = true;
    m_failed = false;
    m_failure.clear();
    m_pending.clear();
    return true;
}

void FakeLine::close()
{
    if (!m_open)
        return;
    ++closes;
    m_open = false;
    m_pending.clear();
}

void FakeLine::setDtr(bool on)
{
    dtrChanges.push_back(on);
}

bool FakeLine::write(const QByteArray &bytes)
{
    if (!m_open || m_failed)
        return false;
    writes += bytes;
    if (peer)
        peer(bytes);
    return true;
}

QByteArray FakeLine::read()
{
    if (!m_open || m_failed)
        return {};
    deliverDue();
    if (m_mode == Mode::Idle) {
        const QByteArray one = m_pending.left(1);
        m_pending.remove(0, one.size());
        return one;
    }
    QByteArray all;
    all.swap(m_pending);
    return all;
}

void RecordingReporter::AppendStatus(const QString &text, std::uint32_t colour)
{
    pane += Entry{text, colour};
    history += Entry{text, colour};
    log += text;
}

void RecordingReporter::ClearStatus()
{
    pane.clear();
}

QString RecordingReporter::paneText() const
{
    QString all;
    for (const auto &e : pane)
        all += e.text;
    return all;
}

QString RecordingReporter::redText() const
{
    QString all;
    for (const auto &e : history)
        if (e.colour == ColourRed)
            all += e.text;
    return all;
}

bool ScriptedPrompter::askYesNo(const QString &question)
{
    questions += question;
    return answers.isEmpty() || answers.takeFirst();
}

} // namespace Tarvo::Testing
