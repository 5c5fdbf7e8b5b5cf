// The portable's side of one call, fed byte by byte with what the host sends
// while the modem is online.
//
// Host frames are checked and answered with ACK or NAK. "0" messages are only
// acknowledged, but "ALL DONE" and "ERROR" ask the modem to end the call.
// "L" name[offset] opens a file in the download folder at that offset, "Y"
// frames with data append to it, "Z" closes it. "U" name[offset] opens a file
// of the upload folder (EOT when there is none) and each empty "Y" then asks
// for the next frame: a "D" frame with up to 120 bytes or, at the end, an
// empty "Z" frame. The host's ACK moves on to the next block; after a NAK, or
// when a request comes while the last frame is still unanswered, the same
// frame goes out again.
//
// Frames the portable refused (by fault or by checksum) change nothing, so a
// retried frame is never applied twice. Fault options let tests provoke the
// host's retries, restarts and time-outs.
#pragma once

#include "PortableFrames.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <utility>

namespace Tarvo::Portable {

struct Faults
{
    int nakEvery = 0;                   // NAK every k-th good host frame (0: never)
    int nakPercent = 0;                 // NAK good host frames at random with this chance
    unsigned seed = 1;                  // for nakPercent
    int corruptEvery = 0;               // wrong checksum on every k-th frame sent
    int silentAfter = -1;               // ignore everything after k frames of a call
    std::int64_t hangupAfterBytes = -1; // drop the call once a file moved this much
    bool eot = false;                   // refuse every upload request
};

struct SessionSettings
{
    std::filesystem::path downloadDir; // where files from the host are stored
    std::filesystem::path uploadDir;   // where requested files are looked up
    Faults faults;
};

enum class EndRequest { None, AllDone, Error, FaultHangup };

struct CallStats
{
    int files = 0;            // files completed in either direction
    std::int64_t payload = 0; // file bytes moved (stored, or acknowledged by the host)
    int framesIn = 0;         // host frames seen, good or bad
    int badFrames = 0;        // answered NAK for their checksum
};

class PortableSession
{
public:
    explicit PortableSession(SessionSettings settings);

    void beginCall();
    // Closes whatever file is open; a half-received download stays as it is.
    void endCall();

    void receive(unsigned char byte);
    // The modem watches for "+++" only between frames.
    bool insideFrame() const { return m_assembler.collecting(); }

    std::string takeOutput();
    EndRequest endRequest() const { return m_end; }
    const CallStats &stats() const { return m_stats; }

    void setLog(std::function<void(const std::string &)> log) { m_log = std::move(log); }

    // Maps a file name from the host to a single name inside a folder:
    // separators become "_"; empty, "." and ".." are refused (empty result).
    static std::string safeName(std::string_view name);
    // Splits "NAME[123]" into name and offset; no brackets means offset 0.
    // False when the brackets hold anything but decimal digits.
    static bool splitNameOffset(std::string_view body, std::string &name, std::int64_t &offset);

private:
    void onFrame(const std::string &raw);
    bool faultRefuses();
    void onMessage(const std::string &text);
    void onAnnounce(const std::string &body);
    void onData(const std::string &body);
    void onEnd();
    void onRequest(const std::string &body);
    void onNextPacketRequest();
    void onHostAnswer(bool ack);
    void sendCurrentFrame();
    void countPayload(std::size_t bytes);
    void answer(unsigned char byte) { m_out += char(byte); }
    void log(const std::string &text) const;
    std::filesystem::path findUploadFile(const std::string &name) const;

    SessionSettings m_settings;
    HostFrameAssembler m_assembler;
    std::string m_out;
    EndRequest m_end = EndRequest::None;
    CallStats m_stats;
    std::function<void(const std::string &)> m_log;

    // Fault counters run over the whole life of the simulator.
    std::mt19937 m_random;
    int m_goodFrames = 0;
    int m_framesSent = 0;

    // Download: the file being stored.
    std::ofstream m_download;
    std::int64_t m_filePayload = 0;

    // Upload: the file being served and the frame in flight.
    std::ifstream m_upload;
    bool m_uploading = false;
    std::int64_t m_uploadOffset = 0;
    enum class FrameState { None, Sent, Refused };
    FrameState m_frameState = FrameState::None;
    std::string m_frame;
    std::size_t m_frameBytes = 0;
    bool m_frameLast = false;
};

} // namespace Tarvo::Portable
