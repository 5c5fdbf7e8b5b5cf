#include "UploadJournal.h"

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
const QString Stamp = QStringLiteral("stamp");
const QString Id = QStringLiteral("id");
const QString Armed = QStringLiteral("armed");

bool samePath(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    // Either separator and any case name the same file there.
    return QDir::fromNativeSeparators(a).compare(QDir::fromNativeSeparators(b),
                                                 Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

} // namespace

UploadJournal::UploadJournal(const QString &folder)
    : m_path(QDir(folder).filePath(QStringLiteral("uploads.journal"))),
      m_lock(QDir(folder).filePath(QStringLiteral("uploads.lock")))
{
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
                          qint64(object.value(Stamp).toDouble()), object.value(Id).toString(),
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
                                 {Stamp, double(entry.stamp)},
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
        if (samePath(other.target, entry.target)) {
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
        if (samePath(entry.target, target)) {
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
    if (list.removeIf([&](const Entry &entry) { return samePath(entry.target, target); }) == 0)
        return true;
    return save(list, error);
}

bool undoUpload(const UploadJournal::Entry &entry, QString &note)
{
    const QString folder = QFileInfo(entry.target).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        note = QStringLiteral("Cannot undo the interrupted upload to %1 yet: the folder %2 is "
                              "not there. It is tried again at the next start.")
                   .arg(entry.target, folder);
        return false;
    }
    // Only the upload's own file carries its stamp: any later write sets the clock's time.
    const FileIdentity now = identityOf(entry.target);
    const bool ours =
        now.exists() && now.modified == entry.stamp && (entry.id.isEmpty() || now.id == entry.id);
    QString error;
    if (entry.backup.isEmpty()) {
        if (!ours)
            return true; // gone, or a file someone made since: not the upload's to remove
        if (removeFile(entry.target, error)) {
            note = QStringLiteral("Removed %1: an upload to it was interrupted and there was "
                                  "no earlier copy.")
                       .arg(entry.target);
            return true;
        }
        note = QStringLiteral("Cannot remove the incomplete %1: %2").arg(entry.target, error);
        return false;
    }
    if (!QFileInfo::exists(entry.backup)) {
        // Already put back (the journal never heard of it), or removed by hand.
        if (ours)
            note = QStringLiteral("Cannot restore %1: its backup %2 is gone, so the incomplete "
                                  "upload stays there.")
                       .arg(entry.target, entry.backup);
        return true;
    }
    if (ours || !now.exists()) {
        if (replaceFile(entry.backup, entry.target, error)) {
            note = QStringLiteral("Restored %1 from its backup %2: an upload to it was "
                                  "interrupted.")
                       .arg(entry.target, entry.backup);
            return true;
        }
        note = QStringLiteral("Cannot restore %1 from its backup %2: %3")
                   .arg(entry.target, entry.backup, error);
        return false;
    }
    // Someone wrote the target since: both copies are kept, and the backup's
    // name is freed for the next upload.
    const QString kept = moveToFreeName(entry.backup, error);
    if (kept.isEmpty()) {
        note = QStringLiteral("Cannot move the backup %1 of %2 aside: %3")
                   .arg(entry.backup, entry.target, error);
        return false;
    }
    note = QStringLiteral("%1 changed after an upload to it was interrupted, so it is left as it "
                          "is; the copy from before the upload is now %2.")
               .arg(entry.target, kept);
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
    QList<Entry> left;
    bool settled = true;
    for (const Entry &entry : list) {
        if (!which(entry)) {
            left += entry;
            continue;
        }
        // A noted entry with a backup never touched its target: nothing to undo.
        const bool touched = entry.armed || entry.backup.isEmpty();
        QString note;
        const bool done = !touched || undoUpload(entry, note);
        if (!note.isEmpty())
            notes += note;
        if (!done) {
            left += entry;
            settled = false;
        }
    }
    if (left.size() != list.size() && !save(left, error)) {
        notes += QStringLiteral("Cannot update the upload journal %1: %2").arg(m_path, error);
        return false;
    }
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
            return samePath(entry.target, target) ||
                   (!backup.isEmpty() && samePath(entry.backup, backup));
        },
        notes);
}

} // namespace Tarvo
