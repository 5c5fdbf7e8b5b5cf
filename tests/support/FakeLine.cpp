#include "FakeLine.h"

namespace Tarvo::Testing {

FakeLine::FakeLine(VirtualClock &clock) : m_clock(clock)
{
    m_clock.pump = [this] { pump(); };
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
    if (m_open && m_mode == Mode::Idle && !m_pending.isEmpty())
        notifyReceive();
}

void FakeLine::vanish(const QString &error)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure = error;
    notifyLost();
}

bool FakeLine::open(int, QString *error)
{
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

void FakeLine::close()
{
    if (!m_open)
        return;
    ++closes;
    m_open = false;
    m_pending.clear();
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

bool ScriptedPrompter::askYesNo(const QString &question)
{
    questions += question;
    return answers.isEmpty() || answers.takeFirst();
}

void ScriptedPrompter::askYesNoLater(const QString &question, std::function<void(bool)> answered)
{
    const bool yes = askYesNo(question);
    if (!holdAnswers)
        return answered(yes);
    held += [answered, yes] { answered(yes); };
}

void ScriptedPrompter::answerHeld()
{
    for (const auto &answer : std::exchange(held, {}))
        answer();
}

} // namespace Tarvo::Testing
