// A serial device claimed by one server process, so that a second server
// set to the same device is refused at its start with a clear reason
// instead of both fighting over the line (QSerialPort's own lock only makes
// the later open fail, which the readiness rule would keep retrying).
//
// On Linux the claim is a name in the abstract socket namespace made from
// the device's canonical path: it needs no folder, whoever the servers run
// as, and goes with the process however it ends. Elsewhere (Windows, whose
// COM ports open once only) every claim succeeds.
#pragma once

#include <QString>

namespace Tarvo {

class PortClaim
{
public:
    PortClaim() = default;
    ~PortClaim();
    PortClaim(const PortClaim &) = delete;
    PortClaim &operator=(const PortClaim &) = delete;

    // Claims device, giving up any earlier claim of this object: false when
    // another process holds it (then the earlier claim is kept).
    bool claim(const QString &device);
    QString device() const { return m_device; }

private:
    void release();

    QString m_device;
    int m_fd = -1;
};

} // namespace Tarvo
