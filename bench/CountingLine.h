// A SerialLine that passes everything through to another one and counts the
// bytes in each direction: what the protocol really had to move.
#pragma once

#include "SerialLine.h"

namespace Tarvo::Bench {

class CountingLine final : public SerialLine
{
public:
    explicit CountingLine(SerialLine &inner) : m_inner(inner)
    {
        m_inner.setReceiveHandler([this] { notifyReceive(); });
        m_inner.setLostHandler([this] { notifyLost(); });
    }

    bool open(int port, QString *error) override { return m_inner.open(port, error); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    void setDtr(bool on) override { m_inner.setDtr(on); }
    bool carrierDetect() const override { return m_inner.carrierDetect(); }
    bool hasModemLines() const override { return m_inner.hasModemLines(); }
    bool write(const QByteArray &bytes) override
    {
        written += bytes.size();
        return m_inner.write(bytes);
    }
    QByteArray read() override
    {
        const QByteArray bytes = m_inner.read();
        received += bytes.size();
        return bytes;
    }
    void setMode(Mode mode) override { m_inner.setMode(mode); }
    Mode mode() const override { return m_inner.mode(); }
    bool failed() const override { return m_inner.failed(); }
    QString failure() const override { return m_inner.failure(); }

    qint64 written = 0;
    qint64 received = 0;

private:
    SerialLine &m_inner;
};

} // namespace Tarvo::Bench
