#include "UploadJournal.h"

#include "WriteMark.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace Tarvo {

namespace {

const QString Target = QStringLiteral("target");
const QString Backup = QStringLiteral("backup");
const QString Mark = QStringLiteral("mark");
const QString Id = QStringLiteral("id");
const QString Armed = QStringLiteral("armed");

// The upload's own files beside its target and the journal, gone with its entry.
void removeTraces(const UploadJournal::Entry &entry)
{
    QString ignored;
    if (!entry.backup.isEmpty())
        removeFile(copyInProgress(entry.backup), ignored);
    if (!entry.mark.isEmpty())
        removeFile(entry.mark, ignored);
}

// The target is the upload's own when it holds what the upload wrote (its
// mark, or the running upload's own record), whichever file it is, or
// still the old content (the backup's, before it was cut). Anything else is
// another program's work, however it came there.
bool writtenByUpload(const UploadJournal::Entry &entry, const WrittenBytes *written)
{
    if (written ? WriteMark::holds(entry.target, *written)
                : WriteMark::describes(entry.mark, entry.target))
        return true;
    FileContent target, backup;
    QString error;
    return !entry.backup.isEmpty() && readContent(entry.target, target, error) &&
           readContent(entry.backup, backup, error) && target.sameBytes(backup);
}

QString keptNote(const QString &target)
{
    return QStringLiteral("%1 was changed by another program during the upload: it is kept")
        .arg(target);
}

} // namespace

UploadJournal::UploadJournal(const QString &folder)
    : m_path(QDir(folder).filePath(QStringLiteral("uploads.journal"))),
      m_lock(QDir(folder).filePath(QStringLiteral("uploads.lock")))
{
}

QString UploadJournal::folder() const
{
    return QFileInfo(m_path).absolutePath();
}

QString UploadJournal::markPath(const QString &target) const
{
    const QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(target).toUtf8(), QCryptographicHash::Sha1);
    return QDir(folder()).filePath(
        QStringLiteral("uploads-%1.mark").arg(QString::fromLatin1(key.toHex().left(16))));
}

QString UploadJournal::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

bool UploadJournal::read(QList<Entry> &entries, QString &error) const
{
    entries.clear();
    if (!owned()) {
        error = QStringLiteral("it is in use by another running Tarvo");
        return false;
    }
    if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink())
        return true;
    QFile file(m_path);
    if (!openRegularFile(file, QIODevice::ReadOnly, error))
        return false;
    QByteArray content;
    char block[4096];
    for (qint64 got; (got = readSome(file, m_path, block, sizeof block, error)) != 0;) {
        if (got < 0)
            return false;
        content.append(block, got);
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(content, &parse);
    if (!doc.isArray()) {
        error = QStringLiteral("it cannot be read (%1)").arg(parse.errorString());
        return false;
    }
    for (const QJsonValue &value : doc.array()) {
        const QJsonObject object = value.toObject();
        const Entry entry{object.value(Target).toString(), object.value(Backup).toString(),
                          object.value(Mark).toString(), object.value(Id).toString(),
                          object.value(Armed).toBool()};
        if (!entry.target.isEmpty())
            entries += entry;
    }
    return true;
}

bool UploadJournal::save(const QList<Entry> &entries, QString &error)
{
    if (entries.isEmpty())
        return removeFile(m_path, error);
    QJsonArray array;
    for (const Entry &entry : entries)
        array.append(QJsonObject{{Target, entry.target},
                                 {Backup, entry.backup},
                                 {Mark, entry.mark},
                                 {Id, entry.id},
                                 {Armed, entry.armed}});
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    return writeFileChecked(m_path, QJsonDocument(array).toJson(), error);
}

bool UploadJournal::note(const Entry &entry, QString &error)
{
    QList<Entry> list;
    if (!read(list, error))
        return false;
    for (const Entry &other : list) {
        if (samePlace(other.target, entry.target)) {
            error = QStringLiteral("an earlier upload to it is still to be undone");
            return false;
        }
    }
    list += entry;
    return save(list, error);
}

bool UploadJournal::arm(const QString &target, const QString &id, QString &error)
{
    QList<Entry> list;
    if (!read(list, error))
        return false;
    for (Entry &entry : list) {
        if (samePlace(entry.target, target)) {
            entry.id = id;
            entry.armed = true;
        }
    }
    return save(list, error);
}

