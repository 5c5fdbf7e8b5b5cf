// The packet link byte for byte, and both directions of file transfer against
// the scripted portable: restarts, failures, and the backup an upload keeps.
#include "Columns.h"
#include "Exchange.h"
#include "LineCharset.h"
#include "PathHelpers.h"
#include "Portable.h"
#include "StdinClosed.h"

#include <cerrno>
#include <csignal>
#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Testing;

Q_DECLARE_METATYPE(Tarvo::Exchange::Outcome)

namespace {

const QByteArray ACK(1, Byte::ACK), NAK(1, Byte::NAK), EOT(1, Byte::EOT), ETX(1, Byte::ETX);
const QByteArray None; // silence for one whole transmission
const QByteArray BadFrame = frame('D', "x").replace('x', 'y'), OldContent = "the previous copy\r\n";
// The old copy's time: a whole millisecond, as a file system may keep it.
const QDateTime OldTime = QDateTime::fromMSecsSinceEpoch(Q_INT64_C(1767323045678));

// What a restore must give back besides the content: mode, owner and group ("0640 1234:2345"), or
// on Windows the attributes Explorer shows; "<missing>" for no file.
QString keptOf(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return "<missing>";
    return QString("%1 %2:%3")
        .arg(st.st_mode & 07777, 4, 8, QChar('0'))
        .arg(st.st_uid)
        .arg(st.st_gid);
#else
    const DWORD attributes = GetFileAttributesW(path.toStdWString().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return "<missing>";
    return QString::number(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
                           16);
#endif
}

// Gives path what keptOf() reads, other than a new file's: a private mode, and where the test
// may set them another owner and group; on Windows hidden and not archived.
void setKept(const QString &path, uint mode = 0640, int owner = 1234)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(::chmod(name.constData(), mode) == 0);
    QVERIFY(::geteuid() != 0 || ::chown(name.constData(), uid_t(owner), 2345) == 0);
#else
    Q_UNUSED(mode);
    Q_UNUSED(owner);
    QVERIFY(SetFileAttributesW(path.toStdWString().c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
}

// Runs the transfer, which must fail with these words in red.
void expectFailure(Rig &rig, const QString &direction, const QString &red)
{
    QVERIFY(!(direction == "Upload" ? rig.upload() : rig.download()));
    QCOMPARE(rig.reporter.redText(), red + "\r\n" + direction + " failed\r\n");
    QCOMPARE(rig.reporter.tip(), direction + " failed");
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void parsePacket_data()
    {
        const auto row = columns<QByteArray, QByteArray>("text", "data"); // data null: rejected
        row("empty Z", QByteArray::fromHex("02 1B 5A 47 47 03"), QByteArray(""));
        row("z is data", frame('z', "AB"), QByteArray("AB"));
        // By hand: 193 travels as \ A, and 27 + 68 + 92 + 65 + 4 = 256 -> 0.
        row("\\A", QByteArray::fromHex("02 1B 44 5C 41 40 40 03"), QByteArray("\xc1"));
        row("\\\\", frame('D', "\\\\"), QByteArray("\\"));
        row("\\ 128, \\ 159, \\ 160", frame('D', "\\\x80\\\x9f\\\xa0"),
            QByteArray("\0\x1f\xa0", 3));
        row("trailing \\ dropped", frame('D', "AB\\"), QByteArray("AB"));
        row("raw 200", frame('D', "\xc8"), QByteArray("\xc8"));
        row("ETX at 256", frame('D', QByteArray(250, 'a')), QByteArray(250, 'a'));
        row("ETX at 257", frame('D', QByteArray(251, 'a')), {});
        row("ETX at 5", QByteArray::fromHex("02 1B 5A 47 03"), {});
        row("first ETX decides", ETX + frame('D', "x"), {});
        row("193 term", frame('D', "x", true).chopped(1) + ETX, {});
    }
    void parsePacket()
    {
        auto [text, data] = fetch<QByteArray, QByteArray>("text", "data");
        DataBuffer buffer{};
        int count = -1;
        bool last = true;
        QCOMPARE(ParsePacket(text, buffer, count, last), !data.isNull());
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), qMax(count, 0)), data);
        QCOMPARE(last, data.isNull() || text.at(2) == 'Z');
    }

    // Host frames, worked out by hand: ESC + U + "..[0]" = 436, + 193 + 7 characters = 636 -> 124.
    void hostFrames_data()
    {
        const auto row = columns<char, QByteArray, QByteArray>("type", "body", "wire");
        row("next-packet request", 'Y', "", QByteArray::fromHex("02 1B 59 43 47 C1"));
        row("request", 'U', "..[0]", QByteArray::fromHex("02 1B 55 2E 2E 5B 30 5D 47 4C C1"));
        row("announce", 'L', "A.TXT[120]",
            QByteArray::fromHex("02 1B 4C 41 2E 54 58 54 5B 31 32 30 5D 4E 4E C1"));
    }
    void hostFrames()
    {
        auto [type, body, wire] = fetch<char, QByteArray, QByteArray>("type", "body", "wire");
        QCOMPARE(Tarvo::buildFrame(type, body), wire);
    }

    void exchange_data()
    {
        // watch ETX: the next-packet request
        using O = Exchange::Outcome;
        const auto row =
            columns<QList<QByteArray>, QByteArray, O, int>("answers", "watch", "outcome", "writes");
        row("NAK ACK in a read", {NAK + ACK}, None, O::Ack, 1);
        row("ACK NAK in a read", {ACK + NAK}, None, O::Ack, 1);
        row("third NAK", {NAK, NAK, NAK}, None, O::ThirdNak, 3);
        row("2 NAKs, 2 time-outs, NAK", {NAK, NAK, None, None, NAK}, None, O::ThirdNak, 5);
        row("NAK before EOT", {EOT + NAK, EOT}, EOT, O::Watched, 2);
        row("ETX before NAK", {NAK + frame('D', "x")}, ETX, O::Watched, 1);
        row("ACK not for the next packet", {ACK, ACK, ACK}, ETX, O::ThirdTimeout, 3);
    }
    void exchange()
    {
        auto [answers, watch, outcome, writes] =
            fetch<QList<QByteArray>, QByteArray, Exchange::Outcome, int>("answers", "watch",
                                                                         "outcome", "writes");
        Rig rig;
        // The i-th write is answered with answers[i]; later writes get silence.
        rig.line.peer = [&rig, &answers = answers](const QByteArray &) {
            rig.line.deliver(answers.value(rig.line.writes.size() - 1));
        };
        const bool next = watch == ETX;
        Exchange exchange(rig.wait, buildFrame('0', "x"), watch, !next,
                          next ? Exchange::Priority::WatchedFirst : Exchange::Priority::NakFirst);
        QCOMPARE(exchange.run(), outcome);
        QCOMPARE(rig.line.writes, QList<QByteArray>(writes, buildFrame('0', "x")));
        if (outcome == Exchange::Outcome::ThirdTimeout) // ten seconds of silence each
            QCOMPARE(rig.clock.now(), 3 * 10000);
        if (outcome == Exchange::Outcome::Watched) // the last transmission's text only
            QCOMPARE(exchange.received(), answers.at(writes - 1));
    }

