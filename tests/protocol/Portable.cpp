#include "Portable.h"

namespace Tarvo::Testing {

namespace {

constexpr char Ack = 6;
constexpr char Nak = 21;
constexpr char Eot = 4;

std::uint8_t u8(char c)
{
    return std::uint8_t(c);
}

// "NAME[123]" gives 123; a body without brackets means offset 0.
qint64 offsetOf(const QByteArray &body)
{
    const qsizetype open = body.lastIndexOf('[');
    if (open < 0 || !body.endsWith(']'))
        return 0;
    return body.mid(open + 1, body.size() - open - 2).toLongLong();
}

} // namespace

QByteArray portableFrame(char type, const QByteArray &escapedData, char start, char header)
{
    QByteArray counted;
    counted += header;
    counted += type;
    counted += escapedData;
    int sum = 0;
    for (char c : counted)
        sum += u8(c);
    const int check = (sum + int(counted.size())) % 256;
    QByteArray frame;
    frame += start;
    frame += counted;
    frame += char(64 + check / 16);
    frame += char(64 + check % 16);
    frame += char(3);
    return frame;
}

QByteArray escapeData(const QByteArray &raw)
{
    QByteArray out;
    for (char c : raw) {
        const int b = u8(c);
        if (b == '\\')
            out += "\\\\";
        else if (b <= 31)
            out += QByteArray(1, '\\') + char(b + 128);
        else if (b >= 160 && b != 220)
            out += QByteArray(1, '\\') + char(b - 128);
        else
            out += c;
    }
    return out;
}

QByteArray unescapeData(const QByteArray &body, bool *ok)
{
    QByteArray out;
    *ok = true;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            out += body[i];
            continue;
        }
        if (++i == body.size()) {
            *ok = false;
            break;
        }
        const int c = u8(body[i]);
        if (c == '\\')
            out += '\\';
        else if (c >= 128 && c <= 159)
            out += char(c - 128);
        else if (c >= 32 && c <= 127)
            out += char(c + 128);
        else
            *ok = false;
    }
    return out;
}

QByteArray fromHex(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

bool decodeHostFrame(const QByteArray &bytes, HostFrame &frame)
{
    if (bytes.size() < 6 || bytes[0] != 2 || bytes[1] != 27 || u8(bytes.back()) != 0xC1)
        return false;
    const int n = int(bytes.size()) - 4;
    int sum = 0;
    for (int i = 1; i <= n; ++i)
        sum += u8(bytes[i]);
    const int check = (sum + 193 + n) % 256;
    if (u8(bytes[n + 1]) != 64 + check / 16 || u8(bytes[n + 2]) != 64 + check % 16)
        return false;
    frame.type = bytes[2];
    frame.body = bytes.mid(3, n - 2);
    return true;
}

Portable::Portable(FakeLine &line) : m_line(line)
{
    m_line.peer = [this](const QByteArray &bytes) { onWrite(bytes); };
}

void Portable::onWrite(const QByteArray &bytes)
{
    if (bytes.size() == 1 && (bytes[0] == Ack || bytes[0] == Nak)) {
        onAnswerByte(bytes[0]);
        return;
    }
    HostFrame frame;
    if (!decodeHostFrame(bytes, frame)) {
        trace += QStringLiteral("BAD ") + QString::fromLatin1(bytes.toHex(' '));
        ++badFrames;
        return;
    }
    QString entry = QString(QChar(frame.type));
    if (frame.type == 'Y' && !frame.body.isEmpty()) {
        // File data may only hold 32..159 and 220: never a control byte or
        // a raw end byte before the frame's end.
        for (char c : frame.body)
            if (u8(c) < 32 || (u8(c) >= 160 && u8(c) != 220))
                ++badFrames;
        bool ok = false;
        entry += QLatin1Char(' ') + QString::number(unescapeData(frame.body, &ok).size());
    } else if (!frame.body.isEmpty()) {
        entry += QLatin1Char(' ') + QString::fromLatin1(frame.body);
    }
    trace += entry;
    if (onFrame)
        onFrame(frame);

    switch (replyFor(frame.type)) {
    case Reply::Normal:
        act(frame);
        break;
    case Reply::Nak:
        send(QByteArray(1, Nak));
        break;
    case Reply::Eot:
        send(QByteArray(1, Eot));
        break;
    case Reply::Silent:
        break;
    case Reply::Corrupt:
        serveNextPacket(true);
        break;
    }
}

void Portable::onAnswerByte(char byte)
{
    trace += byte == Ack ? QStringLiteral("ACK") : QStringLiteral("NAK");
    if (byte == Ack) {
        if (m_inFlight < 0)
            uploadFinished = true;
        else
            m_position += m_inFlight;
    }
    m_inFlight = 0;
}

Reply Portable::replyFor(char type)
{
    const int occurrence = m_seen[type]++;
    for (const Rule &rule : rules)
        if (rule.type == type && occurrence >= rule.first && occurrence <= rule.last)
            return rule.reply;
    return Reply::Normal;
}

void Portable::act(const HostFrame &frame)
{
    switch (frame.type) {
    case 'L':
        // A restarted file continues at the announced offset.
        stored.truncate(offsetOf(frame.body));
        break;
    case 'U':
        if (!hasFile) {
            send(QByteArray(1, Eot));
            return;
        }
        m_position = offsetOf(frame.body);
        break;
    case 'Y':
        if (frame.body.isEmpty()) {
            serveNextPacket(false);
            return;
        } else {
            bool ok = false;
            stored += unescapeData(frame.body, &ok);
            if (!ok)
                ++badFrames;
        }
        break;
    case 'Z':
        ++ends;
        break;
    default:
        break;
    }
    send(QByteArray(1, Ack));
}

void Portable::serveNextPacket(bool corrupt)
{
    QByteArray frame;
    if (m_position < source.size()) {
        const QByteArray data = source.mid(m_position, chunk);
        m_inFlight = int(data.size());
        frame = portableFrame('D', escapeData(data));
    } else {
        m_inFlight = -1;
        frame = portableFrame('Z', escapeData(zData));
    }
    if (corrupt)
        frame[frame.size() - 2] = char(frame[frame.size() - 2] ^ 1);
    send(frame);
}

} // namespace Tarvo::Testing
