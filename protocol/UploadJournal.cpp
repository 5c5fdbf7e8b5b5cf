#include "UploadJournal.h"

#include "HostFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace Tarvo {

namespace {
const QString Target = QStringLiteral("target");
const QString Backup = QStringLiteral("backup");
const QString Armed = QStringLiteral("armed");
} // namespace

UploadJournal::UploadJournal(const QString &folder)
    : m_path(QDir(folder).filePath(QStringLiteral("uploads.journal")))
{
}

QString UploadJournal::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QList<UploadJournal::Entry> UploadJournal::entries() const
{
    QFile file(m_path);
    QString error;
    QList<Entry> list;
    if (!openRegularFile(file, QIODevice::ReadOnly, error))
        return list;
    const QJsonArray array = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        const Entry entry{object.value(Target).toString(), object.value(Backup).toString(),
                          object.value(Armed).toBool()};
        if (!entry.target.isEmpty())
            list += entry;
    }
    return list;
}

bool UploadJournal::save(const QList<Entry> &entries, QString &error)
{
    if (entries.isEmpty()) {
        QFile file(m_path);
        if (!file.exists() || file.remove())
            return true;
        error = file.errorString();
        return false;
    }
    QJsonArray array;
    for (const Entry &entry : entries)
        array.append(
            QJsonObject{{Target, entry.target}, {Backup, entry.backup}, {Armed, entry.armed}});
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(array).toJson()) >= 0 &&
        file.commit())
        return true;
    error = file.errorString();
    return false;
}

bool UploadJournal::note(const QString &target, const QString &backup, QString &error)
{
    QList<Entry> list = entries();
    list.removeIf([&target](const Entry &entry) { return entry.target == target; });
    list += Entry{target, backup, false};
    return save(list, error);
}

bool UploadJournal::arm(const QString &target, QString &error)
{
    QList<Entry> list = entries();
    for (Entry &entry : list) {
        if (entry.target == target)
            entry.armed = true;
    }
    return save(list, error);
}

bool UploadJournal::forget(const QString &target, QString &error)
{
    QList<Entry> list = entries();
    if (list.removeIf([&target](const Entry &entry) { return entry.target == target; }) == 0)
        return true;
    return save(list, error);
}

QString UploadJournal::undo(const Entry &entry, bool &done)
{
    // Already put back (or removed by hand): nothing left to undo.
    const QString left = entry.backup.isEmpty() ? entry.target : entry.backup;
    if (!QFile::exists(left)) {
        done = true;
        return {};
    }
    QString error;
    done = putBack(entry.target, entry.backup, error);
    if (entry.backup.isEmpty())
        return done
                   ? QStringLiteral("Removed %1: an upload to it was interrupted and there was "
                                    "no earlier copy.")
                         .arg(entry.target)
                   : QStringLiteral("Cannot remove the incomplete %1: %2").arg(entry.target, error);
    return done ? QStringLiteral("Restored %1 from its backup %2: an upload to it was "
                                 "interrupted.")
                      .arg(entry.target, entry.backup)
                : QStringLiteral("Cannot restore %1 from its backup %2: %3")
                      .arg(entry.target, entry.backup, error);
}

QStringList UploadJournal::recover()
{
    QStringList notes;
    QList<Entry> left;
    for (const Entry &entry : entries()) {
        bool done = true;
        if (entry.armed) {
            const QString note = undo(entry, done);
            if (!note.isEmpty())
                notes += note;
        }
        // Kept for the next start when it could not be undone now.
        if (!done)
            left += entry;
    }
    QString error;
    if (!save(left, error))
        notes += QStringLiteral("Cannot update the upload journal %1: %2").arg(m_path, error);
    return notes;
}

} // namespace Tarvo
