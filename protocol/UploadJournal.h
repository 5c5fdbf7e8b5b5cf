// The journal of uploads in progress, so that an upload cut short by a kill,
// a power cut or a lost display is undone at the next start instead of
// being compounded by the next upload to the same name.
//
// One small file in the per-user data folder lists each upload that may
// have changed its target: the target (links resolved), its backup (empty
// when the target did not exist before), the WriteMark file that follows
// what the upload writes, and, once the target is open, the target's
// identity. The upload notes an entry before it makes the backup, arms it
// once the target is open and before its content is touched, and forgets it
// when the upload is settled either way. Every change is written beside the
// journal, synced, renamed over it and read back; a change that fails
// refuses the upload and leaves the entries as they were.
//
// Only the process holding the lock beside the journal (acquire(), held for
// the object's life) reads, changes or recovers it. A process that could
// not take the lock at its start tries again at each upload.
//
// undoUpload() puts one interrupted upload back, and only over what that
// upload wrote: the target must hold what the mark says was written, or
// still the old content, whichever file it is. A target whose content has
// changed since is another program's: it stays, the backup moves to a free
// name beside it, and the note names both. Nothing the upload did not
// write is removed. The backup goes back with the owner, group and
// mode of the file it replaces, or with a note of what could not be given
// back. An entry leaves the journal only when its target is settled, and
// with it its mark and the copy for its backup that a kill may have cut
// short; one whose folder is missing (a drive not yet mounted) or that
// cannot be undone now stays for the next try, and a new upload to its
// target or over its backup is refused until then. A ".BAK" the journal
// does not name is never touched. Paths compare as their folder compares
// names, ignoring case where it does.
#pragma once

#include "HostFiles.h"
#include "WriteMark.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Tarvo {

class UploadJournal
{
public:
    explicit UploadJournal(const QString &folder = defaultFolder());

    static QString defaultFolder();
    QString path() const { return m_path; }
    QString folder() const;
    // Where the mark of an upload to target is kept.
    QString markPath(const QString &target) const;

    FileLock::Result acquire(QString &error) { return m_lock.tryLock(error); }
    bool owned() const { return m_lock.isLocked(); }

    struct Entry
    {
        QString target;
        QString backup;
        QString mark; // the WriteMark's file
        QString id;   // empty until the target is open, and where files have no number
        bool armed = false;
    };

    // Refused while the target already has an entry.
    bool note(const Entry &entry, QString &error);
    // The target is open: from now on it may be overwritten.
    bool arm(const QString &target, const QString &id, QString &error);
    // The upload has ended, its files as they should be.
    bool forget(const QString &target, QString &error);
    // False, with the reason, when the journal cannot be read.
    bool read(QList<Entry> &entries, QString &error) const;

    // Undoes every interrupted upload it can; one line each for the pane and the log.
    QStringList recover();
    // The same for the entries of target or of its backup; true when none is left.
    bool recover(const QString &target, const QString &backup, QStringList &notes);

private:
    bool save(const QList<Entry> &entries, QString &error);
    bool settle(const std::function<bool(const Entry &)> &which, QStringList &notes);

    QString m_path;
    FileLock m_lock;
};

// Puts one interrupted upload back as described above; note says what was
// done, if anything. False when it has to be tried again later. written:
// what the running upload wrote, when it is the caller (it stands for the
// mark, which only an upload with a journal keeps); then the usual outcome
// goes without a note.
bool undoUpload(const UploadJournal::Entry &entry, QString &note,
                const WrittenBytes *written = nullptr);

} // namespace Tarvo
