// The two directions of file transfer over the packet link.
//
// DownloadJob sends the host file of one DownloadList slot to the portable:
// "RECEIVING NAME", an "L" announce, 120-byte blocks escaped into "Y" frames,
// and a "Z" end packet, restarting once per block after its third NAK.
//
// UploadJob fetches the file of one UploadList slot: "SENDING NAME", a "U"
// request, then empty "Y" next-packet requests answered by portable frames
// until a "Z" frame ends the file. An existing host file is kept as a ".BAK"
// backup until the new copy is complete and put back after any failure; the
// UploadJournal, when given, records this so that a kill is undone at the
// next start.
//
// Both read and write files in fixed buffers; memory does not grow with the
// file size.
#pragma once

#include "PacketLink.h"
#include "Reporter.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace Tarvo {

struct Configuration;
class UploadJournal;

class DownloadJob
{
public:
    static constexpr int BlockSize = 120;

    DownloadJob(PacketLink &link, Reporter &reporter, const Configuration &config);

    bool RunDownloadJob(int index);
    bool AnnounceDownload(const QString &name, std::uint32_t offset);
    bool SendEndPacket();

private:
    PacketLink &m_link;
    Reporter &m_reporter;
    const Configuration &m_config;
};

class UploadJob
{
public:
    UploadJob(PacketLink &link, Reporter &reporter, const Configuration &config,
              UploadJournal *journal = nullptr);
    void setJournal(UploadJournal *journal) { m_journal = journal; }

    bool RunUploadJob(int index);
    bool RequestUpload(const QString &name, std::uint32_t offset);

    // The backup path for a host file: folder + name before its first "." + ".BAK".
    static QString backupPath(const QString &saveAs);

private:
    PacketLink &m_link;
    Reporter &m_reporter;
    const Configuration &m_config;
    UploadJournal *m_journal;
};

} // namespace Tarvo
