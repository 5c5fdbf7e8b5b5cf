#include "Configuration.h"
#include "LineCharset.h"
#include "PathHelpers.h"
#include "Transfers.h"

#include "TransferSteps.h"

#include <QDir>
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
// copy it replaces. Once begin() has succeeded, exactly one of commit() and
// abandon() ends it.
class HostCopy
{
public:
    explicit HostCopy(const QString &saveAs) : m_saveAs(saveAs), m_file(saveAs) {}

    bool begin(QString &error)
    {
        if (QFile::exists(m_saveAs) && !makeBackup(error))
            return false;
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return true;
        error = fileError(QStringLiteral("Cannot write"), m_saveAs, m_file.errorString());
        // A failed open leaves the old copy as it was: the backup is not needed.
        if (!m_backup.isEmpty())
            QFile::remove(m_backup);
        return false;
    }

    // Flushed per packet, so that the file length is the restart offset.
    bool append(const std::uint8_t *data, int count, QString &error)
    {
        if (m_file.write(reinterpret_cast<const char *>(data), count) == count && m_file.flush())
            return true;
        error = fileError(QStringLiteral("Cannot write"), m_saveAs, m_file.errorString());
        return false;
    }

    qint64 length() const { return m_file.size(); }

    bool commit(QString &error)
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            error = fileError(QStringLiteral("Cannot write"), m_saveAs, m_file.errorString());
            return false;
        }
        QFile backup(m_backup);
        if (m_backup.isEmpty() || backup.remove())
            return true;
        error = fileError(QStringLiteral("Cannot delete"), m_backup, backup.errorString());
        return false;
    }

    // Leaves the host as it was before the upload: the old copy back in
    // place, or no file at all when there was none.
    bool abandon(QString &error)
    {
        m_file.close();
        if (m_file.exists() && !m_file.remove()) {
            error = fileError(QStringLiteral("Cannot delete"), m_saveAs, m_file.errorString());
            return false;
        }
        QFile backup(m_backup);
        if (m_backup.isEmpty() || backup.rename(m_saveAs))
            return true;
        error = QStringLiteral("Cannot restore ") + m_saveAs + QStringLiteral(" from ") + m_backup +
                QStringLiteral(": ") + backup.errorString();
        return false;
    }

private:
    bool makeBackup(QString &error)
    {
        const QString backupPath = UploadJob::backupPath(m_saveAs);
        // Copying never overwrites, and an older backup is of no further use.
        QFile older(backupPath);
        if (older.exists() && !older.remove()) {
            error = fileError(QStringLiteral("Cannot delete"), backupPath, older.errorString());
            return false;
        }
        QFile original(m_saveAs);
        if (!original.copy(backupPath)) {
            error = fileError(QStringLiteral("Cannot back up"), m_saveAs, original.errorString());
            return false;
        }
        m_backup = backupPath;
        return true;
    }

    QString m_saveAs;
    QString m_backup; // empty when no backup was made
    QFile m_file;
};

} // namespace

UploadJob::UploadJob(PacketLink &link, Reporter &reporter, const Configuration &config)
    : m_link(link), m_reporter(reporter), m_config(config)
{
}

QString UploadJob::backupPath(const QString &saveAs)
{
    const QString path = QDir::toNativeSeparators(saveAs);
    const QChar separator = nativeSeparator();
    const QString name = GetFileName(path, false) + QStringLiteral(".BAK");
    // A bare file name keeps its backup beside it, in the same folder.
    const QString backup = path.contains(separator) ? GetDirectory(path) + separator + name : name;
    // A file whose own name is the backup's (ORDERS.BAK) would be deleted
    // to make room for its own copy; its backup takes a longer name.
    return backup == path ? path + QStringLiteral(".BAK") : backup;
}

QStringList UploadJob::leftoverBackups(const Configuration &config)
{
    QStringList notes;
    for (int i = 0; i < config.UploadCount; ++i) {
        const QString target = config.UploadList[i].SaveAs;
        const QString backup = backupPath(target);
        if (!target.isEmpty() && QFile::exists(backup))
            notes += QStringLiteral("Backup %1 of %2 found: an earlier upload did not finish; "
                                    "the previous copy is in the backup.")
                         .arg(backup, target);
    }
    return notes;
}

bool UploadJob::RunUploadJob(int index)
{
    const UploadEntry &entry = m_config.UploadList.at(std::size_t(index));
    beginFileTransfer(m_link, m_reporter,
                      QStringLiteral("SENDING ") + LineCharset::toUpper(entry.Name),
                      QStringLiteral("Upload ") + entry.Name + QStringLiteral(" ..."));

    if (!RequestUpload(entry.Name, 0))
        return false;

    HostCopy host(entry.SaveAs);
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

    const QByteArray nextPacket = BuildFrame('Y', {});
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
            if (!host.commit(error))
                return fail(error);
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
    const QByteArray body = lineBytes(name) + '[' + QByteArray::number(offset) + ']';
    return openFileExchange(m_link, m_reporter, BuildFrame('U', body), QByteArray(1, Byte::EOT),
                            offset, Failed);
}

} // namespace Tarvo