    void download_data()
    {
        // restartBlock: 0 none, else six NAKs for it
        const auto row = columns<int, int>("size", "restartBlock");
        row("empty", 0, 0);
        row("120 bytes", 120, 0);
        row("121 bytes", 121, 0);
        row("every byte value twice", 512, 0);
        row("restart in the first block: no offset", 300, 1);
        row("restart in the second block", 300, 2);
    }
    void download()
    {
        auto [size, restartBlock] = fetch<int, int>("size", "restartBlock");
        Rig rig(pattern(size));
        if (restartBlock)
            rig.portable.rules = {{'Y', restartBlock - 1, restartBlock + 4, NAK}};
        QVERIFY(rig.download());
        // The third NAK restarts the block; the three after it only repeat it.
        QStringList trace{"0 RECEIVING A.TXT\r\n", "L a.txt", "0 ."};
        for (int at = 0, block = 1; at < size; at += 120, ++block) {
            const QString y = QStringLiteral("Y %1").arg(qMin(120, size - at));
            if (block == restartBlock)
                trace << y << y << y << "Z" << (block == 1 ? "L a.txt" : "L a.txt[120]") << "0 ."
                      << y << y << y;
            trace << y << "0 .";
        }
        QCOMPARE(rig.portable.trace, trace << "Z");
        QCOMPARE(rig.reporter.logOnly,
                 restartBlock ? QStringList{"NAK, restart downloading\r\n"} : QStringList{});
        QCOMPARE(rig.reporter.paneText(),
                 "Download a.txt ...\r\n" + QString(trace.count("0 ."), '.') + "\r\nDone\r\n");
        QCOMPARE(rig.reporter.tips, (QStringList{"Download a.txt ...", "Download success"}));
    }

    // A name goes out byte for byte in the host's single-byte set, in the message (upper case) and
    // the frame; one the set cannot carry, or with a byte that would end or break the frame (set
    // by hand), fails its file, naming them, sending nothing.
    void namesKeepTheirCharacters_data()
    {
        // shown: in the message; upper-case y diaeresis is 0x9F in code page 1252, none in Latin-1.
        // refused: why, naming the characters each once, one beyond the first 65536 whole.
        const auto row = columns<QString, QString, QString>("name", "shown", "refused");
#ifdef Q_OS_WIN
        const char *shown = "\xdf\x9f\xc9.TXT";
#else
        const char *shown = "\xdf\xff\xc9.TXT";
#endif
        const QString set = LineCharset::name() + " has no ";
        row("sharp s and y diaeresis", QString::fromLatin1("\xdf\xff\xe9.txt"),
            QString::fromLatin1(shown), {});
        row("a with acute, whose capital would end the frame", QString::fromLatin1("\xe1.txt"),
            QString::fromLatin1("\xe1.TXT"), {});
        row("Greek omega and A with acute: refused", "\xce\xa9mega\xc3\x81", {},
            set + "\xce\xa9, and the line's frames cannot carry \xc3\x81 (byte 193)");
        row("a tab and a line end: refused", "a\tb\r\n.txt", {},
            "the line's frames cannot carry the control character 9, the control character 13, "
            "the control character 10");
        row("omega twice and two faces: refused",
            "\xce\xa9\xf0\x9f\x98\x80.\xce\xa9\xf0\x9f\x98\x81", {},
            set + "\xce\xa9\xf0\x9f\x98\x80\xf0\x9f\x98\x81");
        // The longest name the portable's frame holds travels; one more character, or an end the
        // announce would read as an offset, is refused.
        const QString longest = QString(LineCharset::MaxNameLength - 4, 'n') + ".txt";
        row("the longest name", longest, longest.toUpper(), {});
        row("one character more: refused", longest + "x", {},
            "it is 239 characters long, and the portable's frames hold names of at most 238");
        row("digits in brackets at the end: refused", "ORDERS[12]", {},
            "its end [12] would be read as an offset to restart at");
        row("brackets inside the name", "A[1].TXT", "A[1].TXT", {});
        row("both, with a control character", "a\tb" + longest + "[0]", {},
            "the line's frames cannot carry the control character 9, and it is 244 characters "
            "long, and the portable's frames hold names of at most 238, and its end [0] would be "
            "read as an offset to restart at");
    }
    void namesKeepTheirCharacters()
    {
        auto [name, shown, refused] = fetch<QString, QString, QString>("name", "shown", "refused");
        Rig rig(pattern(0));
        rig.config.DownloadList[2].Name = name;
        rig.config.UploadList[1].Name = name;
        if (!refused.isEmpty()) {
            expectFailure(rig, "Download",
                          "The name " + name + " cannot be sent to the portable: " + refused +
                              ". Please change it in the settings.");
            QVERIFY(rig.reporter.paneText().startsWith("Download " + name + " ...\r\nThe name"));
            QVERIFY(!rig.upload());
            QVERIFY(rig.reporter.redText().endsWith("Upload failed\r\n"));
            QVERIFY(rig.line.writes.isEmpty());
            return;
        }
        // The longest: its request at the largest offset still fills no more than the frame.
        if (name.size() == LineCharset::MaxNameLength)
            QCOMPARE(buildFrame('U', LineCharset::encode(name) + "[4294967295]").size(), 256);
        QVERIFY(rig.download());
        QVERIFY(rig.upload());
        QCOMPARE(rig.portable.trace.mid(0, 6),
                 (QStringList{"0 RECEIVING " + shown + "\r\n", "L " + name, "0 .", "Z",
                              "0 SENDING " + shown + "\r\n", "U " + name + "[0]"}));
    }

