// Steps the two transfer directions share: the start of a file (a cleared
// pane, the "RECEIVING"/"SENDING" message, the progress line and tip, or,
// for a name the line cannot carry, nothing sent and a failure), the red
// failure report that ends with "Download failed" or "Upload failed", and
// the opening exchange of a file (the "L" announce or the "U" request),
// which both answer the same way:
// an ACK shows "." and sends the "." message, a third NAK is "NAK error (1)"
// at offset 0 and "NAK error (2)" elsewhere, a third time-out is
// "Time out error (1)", and EOT (watched by the request only) means the
// portable has no such file.
#pragma once

#include "Exchange.h"
#include "PacketLink.h"
#include "Reporter.h"

namespace Tarvo {

// False when name cannot travel (LineCharset::nameRefusal): it failed with a
// red message saying why, and nothing went out.
bool beginFileTransfer(PacketLink &link, Reporter &reporter, const QString &name,
                       const QString &message, const QString &progress, const QString &failed);

void reportTransferFailure(Reporter &reporter, const QString &reason, const QString &failed);

bool openFileExchange(PacketLink &link, Reporter &reporter, QByteArray frame, QByteArray watch,
                      std::uint32_t offset, const QString &failed);

} // namespace Tarvo
