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
    bool begin(QString &error, QStringList &notes)
    {
        if (m_journal && !takeJournal(error, notes))
            return false;
        QString why;
        m_target = resolveLinks(m_saveAs, why);
        if (m_target.isEmpty() || !(why = notRegularReason(m_target)).isEmpty()) {
            error = UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs, why);
            return false;
        }
        const QString backup = Tarvo::backupPath(m_target);
        if (isOwnBackup(backup)) {
            error = QStringLiteral("Upload to %1 refused: its backup %2 is the same file, as its "
                                   "folder does not tell the case of names apart. Please change "
                                   "Save As in the settings.")
                        .arg(m_saveAs, backup);
            return false;
        }
        if (m_journal && !m_journal->recover(m_target, backup, notes)) {
            error = QStringLiteral("Upload to %1 refused: an earlier upload to it was interrupted "
                                   "and is not undone yet, and this one would destroy what it "
                                   "kept. Put right what is said above; Tarvo tries again at the "
                                   "next upload and at the next start.")
                        .arg(m_saveAs);
            return false;
        }
        const bool existing = identityOf(m_target).exists();
        const QString mark = m_journal ? m_journal->markPath(m_target) : QString();
        if (!record(
                [&](UploadJournal &j, QString &e) {
                    return j.note({m_target, existing ? backup : QString(), mark}, e);
                },
                error))
            return false;
        if (existing && !makeBackup(backup, error)) {
            settle();
            return false;
        }
        if (m_journal && !m_mark.open(mark, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot record the upload in"), mark, why);
            return discard();
        }
        m_file.setFileName(m_target);
        // Not truncated yet: until the journal is armed the old content stays.
        const QIODevice::OpenMode mode = existing ? QIODevice::ReadWrite | QIODevice::ExistingOnly
                                                  : QIODevice::WriteOnly | QIODevice::NewOnly;
        if (!openRegularFile(m_file, mode, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs, why);
            return discard();
        }
        m_created = !existing;
        m_written = identityOf(m_file);
        if (!openReadBack(error))
            return discard();
        if (!record(
                [this](UploadJournal &j, QString &e) { return j.arm(m_target, m_written.id, e); },
                error))
            return discard();
        enterFlight();
        if (!m_file.resize(0)) {
            error = UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs,
                                          m_file.errorString());
            QString cleanup;
            abandon(cleanup);
            if (!cleanup.isEmpty())
                error += QLatin1String(CrLf) + cleanup;
            return false;
        }
        m_lastWrite = identityOf(m_file).modified;
        return true;
    }

    // Unbuffered, so that the file length is the restart offset.
    bool append(const std::uint8_t *data, int count, QString &error)
    {
        if (putBack(error))
            return false;
        if (!stillOwn(error))
            return false;
        const auto *bytes = reinterpret_cast<const char *>(data);
        QString why;
        if (m_mark.isOpen() && !m_mark.record(m_length, m_digest.result(), bytes, count, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot record the upload in"),
                                          m_mark.path(), why);
            return false;
        }
        m_pending = QByteArray(bytes, count);
        why = writeAll(m_file, m_target, bytes, count);
        if (!why.isEmpty()) {
            error = UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs, why);
            return false;
        }
        m_digest.addData(QByteArrayView(bytes, count));
        m_length += count;
        m_pending.clear();
        m_lastWrite = identityOf(m_file).modified;
        return readBack(bytes, count, error);
    }

    qint64 length() const { return m_length; }

    // The new file is complete. It becomes the truth only when it is on the
    // disk and what Save As holds is exactly what was written, by nobody
    // else; from then on a backup that cannot be removed is left where it is
    // (named in notice), never the new file given up for it.
    bool commit(QString &error, QString &notice)
    {
        if (putBack(error))
            return false;
        if (!(error = lostReason(identityOf(m_saveAs))).isEmpty())
            return false;
        QString why;
        if (!syncFile(m_file, m_target, why) || !closeFile(m_file, m_target, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs, why);
            return false;
        }
        // Every block was read back as it was written; what is left is the
        // end: nothing after the last block, and still the file written.
        char beyond[1];
        const qint64 more = readSome(m_readBack, m_saveAs, beyond, 1, why);
        if (more < 0) {
            error = UploadText::fileError(QStringLiteral("Cannot read back"), m_saveAs, why);
            return false;
        }
        const FileIdentity now = identityOf(m_saveAs);
        FileContent content;
        if (m_touched || now.modified != m_lastWrite) {
            if (!readContent(m_saveAs, content, why)) {
                error = UploadText::fileError(QStringLiteral("Cannot read back"), m_saveAs, why);
                return false;
            }
            m_touched = content.digest != m_digest.result();
        }
        if (more > 0 || m_touched || !now.sameFile(m_written) || now.size != m_length ||
            !identityOf(m_readBack).sameFile(m_written)) {
            error = QStringLiteral("%1 was changed by another program during the upload.")
                        .arg(m_saveAs);
            return false;
        }
        m_readBack.close();
        if (!m_backup.isEmpty() && !removeFile(m_backup, why))
            notice = QStringLiteral("Cannot delete the backup %1 (%2): it still holds the "
                                    "previous copy of %3.")
                         .arg(m_backup, why, m_saveAs);
        settle();
        return true;
    }

    // Leaves the host as it was before the upload: the old copy back in
    // place by one rename over the partial file, or no file at all when
    // there was none; but only while the target is still the upload's own
    // file. note says what else happened; what cannot be undone now stays in
    // the journal (false).
    bool abandon(QString &note)
    {
        if (m_putBack)
            return true;
        m_file.close();
        m_readBack.close();
        // Every block was read back as written; a target that is still that
        // file, at that length and time, needs no reading again (an end
        // that must be quick, a slow share).
        const FileIdentity there = identityOf(m_saveAs);
        const bool seen = !m_touched && !m_unread && m_pending.isEmpty() &&
                          there.sameFile(m_written) && there.size == m_length &&
                          there.modified == m_lastWrite;
        const WrittenBytes written{m_length, m_digest.result(), m_pending, seen};
        const bool done =
            undoUpload({m_target, m_backup, m_mark.path(), m_written.id, true}, note, &written);
        if (done)
            settle();
        return done;
    }

    // The program is ending under the upload, its stack left in place; only
    // the log can still be told.
    void abandonAtExit()
    {
        QString note;
        abandon(note);
        m_reporter.WriteLog(CrLf +
                            QStringLiteral("Tarvo ended during the upload to %1: ").arg(m_saveAs) +
                            (note.isEmpty() ? QStringLiteral("it is undone.") : note) + CrLf +
                            UploadText::Failed + CrLf);
    }

    // The program must end before the job can unwind (the session is
    // ending): the old copy goes back now, and the job's own commit() or
    // abandon() later finds nothing left to do.
    void putBackNow()
    {
        abandonAtExit();
        m_putBack = true;
        leaveFlight();
    }
    // After putBackNow(), what the job's next step is told.
    bool putBack(QString &error) const
    {
        if (m_putBack)
            error = QStringLiteral("The upload to %1 was put back as Tarvo ended.").arg(m_saveAs);
        return m_putBack;
    }

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
    bool takeJournal(QString &error, QStringList &notes)
    {
        if (m_journal->owned())
            return true;
        QString why;
        switch (m_journal->acquire(why)) {
        case FileLock::Result::Locked:
            notes += m_journal->recover();
            return true;
        case FileLock::Result::HeldElsewhere:
            why = QStringLiteral("another running Tarvo holds it");
            break;
        case FileLock::Result::Failed:
            break;
        }
        error = QStringLiteral("Upload to %1 refused: the upload journal's folder %2 cannot be "
                               "used: %3. Tarvo tries again at the next upload.")
                    .arg(m_saveAs, QDir::toNativeSeparators(m_journal->folder()), why);
        return false;
    }

    // The backup's name may be the target's own spelled otherwise, in a
    // folder that ignores case only in part (or could not be asked).
    bool isOwnBackup(const QString &backup) const
    {
        return QFileInfo(backup).fileName().compare(QFileInfo(m_target).fileName(),
                                                    Qt::CaseInsensitive) == 0 &&
               entryIdentity(backup).sameFile(entryIdentity(m_target));
    }

    // The target's content was never touched, so the backup is not needed;
    // a file this upload created goes again.
    bool discard()
    {
        QString ignored;
        m_file.close();
        m_readBack.close();
        if (m_created)
            removeFile(m_target, ignored);
        if (!m_backup.isEmpty())
            removeFile(m_backup, ignored);
        settle();
        return false;
    }

    void settle()
    {
        QString ignored; // an entry left behind is only undone once more at the next start
        m_mark.close();
        if (m_journal)
            m_journal->forget(m_target, ignored);
    }

    bool makeBackup(const QString &backupPath, QString &error)
    {
        // An older backup of the same name is of no further use: the copy
        // replaces it in one step.
        QString why;
        if (!copyRegularFile(m_target, backupPath, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot back up"), m_saveAs, why);
            return false;
        }
        m_backup = backupPath;
        return true;
    }

    // A second way into the target, through Save As, for reading back what
    // was written; it must lead to the file opened for writing.
    bool openReadBack(QString &error)
    {
        QString why;
        m_readBack.setFileName(m_target);
        if (!openRegularFile(m_readBack, QIODevice::ReadOnly | QIODevice::Unbuffered, why)) {
            error = UploadText::fileError(QStringLiteral("Cannot read back"), m_saveAs, why);
            return false;
        }
        if (!identityOf(m_readBack).sameFile(m_written)) {
            error =
                QStringLiteral("%1 was replaced by another file during the upload.").arg(m_saveAs);
            return false;
        }
        return true;
    }

    // The cheap look before a write: the target is still the file opened,
    // at the length written so far. A truncation, an append or a file put
    // in its place by another program shows here.
    bool stillOwn(QString &error)
    {
        const FileIdentity there = identityOf(m_saveAs);
        if (!(error = lostReason(there)).isEmpty())
            return false;
        if (there.size == m_length) {
            // Written in place at the same length: only its time may tell,
            // and a share may move a time by itself, so it only earns the
            // whole file a reading at the end.
            m_touched = m_touched || there.modified != m_lastWrite;
            return true;
        }
        error = QStringLiteral("%1 was cut short or added to by another program during the "
                               "upload: nothing more is written into it.")
                    .arg(m_saveAs);
        return false;
    }

    // Why Save As no longer leads to the file written, in words; empty while it does.
    QString lostReason(const FileIdentity &there) const
    {
        if (there.sameFile(m_written))
            return {};
        const QString folder = QFileInfo(m_saveAs).absolutePath();
        return !QFileInfo(folder).isDir()
                   ? QStringLiteral("The folder %1 was removed or renamed during the upload: "
                                    "%2 is not there.")
                         .arg(folder, m_saveAs)
               : there.exists()
                   ? QStringLiteral("%1 was replaced by another file during the upload.")
                         .arg(m_saveAs)
                   : QStringLiteral("%1 was removed during the upload.").arg(m_saveAs);
    }

    // The block just written, read back where it was written; the read-back
    // handle follows the writes, block by block.
    bool readBack(const char *bytes, int count, QString &error)
    {
        char back[257]; // the most one packet from the portable holds
        QString why;
        int total = 0;
        m_unread = true; // until this block is seen as written
        for (qint64 got = 1; got > 0 && total < count; total += int(got))
            if ((got = readSome(m_readBack, m_saveAs, back + total, count - total, why)) < 0) {
                error = UploadText::fileError(QStringLiteral("Cannot read back"), m_saveAs, why);
                return false;
            }
        if (total == count && std::equal(bytes, bytes + count, back)) {
            m_unread = false;
            return true;
        }
        error =
            QStringLiteral("%1 was changed by another program during the upload.").arg(m_saveAs);
        return false;
    }

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
