#include "TransferSteps.h"

#include "LineCharset.h"

namespace Tarvo {

bool beginFileTransfer(PacketLink &link, Reporter &reporter, const QString &name,
                       const QString &message, const QString &progress, const QString &failed)
{
    reporter.clearStatus();
    // A stand-in character would make the portable store or send another
    // file than the one configured; a name too long for its frames, or one
    // whose end reads as an offset, would reach it mangled.
    const QString refused = LineCharset::nameRefusal(name);
    if (!refused.isEmpty()) {
        reporter.AppendStatus(progress + CrLf);
        reportTransferFailure(reporter,
                              QStringLiteral("The name %1 cannot be sent to the portable: %2. "
                                             "Please change it in the settings.")
                                  .arg(name, refused),
                              failed);
        return false;
    }
    link.SendPacket(message + CrLf);
    reporter.AppendStatus(progress + CrLf);
    reporter.SetTrayTip(progress);
    return true;
}

void reportTransferFailure(Reporter &reporter, const QString &reason, const QString &failed)
{
    reporter.AppendStatus(reason + CrLf + failed + CrLf, ColourRed);
    reporter.SetTrayTip(failed);
}

bool openFileExchange(PacketLink &link, Reporter &reporter, QByteArray frame, QByteArray watch,
                      std::uint32_t offset, const QString &failed)
{
    Exchange exchange(link.wait(), std::move(frame), std::move(watch));
    QString reason;
    switch (exchange.run()) {
    case Exchange::Outcome::Ack:
        reporter.AppendStatus(QStringLiteral("."));
        link.SendPacket(QStringLiteral("."));
        return true;
    case Exchange::Outcome::ThirdNak:
        reason = offset == 0 ? QStringLiteral("NAK error (1)") : QStringLiteral("NAK error (2)");
        break;
    case Exchange::Outcome::Watched:
        reason = QStringLiteral("File doesnot exist on portable.");
        break;
    case Exchange::Outcome::ThirdTimeout:
        reason = QStringLiteral("Time out error (1)");
        break;
    default:
        reason = link.abortReason();
        break;
    }
    reportTransferFailure(reporter, reason, failed);
    return false;
}

} // namespace Tarvo
