// The journal of uploads in progress, so that an upload cut short by a kill,
// a power cut or a lost display is undone at the next start instead of
// being compounded by the next upload to the same name.
//
// One small file in the per-user data folder lists each upload that may
// have changed its target: the target, its backup (empty when the target
// did not exist before) and whether the target may already have been
// overwritten. The upload notes an entry before it makes the backup, arms
// it once the backup is complete and before the target is truncated, and
// forgets it when the upload is settled either way. Every change rewrites
// the file atomically (QSaveFile), so a kill at any moment leaves the old
// journal or the new one.
//
// recover() runs at start-up, before the modem: each armed entry gets its
// backup moved back over the target in one rename (or its partial target
// removed when there was nothing before); an entry that was never armed
// touched nothing and is dropped. A ".BAK" the journal does not name is
// never touched.
#pragma once

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

    // Before the backup is made; backup is empty when there is nothing to back up.
    bool note(const QString &target, const QString &backup, QString &error);
    // The backup is complete: from now on the target may be overwritten.
    bool arm(const QString &target, QString &error);
    // The upload has ended, its files as they should be.
    bool forget(const QString &target, QString &error);

    // Undoes every armed upload; one line per upload for the pane and the log.
    QStringList recover();

    struct Entry
    {
        QString target;
        QString backup;
        bool armed = false;
    };
    QList<Entry> entries() const;

private:
    bool save(const QList<Entry> &entries, QString &error);
    static QString undo(const Entry &entry, bool &done);

    QString m_path;
};

} // namespace Tarvo
