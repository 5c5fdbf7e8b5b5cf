#include "HostCopy.h"

#include <cstdlib>

namespace Tarvo {

namespace {

HostCopy *inFlight = nullptr;

void putBackAtExit()
{
    if (inFlight)
        inFlight->abandonAtExit();
}

} // namespace

void HostCopy::enterFlight()
{
    static const bool registered = std::atexit(putBackAtExit) == 0;
    Q_UNUSED(registered);
    inFlight = this;
}

void HostCopy::leaveFlight()
{
    if (inFlight == this)
        inFlight = nullptr;
}

bool HostCopy::putBackInFlight()
{
    if (!inFlight)
        return false;
    inFlight->putBackNow();
    return true;
}

bool HostCopy::begin(QString &error, QStringList &notes)
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
    if (!record([this](UploadJournal &j, QString &e) { return j.arm(m_target, m_written.id, e); },
                error))
        return discard();
    enterFlight();
    if (!m_file.resize(0)) {
        error =
            UploadText::fileError(QStringLiteral("Cannot write"), m_saveAs, m_file.errorString());
        QString cleanup;
        abandon(cleanup);
        if (!cleanup.isEmpty())
            error += QLatin1String(CrLf) + cleanup;
        return false;
    }
    m_lastWrite = identityOf(m_file).modified;
    return true;
}

bool HostCopy::append(const std::uint8_t *data, int count, QString &error)
{
    if (putBack(error))
        return false;
    if (!stillOwn(error))
        return false;
    const auto *bytes = reinterpret_cast<const char *>(data);
    QString why;
    if (m_mark.isOpen() && !m_mark.record(m_length, m_digest.result(), bytes, count, why)) {
        error = UploadText::fileError(QStringLiteral("Cannot record the upload in"), m_mark.path(),
                                      why);
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

bool HostCopy::commit(QString &error, QString &notice)
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
        error =
            QStringLiteral("%1 was changed by another program during the upload.").arg(m_saveAs);
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

bool HostCopy::abandon(QString &note)
{
    if (m_putBack)
        return true;
    m_file.close();
    m_readBack.close();
    // Every block was read back as written; a target that is still that
    // file, at that length and time, needs no reading again (an end
    // that must be quick, a slow share).
    const FileIdentity there = identityOf(m_saveAs);
    const bool seen = !m_touched && !m_unread && m_pending.isEmpty() && there.sameFile(m_written) &&
                      there.size == m_length && there.modified == m_lastWrite;
    const WrittenBytes written{m_length, m_digest.result(), m_pending, seen};
    const bool done =
        undoUpload({m_target, m_backup, m_mark.path(), m_written.id, true}, note, &written);
    if (done)
        settle();
    return done;
}

void HostCopy::abandonAtExit()
{
    QString note;
    abandon(note);
    m_reporter.WriteLog(CrLf +
                        QStringLiteral("Tarvo ended during the upload to %1: ").arg(m_saveAs) +
                        (note.isEmpty() ? QStringLiteral("it is undone.") : note) + CrLf +
                        UploadText::Failed + CrLf);
}

void HostCopy::putBackNow()
{
    abandonAtExit();
    m_putBack = true;
    leaveFlight();
}

bool HostCopy::putBack(QString &error) const
{
    if (m_putBack)
        error = QStringLiteral("The upload to %1 was put back as Tarvo ended.").arg(m_saveAs);
    return m_putBack;
}

bool HostCopy::takeJournal(QString &error, QStringList &notes)
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

bool HostCopy::isOwnBackup(const QString &backup) const
{
    return QFileInfo(backup).fileName().compare(QFileInfo(m_target).fileName(),
                                                Qt::CaseInsensitive) == 0 &&
           entryIdentity(backup).sameFile(entryIdentity(m_target));
}

bool HostCopy::discard()
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

void HostCopy::settle()
{
    QString ignored; // an entry left behind is only undone once more at the next start
    m_mark.close();
    if (m_journal)
        m_journal->forget(m_target, ignored);
}

bool HostCopy::makeBackup(const QString &backupPath, QString &error)
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

bool HostCopy::openReadBack(QString &error)
{
    QString why;
    m_readBack.setFileName(m_target);
    if (!openRegularFile(m_readBack, QIODevice::ReadOnly | QIODevice::Unbuffered, why)) {
        error = UploadText::fileError(QStringLiteral("Cannot read back"), m_saveAs, why);
        return false;
    }
    if (!identityOf(m_readBack).sameFile(m_written)) {
        error = QStringLiteral("%1 was replaced by another file during the upload.").arg(m_saveAs);
        return false;
    }
    return true;
}

bool HostCopy::stillOwn(QString &error)
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

QString HostCopy::lostReason(const FileIdentity &there) const
{
    if (there.sameFile(m_written))
        return {};
    const QString folder = QFileInfo(m_saveAs).absolutePath();
    return !QFileInfo(folder).isDir()
               ? QStringLiteral("The folder %1 was removed or renamed during the upload: "
                                "%2 is not there.")
                     .arg(folder, m_saveAs)
           : there.exists()
               ? QStringLiteral("%1 was replaced by another file during the upload.").arg(m_saveAs)
               : QStringLiteral("%1 was removed during the upload.").arg(m_saveAs);
}

bool HostCopy::readBack(const char *bytes, int count, QString &error)
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
    error = QStringLiteral("%1 was changed by another program during the upload.").arg(m_saveAs);
    return false;
}
} // namespace Tarvo
