// Fetches one file from the portable.
//
// "SENDING NAME", a "U" request, then empty "Y" next-packet requests answered
// by portable frames until a "Z" frame ends the file. An existing host file
// is kept as a ".BAK" backup until the new copy is complete and put back
// after any failure; the UploadJournal, when given, records this so that a
// kill is undone at the next start. The file is written from a fixed buffer.
#pragma once

#include "PacketLink.h"
#include "Reporter.h"

#include <QString>
#include <cstdint>

namespace Tarvo {

struct UploadEntry;
class UploadJournal;

class UploadJob
{
public:
    UploadJob(PacketLink &link, Reporter &reporter, UploadJournal *journal = nullptr);
    void setJournal(UploadJournal *journal) { m_journal = journal; }

    bool RunUploadJob(const UploadEntry &entry);
    bool RequestUpload(const QString &name, std::uint32_t offset);

private:
    PacketLink &m_link;
    Reporter &m_reporter;
    UploadJournal *m_journal;
};

} // namespace Tarvo