    void downloadFailures_data()
    {
        // last: sent 3 times, then nothing; "restart": the second block NAKed thrice first
        const auto row = columns<Rule, QString, QString>("rule", "red", "last");
        row("announce NAKed", {'L', 0, 2, NAK}, "NAK error (1)", "L a.txt");
        row("block unanswered", {'Y', 1, 3}, "Time out error (2)", "Y 120");
        row("end NAKed", {'Z', 0, 2, NAK}, "NAK error (3)", "Z");
        row("end unanswered", {'Z', 0, 2}, "Time out error (3)", "Z");
        row("restart: announce NAKed", {'L', 1, 3, NAK}, "NAK error (2)", "L a.txt[120]");
        row("restart: end NAKed", {'Z', 0, 2, NAK}, "NAK error (3)", "Z");
        row("stopped at the end", {'Z', 0, 0, NAK}, "Transfer stopped", "Z");
        row("stopped in a block", {'Y', 0, 0, NAK}, "Transfer stopped", "Y 120");
    }
    void downloadFailures()
    {
        auto [rule, red, last] = fetch<Rule, QString, QString>("rule", "red", "last");
        Rig rig;
        rig.portable.rules = {rule};
        if (QByteArray(QTest::currentDataTag()).startsWith("restart"))
            rig.portable.rules += {'Y', 1, 3, NAK};
        const bool stop = red.startsWith("Transfer");
        rig.portable.onFrame = [&, &last = last](char type) {
            if (stop && type == last.front()) // the frame a Stop comes with
                rig.wait.requestAbort();
        };
        expectFailure(rig, "Download", red);
        const int times = stop ? 1 : 3;
        QCOMPARE(rig.portable.trace.mid(rig.portable.trace.size() - times),
                 QStringList(times, last));
    }

    void backupPath()
    {
        const auto native = [](const char *path) { return QDir::toNativeSeparators(path); };
        QCOMPARE(Tarvo::backupPath("/in.d/A.B.C"), native("/in.d/A.BAK"));
        // Not ORDERS.BAK itself, which would be deleted to make room for its copy.
        QCOMPARE(Tarvo::backupPath("/in/ORDERS.BAK"), native("/in/ORDERS.BAK.BAK"));
        QCOMPARE(Tarvo::backupPath("/ORDERS.TXT"), native("/ORDERS.BAK")); // in the root folder
        // An entry left empty in a hand-edited file, or one behind the list's end, has no backup
        // to clash with: not even the ".BAK" of a bare ".txt".
        Configuration config;
        config.UploadCount = 2;
        config.UploadList[1].SaveAs = ".txt";
        config.UploadList[2].SaveAs = ".dat";
        QCOMPARE(backupCollisions(config), QStringList());
    }

    void upload_data()
    {
        const auto row = columns<int>("size"); // an empty file goes to a new path
        row("only a Z frame, new path", 0);
        row("every byte value, over a copy, a one-byte packet", 361);
    }
    void upload()
    {
        auto [size] = fetch<int>("size");
        Rig rig(pattern(size));
        rig.portable.zData = "NOT PART OF THE FILE";
        if (size > 0)
            Rig::write(rig.path("ORDERS.TXT"), OldContent);
        QVERIFY(rig.upload());
        const int packets = (size + 119) / 120;
        QStringList trace{"0 SENDING A.TXT\r\n", "U a.txt[0]", "0 ."};
        for (int i = 0; i <= packets; ++i)
            trace += {"Y", "ACK", "0 ."};
        QCOMPARE(rig.portable.trace, trace);
        QCOMPARE(readFile(rig.path("ORDERS.TXT")), pattern(size));
        QCOMPARE(rig.files(), (QStringList{"ORDERS.TXT", "source.bin"}));
        QVERIFY(!QFile::exists(rig.journal.path()));
        QCOMPARE(rig.reporter.paneText(),
                 "Upload a.txt ...\r\n" + QString(packets + 2, '.') + "\r\nDone\r\n");
        QCOMPARE(rig.reporter.tips, (QStringList{"Upload a.txt ...", "Upload success"}));
    }

    void uploadRecovers()
    {
        // A bad frame between NAKs is NAKed and starts both counts afresh. After
        // 360 bytes five NAKs: one restart at the file's length, then repeats.
        Rig rig(pattern(600));
        rig.portable.rules = {
            {'Y', 0, 1, NAK}, {'Y', 2, 2, BadFrame}, {'Y', 3, 4, NAK}, {'Y', 8, 12, NAK}};
        QVERIFY(rig.upload());
        QCOMPARE(readFile(rig.path("ORDERS.TXT")), pattern(600));
        QCOMPARE(rig.reporter.logOnly, QStringList{"NAK, restart uploading\r\n"});
        const QStringList begin{"Y", "Y", "Y", "NAK", "Y", "Y", "Y", "ACK"};
        QCOMPARE(rig.portable.trace.mid(3, begin.size()), begin);
        const QStringList restart{"Y", "Y", "Y", "U a.txt[360]", "0 .", "Y", "Y", "Y", "ACK"};
        QCOMPARE(rig.portable.trace.mid(3 + 9 + 6, restart.size()), restart);
    }

    void uploadFailureRestoresHost_data()
    {
        // no rules: Stop or the port fails
        const auto add =
            columns<bool, QList<Rule>, QString, int>("existing", "rules", "red", "requests");
        for (bool existing : {true, false}) {
            const auto row = [&](QString name, const QList<Rule> &r, const char *red, int n) {
                add(name + (existing ? ", over a copy" : ", new path"), existing, r, red, n);
            };
            // Request failures end before the host file is touched.
            row("EOT: at once", {{'U', 0, 9, EOT}}, "File doesnot exist on portable.", 1);
            row("request NAKed", {{'U', 0, 9, NAK}}, "NAK error (1)", 3);
            row("time-out", {{'Y', 2, 99}}, "Time out error (2)", 1);
            row("restart refused", {{'Y', 2, 4, NAK}, {'U', 1, 3, NAK}}, "NAK error (2)", 1);
            row("stopped", {}, "Transfer stopped", 1);
            row("line lost", {}, "Serial port failed: Input/output error", 1);
        }
    }
    void uploadFailureRestoresHost()
    {
        auto [existing, rules, red, requests] =
            fetch<bool, QList<Rule>, QString, int>("existing", "rules", "red", "requests");
        Rig rig(pattern(600));
        const QString old = rig.path("ORDERS.TXT");
        if (existing) {
            Rig::write(old, OldContent, OldTime);
            setKept(old);
        }
        const QString original = keptOf(old);
        QString kept = original, backedUp; // the backup keeps them while the upload runs
        rig.portable.rules = rules;
        rig.portable.onFrame = [&, &existing = existing, &rules = rules, &red = red](char) {
            if (rig.portable.count("Y") == 1)
                backedUp = keptOf(rig.path("ORDERS.BAK"));
            if (existing && rig.portable.count("Y") == 2) { // changed meanwhile: these come back
                setKept(old, 0604, 1235);
                kept = keptOf(old);
            }
            if (rules.isEmpty() && rig.portable.count("Y") == 3)
                red.startsWith("Serial") ? rig.line.vanish() : rig.wait.requestAbort();
        };
        expectFailure(rig, "Upload", red);
        QCOMPARE(rig.portable.count("U a.txt[0]"), requests);
        QCOMPARE(readFile(rig.path("ORDERS.TXT")), existing ? OldContent : "<missing>");
        QCOMPARE(QFileInfo(old).lastModified(), existing ? OldTime : QDateTime());
        QCOMPARE(keptOf(old), kept);
        QCOMPARE(backedUp, rig.portable.count("Y") ? original : QString());
        QCOMPARE(rig.files().size(), existing ? 2 : 1); // and source.bin; no backup
        QVERIFY(!QFile::exists(rig.journal.path()));
    }

