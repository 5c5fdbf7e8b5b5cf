// The host side of one upload, from the backup of the copy it replaces to
// the settled end: see the note on the class. Internal to the protocol
// library; UploadJob drives it.
#pragma once

#include "HostFiles.h"
#include "PathHelpers.h"
#include "Reporter.h"
#include "UploadJournal.h"
#include "WriteMark.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdint>

namespace Tarvo {

namespace UploadText {
inline const QString Failed = QStringLiteral("Upload failed");
inline QString fileError(const QString &what, const QString &path, const QString &error)
{
    return what + QLatin1Char(' ') + path + QStringLiteral(": ") + error;
}
} // namespace UploadText

// The file being written and the backup of the
// copy it replaces, recorded in the journal (when there is one) for as long
// as the target may differ from what it was. The target is the file Save As
// leads to, links resolved once at the start; a link stays a link. Once
// begin() has succeeded, exactly one of commit() and abandon() ends it.
//
// Before every write a cheap look at the target (its identity and length
// against what was written so far) finds it cut short, grown or replaced by
// another program, and the upload then fails without writing into that
// program's file. The WriteMark records what is about to be written, so
// that the journal can tell the upload's own partial file from another
// program's after a crash; it needs no more rights on the target than the
// write itself. Each block is read back through Save As as soon as it is
// written, so the check that the file holds exactly what was written is
// spread over the transfer: at the end, once synced, only its identity,
// its length, its time and its end are looked at, and the portable is not
// kept waiting for a slow share to be read through again. Only a target
// whose time moved between the upload's own writes (written in place at
// the same length, which the length cannot show) is read through whole. When the upload
// fails, the old copy goes back only over a target that holds what was
// written (by content, whichever file it is); another program's file stays
// and the old copy is kept beside it. While it is in flight (from the moment the target is emptied
// until the object goes; nothing in commit() or abandon() waits), an exit() that skips the stack
// (Qt ends the program that way when the display goes) still puts the old copy back, and so does an
// end that cannot wait for the job to unwind (putBackInFlight()).
class HostCopy
{
public:
    // The upload in flight, put back now; false when there is none.
    static bool putBackInFlight();

    HostCopy(const QString &saveAs, UploadJournal *journal, Reporter &reporter)
        : m_saveAs(saveAs), m_journal(journal), m_reporter(reporter)
    {
    }
    ~HostCopy() { leaveFlight(); }
    HostCopy(const HostCopy &) = delete;
    HostCopy &operator=(const HostCopy &) = delete;

    // notes: what undoing earlier uploads said.
    bool begin(QString &error, QStringList &notes);

    // Unbuffered, so that the file length is the restart offset.
    bool append(const std::uint8_t *data, int count, QString &error);

    qint64 length() const { return m_length; }

    // The new file is complete. It becomes the truth only when it is on the
    // disk and what Save As holds is exactly what was written, by nobody
    // else; from then on a backup that cannot be removed is left where it is
    // (named in notice), never the new file given up for it.
    bool commit(QString &error, QString &notice);

    // Leaves the host as it was before the upload: the old copy back in
    // place by one rename over the partial file, or no file at all when
    // there was none; but only while the target is still the upload's own
    // file. note says what else happened; what cannot be undone now stays in
    // the journal (false).
    bool abandon(QString &note);

    // The program is ending under the upload, its stack left in place; only
    // the log can still be told.
    void abandonAtExit();

    // The program must end before the job can unwind (the session is
    // ending): the old copy goes back now, and the job's own commit() or
    // abandon() later finds nothing left to do.
    void putBackNow();
    // After putBackNow(), what the job's next step is told.
    bool putBack(QString &error) const;

private:
    template <typename Step> bool record(Step step, QString &error)
    {
        QString why;
        if (!m_journal || step(*m_journal, why))
            return true;
        error = UploadText::fileError(QStringLiteral("Cannot record the upload in"),
                                      m_journal->path(), why);
        return false;
    }

    // A journal that could not be locked at the start is tried again at
    // each upload; taken now, it first undoes what it holds, as a start does.
    bool takeJournal(QString &error, QStringList &notes);

    // The backup's name may be the target's own spelled otherwise, in a
    // folder that ignores case only in part (or could not be asked).
    bool isOwnBackup(const QString &backup) const;

    // The target's content was never touched, so the backup is not needed;
    // a file this upload created goes again.
    bool discard();

    void settle();

    bool makeBackup(const QString &backupPath, QString &error);

    // A second way into the target, through Save As, for reading back what
    // was written; it must lead to the file opened for writing.
    bool openReadBack(QString &error);

    // The cheap look before a write: the target is still the file opened,
    // at the length written so far. A truncation, an append or a file put
    // in its place by another program shows here.
    bool stillOwn(QString &error);

    // Why Save As no longer leads to the file written, in words; empty while it does.
    QString lostReason(const FileIdentity &there) const;

    // The block just written, read back where it was written; the read-back
    // handle follows the writes, block by block.
    bool readBack(const char *bytes, int count, QString &error);

    void enterFlight();
    void leaveFlight();

    QString m_saveAs;
    UploadJournal *m_journal;
    Reporter &m_reporter;
    QString m_target; // where Save As leads
    QString m_backup; // empty when no backup was made
    WriteMark m_mark;
    FileIdentity m_written; // the file opened at the target
    QCryptographicHash m_digest{DigestAlgorithm};
    QByteArray m_pending;   // a write under way
    qint64 m_lastWrite = 0; // the target's time after the last write
    bool m_touched = false; // its time moved between writes
    bool m_unread = false;  // a block not seen as written
    QFile m_readBack;
    qint64 m_length = 0;
    bool m_created = false;
    bool m_putBack = false; // by putBackNow()
    QFile m_file;
};

} // namespace Tarvo
