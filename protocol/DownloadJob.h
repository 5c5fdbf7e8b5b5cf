// Sends one host file to the portable.
//
// "RECEIVING NAME", an "L" announce, 120-byte blocks escaped into "Y" frames,
// and a "Z" end packet, restarting once per block after its third NAK. The
// file is read in a fixed buffer; memory does not grow with its size. Before
// the end packet the file is read back through its path: a file changed
// while it was sent (other bytes, length or identity) fails the entry.
#pragma once

#include "PacketLink.h"
#include "Reporter.h"

#include <QString>
#include <cstdint>

namespace Tarvo {

struct DownloadEntry;

class DownloadJob
{
public:
    static constexpr int BlockSize = 120;

    DownloadJob(PacketLink &link, Reporter &reporter);

    bool RunDownloadJob(const DownloadEntry &entry);
    bool AnnounceDownload(const QString &name, std::uint32_t offset);
    bool SendEndPacket();

private:
    PacketLink &m_link;
    Reporter &m_reporter;
};

} // namespace Tarvo