    // What is not a file is never opened (it could block the server); a file changed while sent is
    // no success; errors are the system's words; an unwritable journal refuses the upload, keeping
    // its entries; a new file stays when its backup cannot go, if still the one at Save As.
    void hostFileFaults_data()
    {
        // @: scratch folder; after: the target (empty: unread); pending: entries left in journal
        const auto add = columns<QString, bool, QString, QByteArray, int>("fault", "result", "red",
                                                                          "after", "pending");
        const QString up = "\r\nUpload failed\r\n", down = "\r\nDownload failed\r\n";
        const QString changed = "@/source.bin changed while it was being sent." + down;
        const QString read = "Cannot read @/source.bin: ", write = "Cannot write @/ORDERS.TXT: ";
        const QString backUp = "Cannot back up @/ORDERS.TXT: ", io = "Input/output error";
        const QString journal = "@/journal/uploads.journal: ",
                      record = "Cannot record the upload in " + journal;
        const QString refused =
            "\r\nUpload to @/ORDERS.TXT refused: an earlier upload to it was interrupted and is "
            "not undone yet, and this one would destroy what it kept. Put right what is said "
            "above; Tarvo tries again at the next upload and at the next start.";
        const QString meddled = "@/ORDERS.TXT was changed by another program during the upload.";
        const QString cut = "@/ORDERS.TXT was cut short or added to by another program during "
                            "the upload: nothing more is written into it." +
                            up,
                      replaced =
                          "@/ORDERS.TXT was replaced by another file during the upload." + up;
        const QString kept = "@/ORDERS.TXT was changed by another program during the upload: it "
                             "is kept";
        const auto row = [add](const char *fault, bool result, const QString &red,
                               const QByteArray &after = OldContent,
                               int pending = 0) { add(fault, fault, result, red, after, pending); };
        row("download from a named pipe", false, read + "not a regular file (a named pipe)" + down,
            {});
        row("download source replaced by a folder as it is opened", false,
            read + "not a regular file (a folder)" + down, {});
        row("download of a read-only file", true, "", {});
        row("download read interrupted by a signal", true, "", {});
        row("download source unreadable", false, read + io + down, {});
        row("download source rewritten in place", false, changed, {});
        row("download source cut short", false, changed, {});
        row("download source replaced", false, changed, {});
        row("upload to a named pipe", false, write + "not a regular file (a named pipe)" + up, {});
        row("file size limit reached", false, write + "File too large" + up);
        row("file size limit reached by the backup", false, backUp + "File too large" + up,
            pattern(3000));
        row("read error while backing up", false, backUp + io + up);
        row("target unreadable for its backup", false, backUp + "Permission denied" + up);
        row("backup cannot be committed", false, backUp + "Is a directory" + up);
        row("backup cannot take the target's time", false, backUp + "Operation not permitted" + up);
        row("target cannot be opened", false, write + "Permission denied" + up);
        row("write interrupted by a signal", true, "", pattern(2000));
        row("target cannot be synced at the end", false, write + io + up);
        row("target cannot be closed at the end", false, write + io + up);
        row("the mark cannot be written", false,
            "Cannot record the upload in <mark>: No space left on device" + up);
        // The second write arms the entry, with the target open but not yet cut; the third open
        // is the first write's read-back. A whole read of the journal is two reads (its bytes,
        // then the end), so the third read is the one that records the upload.
        row("journal's disk full", false, record + "No space left on device" + up, OldContent, 1);
        row("journal cannot be read", false,
            "Cannot recover interrupted uploads: the upload journal " + journal + io + refused + up,
            OldContent, 1);
        row("journal cannot be read back", false, record + "Permission denied" + up, OldContent, 2);
        row("journal cannot be read to record", false, record + io + up, OldContent, 1);
        row("the journal's read-back fails", false, record + io + up, OldContent, 1);
        row("the journal cannot be synced", false, record + io + up);
        row("the journal cannot be closed", false, record + io + up);
        row("the journal cannot be opened", false, record + "Permission denied" + up);
        row("the journal cannot be read when armed", false, record + "Permission denied" + up);
        row("new file, the journal cannot be read when armed", false,
            record + "Permission denied" + up, "<missing>");
        row("the journal cannot be updated before the upload", false,
            "Cannot update the upload journal " + journal + "Permission denied" + refused + up,
            OldContent, 1);
        row("backup cannot be deleted", true,
            "\r\nCannot delete the backup @/ORDERS.BAK (Is a directory): it still holds the "
            "previous copy of @/ORDERS.TXT.",
            pattern(2000));
        // Another program's write is found before the next one of the upload's, and whatever it
        // left stays, the old copy beside it; a file holding just what the upload wrote is its own.
        const QString keptBeside = kept + "; the previous copy is in @/ORDERS.BAK.1." + up;
        row("target replaced during the upload", false, replaced + keptBeside, "the user's");
        row("target written to during the upload", false, cut + keptBeside, "!");
        row("target cut and written in place during the upload", false, cut + keptBeside,
            QByteArray(28, 'x'));
        row("target rewritten in place at the same length", false, meddled + up + keptBeside,
            QByteArray(120, 'y') + pattern(2000).mid(120));
        row("target replaced by a copy of what was written", false, replaced);
        // Changed in place between its write and its read-back, its time put back: only the
        // read-back of that very block can tell.
        row("a block reads back otherwise", false, meddled + up + keptBeside,
            pattern(2000).left(120) + QByteArray(120, 'z'));
        row("new file cut and written in place during the upload", false, cut + kept + "." + up,
            QByteArray(28, 'x'));
        row("new file that cannot be removed", false,
            "Time out error (2)" + up +
                "Cannot remove the incomplete @/ORDERS.TXT: Permission denied" + up,
            pattern(240), 1);
    }
    void hostFileFaults()
    {
        auto [fault, result, red, after, pending] = fetch<QString, bool, QString, QByteArray, int>(
            "fault", "result", "red", "after", "pending");
#ifndef Q_OS_UNIX
        // A file Tarvo has open cannot be replaced or removed there, nor can a folder be.
        if (fault.contains("pipe") || fault.contains("limit") || fault.contains("replaced") ||
            fault.startsWith("backup") || fault.contains("signal"))
            QSKIP("Named pipes, file size limits, signals and these faults are POSIX ones.");
#endif
        Rig rig(pattern(2000));
        const QString source = rig.path("source.bin"), target = rig.path("ORDERS.TXT"),
                      backup = rig.path("ORDERS.BAK");
        const bool upload = !fault.startsWith("download");
        if (fault.contains("pipe")) {
#ifdef Q_OS_UNIX
            const QString pipe = upload ? target : source;
            QFile::remove(pipe);
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
#endif
        } else if (upload && !fault.startsWith("new file")) {
            Rig::write(target, fault.endsWith("by the backup") ? pattern(3000) : OldContent,
                       OldTime);
        } else if (QFile file(source);
                   file.open(QIODevice::ReadWrite)) { // older than the clock's step
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                     QFileDevice::FileModificationTime));
        }
        QString error; // an older upload's entry, which a journal that fails must keep
        QVERIFY(!fault.startsWith("journal") || rig.journal.note({rig.path("O")}, error));
        QVERIFY(!fault.startsWith("journal") || !rig.journal.note({rig.path("O")}, error));
        // one for this target, which never touched it: to be dropped before the upload
        QVERIFY(!fault.contains("updated") || rig.journal.note({target, backup}, error));
