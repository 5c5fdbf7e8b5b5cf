#include "UploadJob.h"
#include "Configuration.h"
#include "FrameCodec.h"
#include "LineCharset.h"
#include "PathHelpers.h"

#include "HostFiles.h"
#include "TransferSteps.h"
#include "UploadJournal.h"

#include <QFile>

namespace Tarvo {

namespace {

const QString Failed = QStringLiteral("Upload failed");

void reportFailure(Reporter &reporter, const QString &reason)
{
    reportTransferFailure(reporter, reason, Failed);
}

QString fileError(const QString &what, const QString &path, const QString &error)
{
    return what + QLatin1Char(' ') + path + QStringLiteral(": ") + error;
}

// The host side of one upload: the file being written and the backup of the
// copy it replaces, recorded in the journal (when there is one) for as long
// as the target may differ from what it was. Once begin() has succeeded,
// exactly one of commit() and abandon() ends it.
class HostCopy
{
public:
    HostCopy(const QString &saveAs, UploadJournal *journal)
        : m_saveAs(saveAs), m_journal(journal), m_file(saveAs)
    {
    }

    bool begin(QString &error)
    {
        const QString notAFile = notRegularReason(m_saveAs);
        if (!notAFile.isEmpty()) {
            error = fileError(QStringLiteral("Cannot write"), m_saveAs, notAFile);
            return false;
        }
        const bool existing = QFile::exists(m_saveAs);
        const QString backup = existing ? Tarvo::backupPath(m_saveAs) : QString();
        if (!record([&](UploadJournal &j, QString &why) { return j.note(m_saveAs, backup, why); },
                    error))
            return false;
        if (existing && !makeBackup(backup, error)) {
            settle();
            return false;
        }
        if (!record([this](UploadJournal &j, QString &why) { return j.arm(m_saveAs, why); }, error))
            return discardBackup();
        QString why;
        if (openRegularFile(m_file, QIODevice::WriteOnly | QIODevice::Truncate, why))
            return true;
        error = fileError(QStringLiteral("Cannot write"), m_saveAs, why);
        return discardBackup();
    }

    // Flushed per packet, so that the file length is the restart offset.
    bool append(const std::uint8_t *data, int count, QString &error)
    {
        const QString why = writeAll(m_file, reinterpret_cast<const char *>(data), count);
        if (why.isEmpty())
            return true;
        error = fileError(QStringLiteral("Cannot write"), m_saveAs, why);
        return false;
    }

    qint64 length() const { return m_file.size(); }

    // The new file is complete and is the truth from here on: a backup that
    // cannot be removed is left where it is (named in notice), never the new
    // file given up for it.
    bool commit(QString &error, QString &notice)
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            error = fileError(QStringLiteral("Cannot write"), m_saveAs, m_file.errorString());
            return false;
        }
        QFile backup(m_backup);
        if (!m_backup.isEmpty() && !backup.remove())
            notice = QStringLiteral("Cannot delete the backup %1 (%2): it still holds the "
                                    "previous copy of %3.")
                         .arg(m_backup, backup.errorString(), m_saveAs);
        settle();
        return true;
    }

    // Leaves the host as it was before the upload: the old copy back in
    // place by one rename over the partial file, or no file at all when
    // there was none. What cannot be undone now stays in the journal.
    bool abandon(QString &error)
    {
        m_file.close();
        QString why;
        if (!putBack(m_saveAs, m_backup, why)) {
            error = m_backup.isEmpty()
                        ? fileError(QStringLiteral("Cannot delete"), m_saveAs, why)
                        : QStringLiteral("Cannot restore ") + m_saveAs + QStringLiteral(" from ") +
                              m_backup + QStringLiteral(": ") + why;
            return false;
        }
        settle();
        return true;
    }

private:
    template <typename Step> bool record(Step step, QString &error)
    {
        QString why;
        if (!m_journal || step(*m_journal, why))
            return true;
        error = fileError(QStringLiteral("Cannot record the upload in"), m_journal->path(), why);
        return false;
    }

    // The target was never opened, so it is as it was and the backup is not needed.
    bool discardBackup()
    {
        if (!m_backup.isEmpty())
            QFile::remove(m_backup);
        settle();
        return false;
    }

