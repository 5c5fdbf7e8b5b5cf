#include "UploadJob.h"
#include "Configuration.h"
#include "FrameCodec.h"
#include "LineCharset.h"
#include "PathHelpers.h"

#include "HostCopy.h"
#include "TransferSteps.h"

namespace Tarvo {

namespace {

using UploadText::Failed;

void reportFailure(Reporter &reporter, const QString &reason)
{
    reportTransferFailure(reporter, reason, Failed);
}

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

    HostCopy host(entry.SaveAs, m_journal, m_reporter);
    QString error;
    QStringList notes;
    const bool begun = host.begin(error, notes);
    for (const QString &note : notes)
        m_reporter.AppendStatus(note + CrLf, ColourRed);
    if (!begun) {
        reportFailure(m_reporter, error);
        return false;
    }
    // reason is empty when the failing step has reported already.
    const auto fail = [&](const QString &reason) {
        if (!reason.isEmpty())
            reportFailure(m_reporter, reason);
        QString cleanup;
        host.abandon(cleanup);
        if (!cleanup.isEmpty())
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

bool UploadJob::putBackInFlight()
{
    return HostCopy::putBackInFlight();
}

} // namespace Tarvo