#ifdef Q_OS_UNIX
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        if (fault.startsWith("file size limit")) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{.rlim_cur = 1000, .rlim_max = before.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        }
#endif
        // The n-th such operation fails; error 0: a folder takes the path instead,
        // which not even root can remove or rename a file over.
        const QString journal = rig.journal.path(), copying = backup + ".tarvo-copy";
        const QString mark = QDir::fromNativeSeparators(rig.journal.markPath(target));
        const QMap<QString, std::tuple<FileOp, QString, int, int>> hooked{
            {"download source replaced by a folder as it is opened",
             {FileOp::OpenRead, source, 0, 1}},
            {"download of a read-only file", {FileOp::OpenWrite, source, EACCES, 1}},
            {"download read interrupted by a signal", {FileOp::Read, source, EINTR, 1}},
            {"download source unreadable", {FileOp::Read, source, EIO, 1}},
            {"the journal's read-back fails", {FileOp::Read, journal, EIO, 1}},
            {"the journal cannot be synced", {FileOp::Sync, journal + ".new", EIO, 1}},
            {"the journal cannot be closed", {FileOp::Close, journal + ".new", EIO, 1}},
            {"the journal cannot be opened", {FileOp::OpenWrite, journal + ".new", EACCES, 1}},
            {"the journal cannot be read when armed", {FileOp::OpenRead, journal, EACCES, 2}},
            {"new file, the journal cannot be read when armed",
             {FileOp::OpenRead, journal, EACCES, 2}},
            {"the journal cannot be updated before the upload",
             {FileOp::Remove, journal, EACCES, 1}},
            {"write interrupted by a signal", {FileOp::Write, target, EINTR, 1}},
            {"target cannot be synced at the end", {FileOp::Sync, target, EIO, 1}},
            {"target cannot be closed at the end", {FileOp::Close, target, EIO, 1}},
            {"read error while backing up", {FileOp::Read, target, EIO, 1}},
            {"target unreadable for its backup", {FileOp::OpenRead, target, EACCES, 1}},
            {"backup cannot be committed", {FileOp::Rename, backup, 0, 1}},
            {"backup cannot take the target's time", {FileOp::Attributes, copying, EPERM, 1}},
            {"backup cannot be deleted", {FileOp::Remove, backup, 0, 1}},
            {"target cannot be opened", {FileOp::OpenWrite, target, EACCES, 1}},
            {"the mark cannot be written", {FileOp::Write, mark, ENOSPC, 2}},
            {"journal's disk full", {FileOp::Write, journal + ".new", ENOSPC, 2}},
            {"journal cannot be read", {FileOp::Read, journal, EIO, 1}},
            {"journal cannot be read back", {FileOp::OpenRead, journal, EACCES, 3}},
            {"journal cannot be read to record", {FileOp::Read, journal, EIO, 3}},
            {"new file that cannot be removed", {FileOp::Remove, target, EACCES, 1}}};
        if (hooked.contains(fault))
            setFaultHook([how = hooked[fault], hits = 0](FileOp op, const QString &path) mutable {
                const auto [what, where, code, nth] = how;
                if (op != what || QDir::fromNativeSeparators(path) != where || ++hits != nth)
                    return 0;
                if (!code) {
                    QFile::remove(path);
                    QDir().mkpath(path + "/inside");
                }
                return code;
            });
        if (fault == "a block reads back otherwise") // the backup's two reads, then two blocks'
            setFaultHook([&target, reads = 0](FileOp op, const QString &path) mutable {
                if (op != FileOp::Read || QDir::fromNativeSeparators(path) != target ||
                    ++reads != 4)
                    return 0;
                const QDateTime time = QFileInfo(target).lastModified();
                QFile file(target);
                if (file.open(QIODevice::ReadWrite) && file.seek(120))
                    file.write(QByteArray(120, 'z'));
                file.close();
                if (file.open(QIODevice::ReadWrite))
                    file.setFileTime(time, QFileDevice::FileModificationTime);
                return 0;
            });
        if (fault.startsWith("new file"))
            rig.portable.rules = {{'Y', 2, 99}};
        const auto replace = [](const QString &path, const QByteArray &content) {
            Rig::write(path + ".new", content);
            QVERIFY(QFile::remove(path) && QFile::rename(path + ".new", path));
        };
        rig.portable.onFrame = [&, &fault = fault, blocks = 0](char type) mutable {
            if (QFile file(target); type == 'Y' && fault.startsWith("target written"))
                QVERIFY(file.open(QIODevice::Append) && file.write("!") == 1);
            if (type != 'Y' || ++blocks != 2)
                return;
            if (fault == "download source rewritten in place")
                Rig::write(source, pattern(2000));
            else if (fault == "download source cut short")
                QFile::resize(source, 240);
            else if (fault == "download source replaced")
                replace(source, pattern(2000));
            else if (fault == "target replaced during the upload")
                replace(target, "the user's");
            else if (fault.contains("cut and")) // the same file: the upload would write on at 120
                Rig::write(target, QByteArray(28, 'x'));
            else if (fault == "target replaced by a copy of what was written")
                replace(target, pattern(2000).left(120));
            else if (QFile file(target); fault.endsWith("at the same length")) {
                // in place, as another program would, its time a step on from the upload's
                const QDateTime time = QFileInfo(target).lastModified().addSecs(2);
                QVERIFY(file.open(QIODevice::ReadWrite) &&
                        file.write(QByteArray(120, 'y')) == 120 && file.flush());
                QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
            }
        };
        bool ok = false, leaked = false;
        {
            Testing::StdinClosed noInput;
            ok = upload ? rig.upload() : rig.download();
            leaked = noInput.zeroTaken();
        }
