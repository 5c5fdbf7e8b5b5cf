#include "WriteMark.h"

#include "HostFiles.h"

#include <QCryptographicHash>
#include <QtEndian>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace Tarvo {

namespace {

const QByteArray Magic = QByteArrayLiteral("TarvoMark1");
constexpr int DigestSize = 32;
// Magic, the length written (8 bytes), its digest, the pending count (2 bytes).
const int HeaderSize = int(Magic.size()) + 8 + DigestSize + 2;

using Record = WrittenBytes;

Record readRecord(const QString &path)
{
    QFile file(path);
    QString error;
    QByteArray bytes(HeaderSize + 0xFFFF, Qt::Uninitialized);
    if (!openRegularFile(file, QIODevice::ReadOnly, error))
        return {};
    qint64 total = 0;
    for (qint64 got = 1; got > 0 && total < bytes.size(); total += got)
        if ((got = readSome(file, path, bytes.data() + total, bytes.size() - total, error)) < 0)
            return {};
    bytes.truncate(total);
    if (total < HeaderSize || !bytes.startsWith(Magic))
        return {};
    const auto *at = reinterpret_cast<const uchar *>(bytes.constData()) + Magic.size();
    Record record;
    record.length = qFromLittleEndian<qint64>(at);
    record.digest = bytes.mid(Magic.size() + 8, DigestSize);
    const int pending = qFromLittleEndian<quint16>(at + 8 + DigestSize);
    if (record.length < 0 || total < HeaderSize + pending)
        return {};
    record.pending = bytes.mid(HeaderSize, pending);
    return record;
}

} // namespace

bool WriteMark::open(const QString &path, QString &error)
{
    m_path = path;
    m_file.setFileName(m_path);
    if (!openRegularFile(m_file, QIODevice::WriteOnly | QIODevice::Truncate, error))
        return false;
#ifdef Q_OS_UNIX
    ::fchmod(m_file.handle(), 0600); // it holds a piece of the file being written
#endif
    return record(0, QCryptographicHash::hash({}, DigestAlgorithm), nullptr, 0, error);
}

bool WriteMark::record(qint64 length, const QByteArray &digest, const char *data, int count,
                       QString &error)
{
    QByteArray bytes(HeaderSize, Qt::Uninitialized);
    auto *at = reinterpret_cast<uchar *>(bytes.data()) + Magic.size();
    std::copy(Magic.begin(), Magic.end(), bytes.begin());
    qToLittleEndian<qint64>(length, at);
    std::copy(digest.begin(), digest.end(), bytes.begin() + Magic.size() + 8);
    qToLittleEndian<quint16>(quint16(count), at + 8 + DigestSize);
    bytes.append(data, count);
    error = writeAt(m_file, m_path, 0, bytes.constData(), bytes.size());
    return error.isEmpty();
}

bool WriteMark::describes(const QString &path, const QString &target)
{
    return holds(target, readRecord(path));
}

bool WriteMark::holds(const QString &target, const WrittenBytes &mark)
{
    if (mark.seen)
        return true;
    QFile file(target);
    QString error;
    if (mark.length < 0 || !openRegularFile(file, QIODevice::ReadOnly, error))
        return false;
    const qint64 size = identityOf(file).size;
    if (size < mark.length || size > mark.length + mark.pending.size())
        return false;
    QCryptographicHash digest(DigestAlgorithm);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (qint64 left = mark.length; left > 0;) {
        const qint64 got = readSome(file, target, block.data(), qMin(left, block.size()), error);
        if (got <= 0)
            return false;
        digest.addData(QByteArrayView(block.constData(), got));
        left -= got;
    }
    if (digest.result() != mark.digest)
        return false;
    const qint64 rest = size - mark.length;
    qint64 total = 0;
    for (qint64 got = 1; got > 0 && total < rest; total += got)
        if ((got = readSome(file, target, block.data() + total, rest - total, error)) < 0)
            return false;
    return total == rest && QByteArrayView(block.constData(), rest) == mark.pending.left(rest);
}

} // namespace Tarvo
