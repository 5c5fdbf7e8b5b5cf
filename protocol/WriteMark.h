// The mark an upload keeps of what it has written into its target, so that
// after a kill the journal can tell the upload's own partial file from any
// other file at that path.
//
// Setting a file's time would need its ownership, and an upload needs only
// the right to write the file: the mark lives in a small file of Tarvo's own
// beside the journal instead. Before each write into the target it records
// the length written so far, the digest of those bytes (FileIdentity's
// DigestAlgorithm) and the bytes about to be written (one packet). A file is
// the upload's own when it begins with that many bytes of that digest and
// what follows them is a beginning of the recorded bytes: a kill before,
// during or after the write leaves such a file, and a write by anyone else
// does not. The record is one write at the start of the mark's file, which
// a kill cannot split; it is not synced, since a kill leaves what was
// written in the system's cache, and a power cut that loses it makes the
// file look like someone else's, which keeps both copies.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace Tarvo {

// What an upload has written into its target: the length and digest of the
// bytes written so far, and the bytes of a write under way (which a failed
// or cut write may have left in part).
struct WrittenBytes
{
    qint64 length = -1; // -1: nothing known
    QByteArray digest;
    QByteArray pending;
    bool seen = false; // the writer read it all back and saw nobody else touch it since
};

class WriteMark
{
public:
    QString path() const { return m_path; }
    bool isOpen() const { return m_file.isOpen(); }

    // Creates the mark at path for a target still empty, nothing pending.
    bool open(const QString &path, QString &error);
    // Before count bytes of data are written after length bytes of that digest.
    bool record(qint64 length, const QByteArray &digest, const char *data, int count,
                QString &error);
    void close() { m_file.close(); }

    // Whether the file at target is the one the mark at path describes; false
    // also when either cannot be read.
    static bool describes(const QString &path, const QString &target);
    // Whether target holds exactly what written says, by content alone:
    // whichever file it is, it can be nobody's but the upload's. Not read
    // when its writer has seen it so.
    static bool holds(const QString &target, const WrittenBytes &written);

private:
    QString m_path;
    QFile m_file;
};

} // namespace Tarvo