bool UploadJournal::forget(const QString &target, QString &error)
{
    QList<Entry> list;
    if (!read(list, error))
        return false;
    const auto forgotten = std::find_if(list.cbegin(), list.cend(), [&](const Entry &entry) {
        return samePlace(entry.target, target);
    });
    if (forgotten == list.cend())
        return true;
    const Entry entry = *forgotten;
    list.erase(forgotten);
    if (!save(list, error))
        return false;
    removeTraces(entry);
    return true;
}

bool undoUpload(const UploadJournal::Entry &entry, QString &note, const WrittenBytes *written)
{
    const QString folder = QFileInfo(entry.target).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        note = QStringLiteral("Cannot undo the interrupted upload to %1 yet: the folder %2 is "
                              "not there. It is tried again at the next start.")
                   .arg(entry.target, folder);
        return false;
    }
    const FileIdentity now = identityOf(entry.target);
    const bool ours = now.exists() && writtenByUpload(entry, written);
    QString error;
    if (entry.backup.isEmpty()) {
        // Gone, or another program's file: not the upload's to remove.
        if (now.exists() && !ours)
            note = keptNote(entry.target) + QLatin1Char('.');
        if (!ours)
            return true;
        if (removeFile(entry.target, error)) {
            if (!written)
                note = QStringLiteral("Removed %1: an upload to it was interrupted and there "
                                      "was no earlier copy.")
                           .arg(entry.target);
            return true;
        }
        note = QStringLiteral("Cannot remove the incomplete %1: %2").arg(entry.target, error);
        return false;
    }
    if (!identityOf(entry.backup).exists()) {
        // Already put back (the journal never heard of it), or removed by hand.
        if (ours)
            note = QStringLiteral("Cannot restore %1: its backup %2 is gone, so what the "
                                  "interrupted upload wrote stays there.")
                       .arg(entry.target, entry.backup);
        return true;
    }
    if (ours || !now.exists()) {
        QString notKept;
        if (!putBack(entry.backup, entry.target, notKept, error)) {
            note = QStringLiteral("Cannot restore %1 from its backup %2: %3")
                       .arg(entry.target, entry.backup, error);
            return false;
        }
        // The usual outcome of a failed upload (its own file, all kept) goes without saying.
        if (!written || !ours || !notKept.isEmpty())
            note = QStringLiteral("Restored %1 from its backup %2: an upload to it was "
                                  "interrupted.")
                       .arg(entry.target, entry.backup);
        if (!notKept.isEmpty())
            note +=
                QLatin1Char(' ') + notKept.left(1).toUpper() + notKept.mid(1) + QLatin1Char('.');
        return true;
    }
    // Another program wrote the target since: both copies are kept, and the
    // backup's name is freed, so that the next upload's backup cannot take
    // the place of the previous copy.
    const QString kept = moveToFreeName(entry.backup, error);
    if (kept.isEmpty()) {
        note = QStringLiteral("Cannot move the backup %1 of %2 aside: %3")
                   .arg(entry.backup, entry.target, error);
        return false;
    }
    note = keptNote(entry.target) + QStringLiteral("; the previous copy is in %1.").arg(kept);
    return true;
}

bool UploadJournal::settle(const std::function<bool(const Entry &)> &which, QStringList &notes)
{
    QList<Entry> list;
    QString error;
    if (!read(list, error)) {
        notes += QStringLiteral("Cannot recover interrupted uploads: the upload journal %1: %2")
                     .arg(m_path, error);
        return false;
    }
    QList<Entry> left, done;
    bool settled = true;
    for (const Entry &entry : list) {
        if (!which(entry)) {
            left += entry;
            continue;
        }
        // A noted entry with a backup never touched its target: nothing to undo.
        const bool touched = entry.armed || entry.backup.isEmpty();
        QString note;
        const bool undone = !touched || undoUpload(entry, note);
        (undone ? done : left) += entry;
        settled = settled && undone;
        if (!note.isEmpty())
            notes += note;
    }
    if (!done.isEmpty() && !save(left, error)) {
        notes += QStringLiteral("Cannot update the upload journal %1: %2").arg(m_path, error);
        return false;
    }
    for (const Entry &entry : std::as_const(done))
        removeTraces(entry);
    return settled;
}

QStringList UploadJournal::recover()
{
    QStringList notes;
    settle([](const Entry &) { return true; }, notes);
    return notes;
}

bool UploadJournal::recover(const QString &target, const QString &backup, QStringList &notes)
{
    return settle(
        [&](const Entry &entry) {
            return samePlace(entry.target, target) ||
                   (!backup.isEmpty() && samePlace(entry.backup, backup));
        },
        notes);
}

} // namespace Tarvo
