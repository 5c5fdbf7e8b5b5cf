#include "PortableSession.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace Tarvo::Portable {

namespace fs = std::filesystem;

namespace {

std::string trimmedLine(const std::string &text)
{
    const auto first = text.find_first_not_of("\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of("\r\n");
    return text.substr(first, last - first + 1);
}

bool sameIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

} // namespace

PortableSession::PortableSession(SessionSettings settings)
    : m_settings(std::move(settings)), m_random(m_settings.faults.seed)
{
}

void PortableSession::beginCall()
{
    endCall();
    m_stats = {};
    m_end = EndRequest::None;
    m_out.clear();
}

void PortableSession::endCall()
{
    if (m_download.is_open())
        m_download.close();
    if (m_upload.is_open())
        m_upload.close();
    m_uploading = false;
    m_frameState = FrameState::None;
    m_assembler.reset();
}

std::string PortableSession::takeOutput()
{
    return std::exchange(m_out, {});
}

void PortableSession::receive(unsigned char byte)
{
    const Faults &faults = m_settings.faults;
    const bool silent = faults.silentAfter >= 0 && m_stats.framesIn >= faults.silentAfter;
    switch (m_assembler.feed(byte)) {
    case HostFrameAssembler::Result::Outside:
        if (!silent && (byte == Ack || byte == Nak))
            onHostAnswer(byte == Ack);
        break;
    case HostFrameAssembler::Result::Complete:
        ++m_stats.framesIn;
        if (!silent)
            onFrame(m_assembler.frame());
        break;
    case HostFrameAssembler::Result::Collecting:
        break;
    }
}

void PortableSession::onFrame(const std::string &raw)
{
    const auto frame = parseHostFrame(raw);
    if (!frame) {
        ++m_stats.badFrames;
        log("bad frame, NAK");
        answer(Nak);
        return;
    }
    if (faultRefuses()) {
        log(std::string("refusing a good '") + frame->type + "' frame (fault), NAK");
        answer(Nak);
        return;
    }
    switch (frame->type) {
    case '0':
        onMessage(frame->body);
        break;
    case 'L':
        onAnnounce(frame->body);
        break;
    case 'Y':
        if (frame->body.empty())
            onNextPacketRequest();
        else
            onData(frame->body);
        break;
    case 'Z':
        onEnd();
        break;
    case 'U':
        onRequest(frame->body);
        break;
    default:
        log(std::string("unknown frame type '") + frame->type + "', NAK");
        answer(Nak);
    }
}

bool PortableSession::faultRefuses()
{
    const Faults &faults = m_settings.faults;
    ++m_goodFrames;
    if (faults.nakEvery > 0 && m_goodFrames % faults.nakEvery == 0)
        return true;
    return faults.nakPercent > 0 && int(m_random() % 100) < faults.nakPercent;
}

void PortableSession::onMessage(const std::string &text)
{
    answer(Ack);
    const std::string line = trimmedLine(text);
    if (line == "ALL DONE")
        m_end = EndRequest::AllDone;
    else if (line == "ERROR")
        m_end = EndRequest::Error;
    if (line != ".")
        log("message: " + line);
}

void PortableSession::onAnnounce(const std::string &body)
{
    std::string name;
    std::int64_t offset = 0;
    if (!splitNameOffset(body, name, offset) || (name = safeName(name)).empty()) {
        log("announce with an unusable name, NAK");
        answer(Nak);
        return;
    }
    if (m_download.is_open())
        m_download.close();
    const fs::path path = m_settings.downloadDir / name;
    std::error_code error;
    if (!fs::exists(path, error))
        std::ofstream(path, std::ios::binary);
    // A restart resumes at the offset: what lies beyond it is thrown away.
    fs::resize_file(path, std::uintmax_t(offset), error);
    if (!error)
        m_download.open(path, std::ios::binary | std::ios::app);
    if (error || !m_download.is_open()) {
        log("cannot store " + path.string() + ", NAK");
        answer(Nak);
        return;
    }
    m_filePayload = offset;
    log("receiving " + name + " from " + std::to_string(offset));
    answer(Ack);
}

void PortableSession::onData(const std::string &body)
{
    if (!m_download.is_open()) {
        log("data without an announced file, NAK");
        answer(Nak);
        return;
    }
    const std::string data = unescapeData(body);
    if (!m_download.write(data.data(), std::streamsize(data.size()))) {
        log("cannot write, NAK");
        answer(Nak);
        return;
    }
    answer(Ack);
    countPayload(data.size());
}

void PortableSession::onEnd()
{
    if (m_download.is_open()) {
        m_download.close();
        ++m_stats.files;
        log("file received");
    }
    answer(Ack);
}

void PortableSession::onRequest(const std::string &body)
{
    std::string name;
    std::int64_t offset = 0;
    fs::path path;
    if (!m_settings.faults.eot && splitNameOffset(body, name, offset) &&
        !(name = safeName(name)).empty())
        path = findUploadFile(name);
    if (m_upload.is_open())
        m_upload.close();
    m_uploading = false;
    m_frameState = FrameState::None;
    if (!path.empty())
        m_upload.open(path, std::ios::binary);
    if (!m_upload.is_open()) {
        log("no file for request '" + body + "', EOT");
        answer(Eot);
        return;
    }
    m_uploading = true;
    m_uploadOffset = offset;
    m_filePayload = offset;
    log("sending " + path.filename().string() + " from " + std::to_string(offset));
    answer(Ack);
}

void PortableSession::onNextPacketRequest()
{
    if (!m_uploading) {
        log("next-packet request without a requested file, NAK");
        answer(Nak);
        return;
    }
    if (m_frameState == FrameState::None) {
        std::string block(PortableBlock, '\0');
        m_upload.clear();
        m_upload.seekg(std::streamoff(m_uploadOffset));
        m_upload.read(block.data(), std::streamsize(block.size()));
        block.resize(std::size_t(std::max<std::streamsize>(m_upload.gcount(), 0)));
        m_frameBytes = block.size();
        m_frameLast = block.empty();
        m_frame = buildPortableFrame(m_frameLast ? 'Z' : 'D', escapeData(block));
    }
    sendCurrentFrame();
}

void PortableSession::sendCurrentFrame()
{
    std::string frame = m_frame;
    const int every = m_settings.faults.corruptEvery;
    if (every > 0 && ++m_framesSent % every == 0) {
        char &low = frame[frame.size() - 2];
        low = char(64 + ((low - 64 + 1) & 15));
        log("sending a frame with a wrong checksum (fault)");
    }
    m_out += frame;
    m_frameState = FrameState::Sent;
}

void PortableSession::onHostAnswer(bool ack)
{
    if (m_frameState != FrameState::Sent)
        return; // a stray answer: nothing of ours is waiting for it
    if (!ack) {
        m_frameState = FrameState::Refused;
        return;
    }
    m_frameState = FrameState::None;
    m_uploadOffset += std::int64_t(m_frameBytes);
    if (m_frameLast) {
        m_upload.close();
        m_uploading = false;
        ++m_stats.files;
        log("file sent");
        return;
    }
    countPayload(m_frameBytes);
}

void PortableSession::countPayload(std::size_t bytes)
{
    m_stats.payload += std::int64_t(bytes);
    m_filePayload += std::int64_t(bytes);
    const std::int64_t limit = m_settings.faults.hangupAfterBytes;
    if (limit >= 0 && m_filePayload >= limit && m_end == EndRequest::None) {
        log("hanging up in the middle of the file (fault)");
        m_end = EndRequest::FaultHangup;
    }
}

void PortableSession::log(const std::string &text) const
{
    if (m_log)
        m_log(text);
}

fs::path PortableSession::findUploadFile(const std::string &name) const
{
    std::error_code error;
    const fs::path exact = m_settings.uploadDir / name;
    if (fs::is_regular_file(exact, error))
        return exact;
    // Portables keep their files on case-blind file systems.
    for (const auto &entry : fs::directory_iterator(m_settings.uploadDir, error)) {
        if (entry.is_regular_file(error) &&
            sameIgnoringCase(entry.path().filename().string(), name))
            return entry.path();
    }
    return {};
}

std::string PortableSession::safeName(std::string_view name)
{
    std::string safe(name);
    for (char &c : safe) {
        if (c == '/' || c == '\\' || c == '\0')
            c = '_';
    }
    if (safe.empty() || safe == "." || safe == "..")
        return {};
    return safe;
}

bool PortableSession::splitNameOffset(std::string_view body, std::string &name,
                                      std::int64_t &offset)
{
    const auto open = body.rfind('[');
    if (body.empty() || body.back() != ']' || open == std::string_view::npos) {
        name = std::string(body);
        offset = 0;
        return true;
    }
    const std::string_view digits = body.substr(open + 1, body.size() - open - 2);
    if (digits.empty() || digits.size() > 15 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    name = std::string(body.substr(0, open));
    offset = std::stoll(std::string(digits));
    return true;
}

} // namespace Tarvo::Portable
