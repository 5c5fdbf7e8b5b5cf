#include "DownloadJob.h"
#include "Configuration.h"
#include "FrameCodec.h"
#include "LineCharset.h"

#include "HostFiles.h"
#include "TransferSteps.h"

#include <QFile>

namespace Tarvo {

namespace {

const QString Failed = QStringLiteral("Download failed");

void reportFailure(Reporter &reporter, const QString &reason)
{
    reportTransferFailure(reporter, reason, Failed);
}

QString announceBody(const QString &name, std::uint32_t offset)
{
    if (offset == 0)
        return name;
    return name + QLatin1Char('[') + QString::number(offset) + QLatin1Char(']');
}

} // namespace

DownloadJob::DownloadJob(PacketLink &link, Reporter &reporter) : m_link(link), m_reporter(reporter)
{
}

bool DownloadJob::RunDownloadJob(const DownloadEntry &entry)
{
    if (!beginFileTransfer(m_link, m_reporter, entry.Name,
                           QStringLiteral("RECEIVING ") + LineCharset::toUpper(entry.Name),
                           QStringLiteral("Download ") + entry.Name + QStringLiteral(" ..."),
                           Failed))
        return false;

    // The host file is opened before the announce: a file that vanished or
    // cannot be read must not reach the portable, not even as an empty file.
    // Only a regular file: a pipe or device could block the server in open or read.
    QFile file(entry.OpenFrom);
    QString error;
    if (!openRegularFile(file, QIODevice::ReadOnly, error)) {
        reportFailure(m_reporter, QStringLiteral("Cannot read ") + entry.OpenFrom +
                                      QStringLiteral(": ") + error);
        return false;
    }
    // What is sent must be one version of one file: taken now, compared at the end.
    const FileIdentity opened = identityOf(file);
    if (!AnnounceDownload(entry.Name, 0))
        return false;

    std::uint8_t block[BlockSize];
    DataBuffer escaped{};
    std::uint32_t offset = 0;
    for (;;) {
        const qint64 got =
            readSome(file, entry.OpenFrom, reinterpret_cast<char *>(block), BlockSize, error);
        if (got < 0) {
            reportFailure(m_reporter, QStringLiteral("Cannot read ") + entry.OpenFrom +
                                          QStringLiteral(": ") + error);
            return false;
        }
        if (got == 0)
            break;
        const int length = EscapeBlock(block, escaped.data(), int(got));
        Exchange exchange(
            m_link.wait(),
            buildFrame('Y', QByteArray(reinterpret_cast<const char *>(escaped.data()), length)));
        Exchange::Outcome outcome = exchange.run();
        if (outcome == Exchange::Outcome::ThirdNak) {
            // The portable starts this block over: close what it has, announce
            // again at the block's offset, then the same frame once more. The
            // exchange keeps its NAK count, so this happens once per block.
            m_reporter.WriteLog(QStringLiteral("NAK, restart downloading") + CrLf);
            if (!SendEndPacket() || !AnnounceDownload(entry.Name, offset))
                return false;
            outcome = exchange.resume();
        }
        switch (outcome) {
        case Exchange::Outcome::Ack:
            break;
        case Exchange::Outcome::ThirdTimeout:
            reportFailure(m_reporter, QStringLiteral("Time out error (2)"));
            return false;
        default:
            // A resumed exchange cannot end by NAKs, so this is the line.
            reportFailure(m_reporter, m_link.abortReason());
            return false;
        }
        m_reporter.AppendStatus(QStringLiteral("."));
        m_link.SendPacket(QStringLiteral("."));
        offset += std::uint32_t(got);
        if (got < BlockSize)
            break;
    }

    // Rewritten, cut short or replaced while it was read: the portable has a
    // mixed or short copy, which must not be called a success. The bytes
    // sent are the very bytes read, so what is left to see is that the file
    // ends there and is still the one opened, unchanged: the path leads to
    // it, at the length sent, with the time it had. Nothing is read through
    // again, which on a slow share would keep the portable waiting.
    char beyond[1];
    const qint64 more = readSome(file, entry.OpenFrom, beyond, 1, error);
    const FileIdentity now = identityOf(entry.OpenFrom);
    if (more != 0 || identityOf(file).modified != opened.modified ||
        offset != quint64(opened.size) || !now.sameFile(opened) || now.size != offset ||
        now.modified != opened.modified) {
        reportFailure(m_reporter,
                      entry.OpenFrom + QStringLiteral(" changed while it was being sent."));
        return false;
    }
    if (!SendEndPacket())
        return false;
    m_reporter.AppendStatus(CrLf + QStringLiteral("Done") + CrLf);
    m_reporter.SetTrayTip(QStringLiteral("Download success"));
    return true;
}

bool DownloadJob::AnnounceDownload(const QString &name, std::uint32_t offset)
{
    return openFileExchange(m_link, m_reporter,
                            buildFrame('L', LineCharset::encode(announceBody(name, offset))), {},
                            offset, Failed);
}

bool DownloadJob::SendEndPacket()
{
    Exchange exchange(m_link.wait(), buildFrame('Z', {}));
    switch (exchange.run()) {
    case Exchange::Outcome::Ack:
        return true;
    case Exchange::Outcome::ThirdNak:
        reportFailure(m_reporter, QStringLiteral("NAK error (3)"));
        return false;
    case Exchange::Outcome::ThirdTimeout:
        reportFailure(m_reporter, QStringLiteral("Time out error (3)"));
        return false;
    default:
        reportFailure(m_reporter, m_link.abortReason());
        return false;
    }
}

} // namespace Tarvo
