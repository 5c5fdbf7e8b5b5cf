// The configuration model: which port the modem is on, what a call does,
// and the two fixed tables of file entries.
//
// main() owns the one model of a run and hands it to whoever needs it. The
// configuration window loads it from the settings store every time it opens
// and edits it in place; the modem control and the call handling only read
// it. Counts are never stored: the window derives them at load from the
// leading slots with a name.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace Tarvo {

inline constexpr int MaxEntries = 8;

enum JobKind : std::int16_t { DownloadOnly = 0, UploadOnly = 1, DownloadAndUpload = 2 };

struct DownloadEntry
{
    QString Name;     // name under which the portable stores the file
    QString OpenFrom; // host file that is sent
    bool operator==(const DownloadEntry &) const = default;
};

struct UploadEntry
{
    QString Name;   // file on the portable that is fetched
    QString SaveAs; // host path the received file is stored under
    bool operator==(const UploadEntry &) const = default;
};

struct Configuration
{
    std::int16_t ModemPort = 0; // 1..4 for COM1..COM4
    std::int16_t JobType = 0;   // a JobKind; other values run nothing
    std::array<DownloadEntry, MaxEntries> DownloadList{};
    std::array<UploadEntry, MaxEntries> UploadList{};
    std::int16_t DownloadCount = 0; // slots 0..count-1 are in use
    std::int16_t UploadCount = 0;

    // Number of leading slots whose Name is not empty: the first empty
    // name ends a list, whatever the slots behind it hold.
    void deriveCounts();

    bool operator==(const Configuration &) const = default;
};

// One sentence for each entry in use whose portable name the call would
// refuse (LineCharset::nameRefusal), naming the entry: what the settings
// window says at OK and the store notes as it reads them.
QStringList nameRefusals(const Configuration &config);

} // namespace Tarvo