    void settle()
    {
        QString ignored; // an entry left behind is only undone once more at the next start
        if (m_journal)
            m_journal->forget(m_saveAs, ignored);
    }

    bool makeBackup(const QString &backupPath, QString &error)
    {
        // An older backup of the same name is of no further use: the copy
        // replaces it in one step.
        QString why;
        if (!copyRegularFile(m_saveAs, backupPath, why)) {
            error = fileError(QStringLiteral("Cannot back up"), m_saveAs, why);
            return false;
        }
        m_backup = backupPath;
        return true;
    }

    QString m_saveAs;
    UploadJournal *m_journal;
    QString m_backup; // empty when no backup was made
    QFile m_file;
};

} // namespace

UploadJob::UploadJob(PacketLink &link, Reporter &reporter, UploadJournal *journal)
    : m_link(link), m_reporter(reporter), m_journal(journal)
{
}

bool UploadJob::RunUploadJob(const UploadEntry &entry)
{
    if (!beginFileTransfer(m_link, m_reporter, entry.Name,
                           QStringLiteral("SENDING ") + LineCharset::toUpper(entry.Name),
                           QStringLiteral("Upload ") + entry.Name + QStringLiteral(" ..."), Failed))
        return false;

    if (!RequestUpload(entry.Name, 0))
        return false;

    HostCopy host(entry.SaveAs, m_journal);
    QString error;
    if (!host.begin(error)) {
        reportFailure(m_reporter, error);
        return false;
    }
    // reason is empty when the failing step has reported already.
    const auto fail = [&](const QString &reason) {
        if (!reason.isEmpty())
            reportFailure(m_reporter, reason);
        QString cleanup;
        if (!host.abandon(cleanup))
            reportFailure(m_reporter, cleanup);
        return false;
    };
    const auto answer = [this](char byte) {
        return m_link.line().write(QByteArray(1, byte)) && m_link.wait().pause();
    };

    const QByteArray nextPacket = buildFrame('Y', {});
    DataBuffer data{};
    for (;;) {
        // A fresh exchange per packet: both counts start again from 0.
        Exchange exchange(m_link.wait(), nextPacket, QByteArray(1, Byte::ETX), false,
                          Exchange::Priority::WatchedFirst);
        Exchange::Outcome outcome = exchange.run();
        if (outcome == Exchange::Outcome::ThirdNak) {
            m_reporter.WriteLog(QStringLiteral("NAK, restart uploading") + CrLf);
            if (!RequestUpload(entry.Name, std::uint32_t(host.length())))
                return fail({});
            outcome = exchange.resume();
        }
        if (outcome == Exchange::Outcome::ThirdTimeout)
            return fail(QStringLiteral("Time out error (2)"));
        if (outcome != Exchange::Outcome::Watched)
            return fail(m_link.abortReason());

        int count = 0;
        bool last = false;
        if (!ParsePacket(exchange.received(), data, count, last)) {
            // Not counted: the portable may repeat a packet as often as it likes.
            if (!answer(Byte::NAK))
                return fail(m_link.abortReason());
            continue;
        }
        if (!answer(Byte::ACK))
            return fail(m_link.abortReason());
        m_reporter.AppendStatus(QStringLiteral("."));
        m_link.SendPacket(QStringLiteral("."));
        if (last) {
            // The data of the closing frame is not part of the file.
            QString notice;
            if (!host.commit(error, notice))
                return fail(error);
            if (!notice.isEmpty())
                m_reporter.AppendStatus(CrLf + notice, ColourRed);
            m_reporter.AppendStatus(CrLf + QStringLiteral("Done") + CrLf);
            m_reporter.SetTrayTip(QStringLiteral("Upload success"));
            return true;
        }
        if (!host.append(data.data(), count, error))
            return fail(error);
    }
}

bool UploadJob::RequestUpload(const QString &name, std::uint32_t offset)
{
    const QByteArray body = LineCharset::encode(name) + '[' + QByteArray::number(offset) + ']';
    return openFileExchange(m_link, m_reporter, buildFrame('U', body), QByteArray(1, Byte::EOT),
                            offset, Failed);
}

} // namespace Tarvo