#ifdef Q_OS_UNIX
        setrlimit(RLIMIT_FSIZE, &before);
#endif
        setFaultHook({});
        QVERIFY2(!leaked, "a descriptor was left open");

        QCOMPARE(ok, result);
        QCOMPARE(QDir::fromNativeSeparators(rig.reporter.redText()),
                 red.replace('@', rig.dir.path()).replace("<mark>", mark));
        if (!after.isEmpty())
            QCOMPARE(readFile(target), after);
        QVERIFY(!QFile::exists(backup) || fault.startsWith("backup"));
        QVERIFY(!QFile::exists(journal + ".new"));
        if (red.startsWith("Cannot record")) // refused before the target was cut: its time stays
            QCOMPARE(QFileInfo(target).lastModified(),
                     after == "<missing>" ? QDateTime() : OldTime);
        QCOMPARE(readFile(backup + ".1"),
                 red.contains("ORDERS.BAK.1") ? OldContent : QByteArray("<missing>"));
        QList<UploadJournal::Entry> left;
        QVERIFY(rig.journal.read(left, error));
        QCOMPARE(left.size(), pending);
    }

    // Save As through a symbolic link stays a link to the old or the whole new file; a folder
    // gone during the upload leaves it to be undone once the folder is back.
    void uploadTargetMoves_data()
    {
        // fails: three time-outs at the third packet
        const auto row = columns<QString, bool>("how", "fails");
        for (const QString link : {"link", "dangling"})
            for (const bool fails : {true, false})
                row(link + (fails ? ", failed" : ", done"), link, fails);
        row("folder renamed", "renamed", false);
        row("folder removed", "removed", false);
    }
    void uploadTargetMoves()
    {
#ifndef Q_OS_UNIX
        QSKIP("Symbolic links need privileges on Windows; there an open file's folder cannot go.");
#else
        auto [how, fails] = fetch<QString, bool>("how", "fails");
        Rig rig(pattern(600));
        const QString real = rig.path("real/ORDERS.TXT"), in = rig.path("in");
        const QString link = rig.path("ORDERS.TXT"), saveAs = rig.path("in/ORDERS.TXT");
        QVERIFY(QDir().mkpath(rig.path("real")) && QDir().mkpath(in));
        const bool linked = how == "link" || how == "dangling";
        if (linked) {
            if (how == "link")
                Rig::write(real, OldContent);
            QVERIFY(QFile::link("real/ORDERS.TXT", link));
        } else {
            rig.config.UploadList[1].SaveAs = saveAs;
            Rig::write(saveAs, OldContent);
        }
        if (fails)
            rig.portable.rules = {{'Y', 2, 99}};
        rig.portable.onFrame = [&, &how = how](char type) {
            if (type == 'Y' && rig.portable.count("Y") == 2 && !linked)
                QVERIFY(how == "renamed" ? QDir().rename(in, in + ".old")
                                         : QDir(in).removeRecursively());
        };
        if (linked) {
            QCOMPARE(rig.upload(), !fails);
            QCOMPARE(QFileInfo(link).symLinkTarget(), real);
            const QByteArray old = how == "link" ? OldContent : QByteArray("<missing>");
            QCOMPARE(readFile(real), fails ? old : pattern(600));
            QCOMPARE(QDir(rig.path("real")).entryList(QDir::Files).size(),
                     fails && how != "link" ? 0 : 1); // no backup left
            QCOMPARE(QDir(rig.dir.path()).entryList({"*.BAK"}), QStringList());
            return;
        }
        QVERIFY(!rig.upload());
        QCOMPARE(rig.reporter.redText(),
                 QString("The folder @/in was removed or renamed during the upload: "
                         "@/in/ORDERS.TXT is not there.\r\nUpload failed\r\nCannot undo the "
                         "interrupted upload to @/in/ORDERS.TXT yet: the folder @/in is not there. "
                         "It is tried again at the next start.\r\nUpload failed\r\n")
                     .replace('@', rig.dir.path()));
        QVERIFY(rig.journal.recover().size() == 1 && QFile::exists(rig.journal.path()));
        // The folder back: the old copy back with it, or nothing left to undo.
        QVERIFY(how == "removed" ? QDir().mkpath(in) : QDir().rename(in + ".old", in));
        QCOMPARE(rig.journal.recover().size(), how == "removed" ? 0 : 1);
        QCOMPARE(readFile(saveAs), how == "removed" ? QByteArray("<missing>") : OldContent);
        QVERIFY(!QFile::exists(rig.journal.path()) && !QFile::exists(rig.path("in/ORDERS.BAK")));
#endif
    }

    // Start-up on the journal of an interrupted upload that put nothing back: only its own partial
    // file is undone, a file written since stays (the old copy moved aside), an entry that cannot
    // be undone stays with its backup safe from the next upload. Only the journal's owner recovers.
    void journalRecovery_data()
    {
        // since: what happened after the crash; after: the target once recovered; @: scratch folder
        const auto row = columns<bool, bool, QString, QByteArray, QString>(
            "existing", "armed", "since", "after", "note");
        const QString changed = "@/ORDERS.TXT was changed by another program during the upload: "
                                "it is kept",
                      kept = changed + "; the previous copy is in @/ORDERS.BAK.2.",
                      restored = "Restored @/ORDERS.TXT from its backup @/ORDERS.BAK: an upload "
                                 "to it was interrupted.";
        row("killed over an old copy", true, true, "", OldContent, restored);
        row("killed on a new file", false, true, "", "<missing>",
            "Removed @/ORDERS.TXT: an upload to it was interrupted and there was no earlier copy.");
        row("killed before the target was touched", true, false, "", "partial", {});
        row("newer file written in place", true, true, "rewritten", "newer", kept);
        row("newer file put in its place", true, true, "replaced", "newer", kept);
        row("a file made where there was none", false, true, "replaced", "newer", changed + ".");
        // By content, whichever file it is: a copy of just what the upload wrote is its own.
        row("its own bytes put in its place", true, true, "copied", OldContent, restored);
        row("cannot be restored, then uploads", true, true, "stuck", pattern(600), {});
        row("cannot be removed, then uploads", false, true, "stuck", pattern(600), {});
    }
    void journalRecovery()
    {
        auto [existing, armed, since, after, note] =
            fetch<bool, bool, QString, QByteArray, QString>("existing", "armed", "since", "after",
                                                            "note");
        Rig rig(pattern(600));
        const QString target = rig.path("ORDERS.TXT"), backup = rig.path("ORDERS.BAK");
        const QString users = rig.path("ORDERS.BAK.1"); // no journal names it
        Rig::write(users, "the user's own");
        const auto stuck = [&](FileOp op, const QString &path) { // paths come back native
            const bool undo = op == FileOp::Rename || op == FileOp::Remove;
            return undo && QDir::fromNativeSeparators(path) == target ? EACCES : 0;
        };
        QString error;
        if (armed) {
            if (existing)
                Rig::write(target, OldContent);
            rig.portable.rules = {{'Y', 2, 99}};
            setFaultHook(stuck);
            QVERIFY(!rig.upload());
            setFaultHook({});
            rig.portable.rules.clear();
        } else {
            QVERIFY(rig.journal.note({target, backup}, error));
            Rig::write(backup, OldContent);
            Rig::write(target, "partial");
        }
        if (since == "rewritten")
            Rig::write(target, "newer");
        if (since == "replaced" || since == "copied") {
            Rig::write(rig.path("newer"), since == "copied" ? pattern(240) : "newer");
            QVERIFY(QFile::remove(target) && QFile::rename(rig.path("newer"), target));
        }
        UploadJournal second(rig.dir.filePath("journal"));
        {
            Testing::StdinClosed noInput; // the refused lock's descriptor is closed too
            QCOMPARE(second.acquire(error), FileLock::Result::HeldElsewhere);
            QVERIFY(!noInput.zeroTaken());
        }
        QCOMPARE(second.recover().size(), 1); // says why, undoes nothing
        QCOMPARE(readFile(target), since.isEmpty() || since == "stuck" || since == "copied"
                                       ? (armed ? pattern(240) : QByteArray("partial"))
                                       : QByteArray("newer"));

        if (since == "stuck") {
            // Still refused; the next upload leaves the only old copy alone.
            setFaultHook(stuck);
            QCOMPARE(rig.journal.recover().size(), 1);
            QVERIFY(!rig.upload());
            QVERIFY(rig.reporter.redText().contains("Upload to " + target + " refused"));
            QCOMPARE(readFile(backup), existing ? OldContent : QByteArray("<missing>"));
            setFaultHook({});
            QVERIFY(rig.upload()); // put right: undone first, then uploaded
        } else {
            QCOMPARE(QDir::fromNativeSeparators(rig.journal.recover().join('\n')),
                     note.replace('@', rig.dir.path()));
        }
        QCOMPARE(readFile(target), after);
        QCOMPARE(QFile::exists(backup), existing && !armed);
        QCOMPARE(readFile(backup + ".2"),
                 note.contains("previous copy") ? OldContent : QByteArray("<missing>"));
        QCOMPARE(readFile(users), QByteArray("the user's own"));
        QVERIFY(!QFile::exists(rig.journal.path()));
    }

    // Killed mid-upload (SIGKILL: nothing runs on the way out) and undone at the next start, by a
    // user who owns the target or who may only write it through its group (the upload needs no
    // more); that user's upload also fails and succeeds. A kill in the backup's copy leaves no
    // stray copy. What the uploader cannot give back (another's ownership) is said.
    void uploadKilled_data()
    {
        // end: how the upload ends; said: its red text, then what the next start says
        const auto row = columns<bool, QString, QString>("shared", "end", "said");
        const QString restored = "Restored @/ORDERS.TXT from its backup @/ORDERS.BAK: an upload "
                                 "to it was interrupted.",
                      notKept = " Its owner 1234 could not be given back (Operation not "
                                "permitted).";
        row("own file, killed", false, "kill", restored);
        row("killed while its backup is copied", false, "copy", {});
        row("another user's file, killed", true, "kill", restored + notKept);
        row("another user's file, the upload fails", true, "fail",
            "Time out error (2)\r\nUpload failed\r\n" + restored + notKept +
                "\r\nUpload failed\r\n");
        row("another user's file, uploaded", true, "done", {});
    }
    void uploadKilled()
    {
#ifndef Q_OS_UNIX
        QSKIP("A kill that runs nothing, and another user, are POSIX facilities here.");
#else
        auto [shared, end, said] = fetch<bool, QString, QString>("shared", "end", "said");
        const bool root = ::geteuid() == 0;
        if (shared && !root)
            QSKIP("Another user's file needs the right to give files away: run as root.");
        Rig rig(pattern(600));
        const QString target = rig.path("ORDERS.TXT"), copying = rig.path("ORDERS.BAK.tarvo-copy");
        const QByteArray old = end == "copy" ? QByteArray(200000, 'o') : OldContent;
        Rig::write(target, old);
        // The uploader is 4321, in group 2345, which may write the folder and a shared file.
        const auto give = [](const QString &path, uint mode, uint owner) {
            const QByteArray name = QFile::encodeName(path);
            return ::chmod(name.constData(), mode) == 0 &&
                   ::chown(name.constData(), owner, 2345) == 0;
        };
        if (root)
            QVERIFY(give(rig.dir.path(), 0775, 0) && give(rig.path("journal"), 0755, 4321) &&
                    give(target, shared ? 0664 : 0640, shared ? 1234 : 4321));
        const QString kept = keptOf(target);
        // Runs step as the uploader in a process of its own: its exit status and what it said.
        const auto asUploader = [&](const std::function<QString()> &step) {
            const pid_t child = ::fork();
            if (child == 0) {
                if (root &&
                    (::setgroups(0, nullptr) != 0 || ::setgid(2345) != 0 || ::setuid(4321) != 0))
                    ::_exit(3);
                QFile out(rig.path("said"));
                out.open(QIODevice::WriteOnly);
                out.write(step().toUtf8());
                out.close();
                ::_exit(0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            const QString text = QString::fromUtf8(readFile(rig.path("said")));
            QFile::remove(rig.path("said"));
            return std::make_pair(status, text);
        };
        int writes = 0;
        setFaultHook([&, &end = end](FileOp op, const QString &path) {
            if (end == "copy" && op == FileOp::Write && path == copying && ++writes == 2)
                ::raise(SIGKILL); // in the middle: 64 KiB of it are written
            return 0;
        });
        rig.portable.onFrame = [&, &end = end](char type) {
            if (end == "kill" && type == 'Y' && rig.portable.count("Y") == 3)
                ::raise(SIGKILL); // two packets written, the third asked for
        };
        if (end == "fail")
            rig.portable.rules = {{'Y', 2, 99}};
        const auto [status, red] = asUploader([&] {
            rig.upload();
            return rig.reporter.redText();
        });
        setFaultHook({});
        const bool killed = end == "kill" || end == "copy";
        QCOMPARE(WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status),
                 killed ? SIGKILL : 0);
        QCOMPARE(readFile(target), end == "kill"   ? pattern(240)
                                   : end == "done" ? pattern(600)
                                                   : old);
        // What the kill left of Tarvo's own holds a piece of the file: for Tarvo's user only.
        const QString left = end == "copy" ? copying : rig.journal.markPath(target);
        QCOMPARE(keptOf(left).section(' ', 0, 0), killed ? QString("0600") : QString("<missing>"));
        const auto [started, notes] = asUploader([&] { return rig.journal.recover().join('\n'); });
        QCOMPARE(started, 0);
        QCOMPARE(QDir::fromNativeSeparators(red + notes), said.replace('@', rig.dir.path()));
        QCOMPARE(readFile(target), end == "done" ? pattern(600) : old);
        // An ordinary user keeps the mode and group, but cannot give the file back to its owner.
        QCOMPARE(keptOf(target),
                 said.contains("owner 1234") ? QString(kept).replace(" 1234:", " 4321:") : kept);
        QCOMPARE(rig.files(), (QStringList{"ORDERS.TXT", "source.bin"}));
        QCOMPARE(QDir(rig.path("journal")).entryList(QDir::Files), QStringList{"uploads.lock"});
#endif
    }

    // Save As spelled as its own backup in a folder that ignores case (a stand-in folds the scratch
    // folder's names): the backup takes another name, or where the folder was not seen to ignore
    // case (it folds one spelling only) the upload is refused before anything is touched. Never a
    // SUCCESS for a file that is gone.
    void caseBlindFolders_data()
    {
        // folded: the one spelling the folder folds, empty: every one
        const auto row = columns<QString, bool, QString>("folded", "fails", "red");
        row("backup named as the target", {}, false, {});
        row("backup named as the target, the upload fails", {}, true,
            "Time out error (2)\r\nUpload failed\r\n");
        row("only the backup's spelling folded", "Orders.BAK", false,
            "Upload to @/Orders.bak refused: its backup @/Orders.BAK is the same file, as its "
            "folder does not tell the case of names apart. Please change Save As in the "
            "settings.\r\nUpload failed\r\n");
    }
    void caseBlindFolders()
    {
        auto [folded, fails, red] = fetch<QString, bool, QString>("folded", "fails", "red");
#ifdef Q_OS_WIN
        if (!folded.isEmpty())
            QSKIP("Every folder ignores case on Windows, for every spelling.");
#endif
        Rig rig(pattern(600));
        const QString target = rig.path(folded.isEmpty() ? "orders.bak" : "Orders.bak");
        rig.config.UploadList[1].SaveAs = target;
        Rig::write(target, OldContent);
        const QString dir = QDir::cleanPath(rig.dir.path());
        setNameHook([&dir, &folded = folded](const QString &path) {
            const QFileInfo name(path);
            if (QDir::cleanPath(name.absolutePath()) != dir ||
                (!folded.isEmpty() && name.fileName() != folded))
                return path;
            for (const QString &entry : QDir(dir).entryList(QDir::Files))
                if (entry.compare(name.fileName(), Qt::CaseInsensitive) == 0)
                    return QDir(dir).filePath(entry);
            return path;
        });
        if (fails)
            rig.portable.rules = {{'Y', 2, 99}};
        const bool done = rig.upload();
        setNameHook({});
        QCOMPARE(done, red.isEmpty());
        QCOMPARE(QDir::fromNativeSeparators(rig.reporter.redText()),
                 red.replace('@', rig.dir.path()));
        QCOMPARE(readFile(target), done ? pattern(600) : OldContent);
        QCOMPARE(rig.files(), (QStringList{QFileInfo(target).fileName(), "source.bin"}));
    }

    // The journal's folder cannot be used (a file stands in its place): each upload is refused
    // before the host is touched, downloads go on. Once it can be used, the next upload takes the
    // journal and first undoes what it holds (here a backup's copy that a kill cut short).
    void uploadsWaitForTheJournal()
    {
        Rig rig(pattern(600));
        const QString target = rig.path("ORDERS.TXT"), folder = rig.path("data");
        Rig::write(target, OldContent, OldTime);
        Rig::write(folder, "not a folder");
        UploadJournal journal(folder);
        UploadJob job(rig.link, rig.reporter, &journal);
        QString why, error;
        QCOMPARE(FileLock(folder + "/uploads.lock").tryLock(why), FileLock::Result::Failed);
        const QString refused = "Upload to " + target + " refused: the upload journal's folder " +
                                QDir::toNativeSeparators(folder) + " cannot be used: " + why +
                                ". Tarvo tries again at the next upload.\r\nUpload failed\r\n";
        QVERIFY(!job.RunUploadJob(rig.config.UploadList[1]));
        QVERIFY(!job.RunUploadJob(rig.config.UploadList[1]));
        QCOMPARE(rig.reporter.redText(), refused + refused);
        QVERIFY(rig.download());
        QCOMPARE(readFile(target), OldContent);
        QCOMPARE(QFileInfo(target).lastModified(), OldTime);
        QCOMPARE(rig.files(), (QStringList{"data", "ORDERS.TXT", "source.bin"}));

        QVERIFY(QFile::remove(folder));
        {
            UploadJournal earlier(folder);
            QCOMPARE(earlier.acquire(error), FileLock::Result::Locked);
            QVERIFY(earlier.note({rig.path("OTHER.TXT"), rig.path("OTHER.BAK")}, error));
            Rig::write(rig.path("OTHER.BAK.tarvo-copy"), "cut short");
        }
        QVERIFY(job.RunUploadJob(rig.config.UploadList[1]));
        QCOMPARE(readFile(target), pattern(600));
        QCOMPARE(rig.files(), (QStringList{"ORDERS.TXT", "source.bin"}));
        QVERIFY(journal.owned() && !QFile::exists(journal.path()));
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
