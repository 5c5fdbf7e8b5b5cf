// Keeping the PC from sleeping while Tarvo must answer: always during a call
// (a portable mid-transfer must not lose its line to the sleep timer), and
// while the modem is armed when the settings allow it (Service/Keep Awake,
// on unless it says no), since a sleeping PC answers no call. Idle, stopped
// or ended, the PC may sleep again.
//
// The decision is wanted(); KeepAwake applies it through a PowerRequest,
// asking the system only when the answer changes, and reads the setting only
// when it matters (armed and no call up). The system's request on Windows is
// SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), which belongs
// to the thread that made it: update() and the end run on the main thread.
// Elsewhere the system request does nothing.
//
// A request the system refuses costs this feature only: the server serves
// on, the refusal is said once (the given step, in red where it is used),
// and the request is made again at the next change.
#pragma once

#include <QString>
#include <functional>

namespace Tarvo {

class PowerRequest
{
public:
    virtual ~PowerRequest() = default;
    // Keeps the system awake (true) or lets it sleep (false); false with the
    // system's reason when it refused.
    virtual bool hold(bool awake, QString &error) = 0;
};

class SystemPowerRequest final : public PowerRequest
{
public:
    bool hold(bool awake, QString &error) override;
};

class KeepAwake
{
public:
    using Say = std::function<void(const QString &text)>;
    explicit KeepAwake(PowerRequest &power, Say refused = {})
        : m_power(power), m_refused(std::move(refused))
    {
    }
    ~KeepAwake() { release(); }
    KeepAwake(const KeepAwake &) = delete;
    KeepAwake &operator=(const KeepAwake &) = delete;

    static bool wanted(bool connected, bool armed, bool whileArmed)
    {
        return connected || (armed && whileArmed);
    }
    // Applies the decision for the server's state now; whileArmed reads the
    // setting.
    void update(bool connected, bool armed, const std::function<bool()> &whileArmed);
    // Lets the system sleep (the server has ended).
    void release();
    bool held() const { return m_held; }

private:
    void set(bool awake);

    PowerRequest &m_power;
    Say m_refused;
    bool m_held = false;
    bool m_refusalSaid = false;
};

} // namespace Tarvo
