// Fetches one file from the portable.
//
// "SENDING NAME", a "U" request, then empty "Y" next-packet requests answered
// by portable frames until a "Z" frame ends the file. An existing host file
// is kept as a ".BAK" backup until the new copy is complete and put back
// after any failure, but only over a file that holds what the upload wrote
// (HostCopy); the file counts as complete only when what is read back from
// Save As, block by block as it is written, is exactly what was written.
// The UploadJournal, when given, records this so that a kill is undone at
// the next start; one the process could not lock at its start is tried
// again at each upload, which is refused while it cannot be had. The file
// is written from a fixed buffer.
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

    // Puts back the upload whose target is being written, now, from inside
    // one of its waits: old copy restored (or the new file removed), journal
    // entry cleared, the log told. For an end that cannot wait for the job
    // to unwind; the job then fails without undoing anything twice. False
    // when no upload is in flight.
    static bool putBackInFlight();

private:
    PacketLink &m_link;
    Reporter &m_reporter;
    UploadJournal *m_journal;
};

} // namespace Tarvo
