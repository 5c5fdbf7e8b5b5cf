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
#pragma once

#include <functional>

namespace Tarvo {

class PowerRequest
{
public:
    virtual ~PowerRequest() = default;
    // Keeps the system awake (true) or lets it sleep (false).
    virtual void hold(bool awake) = 0;
};

class SystemPowerRequest final : public PowerRequest
{
public:
    void hold(bool awake) override;
};

class KeepAwake
{
public:
    explicit KeepAwake(PowerRequest &power) : m_power(power) {}
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
    bool m_held = false;
};

} // namespace Tarvo
