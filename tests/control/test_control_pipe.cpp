// The control channel's Windows pipe, run under Wine: the listener serves
// the protocol to the client, keeps its name against a second listener and
// refuses a name somebody made first, carries its security descriptor, and
// the client refuses a pipe whose server is not the process it expects
// before it sends a byte.
#include "Columns.h"
#include "ControlClient.h"
#include "ElevatedSave.h"
#include "FakeTarget.h"
#include "PipeListener.h"

#include <QDir>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <aclapi.h>
#include <qt_windows.h>
#include <sddl.h>
#include <shlobj.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

QString uniqueName()
{
    return QStringLiteral("tarvo-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
}

struct PipeBench
{
    QString name = uniqueName();
    FakeTarget target;
    LogFeed feed;
    ControlServer server{target, feed, QStringLiteral("tarvod pipe test")};
};

// The pipe's DACL as the system gives it back to a client.
QString daclOf(HANDLE pipe)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    wchar_t *text = nullptr;
    QString result;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = QString::fromWCharArray(text);
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

} // namespace

class TestControlPipe : public QObject
{
    Q_OBJECT
private slots:
    void servesClients_data();
    void servesClients();
    void nameTaken_data();
    void nameTaken();
    void serverCheck_data();
    void serverCheck();
    void security();
    void elevatedSave_data();
    void elevatedSave();
};

void TestControlPipe::servesClients_data()
{
    // together: all open before any is served; else one after another, each
    // left open, more than the instances that wait at a time.
    const auto row = columns<int, bool>("clients", "together");
    row("one", 1, true);
    row("three at once", 3, true);
    row("as many as wait at once", PipeListener::WaitingInstances, true);
    row("twenty in turn", 20, false);
}

// Every client gets a pipe instance of its own and the whole protocol; a
// save is taken directly when the system calls this process an
// administrator's (as Wine does).
void TestControlPipe::servesClients()
{
    auto [clients, together] = fetch<int, bool>("clients", "together");
    PipeBench m;
    QVERIFY2(m.server.listen(m.name), qPrintable(m.server.errorString()));
    std::vector<std::unique_ptr<ControlClient>> open;
    for (int i = 0; i < clients; ++i) {
        open.push_back(std::make_unique<ControlClient>(QStringLiteral("client %1").arg(i)));
        open.back()->open(m.name);
        if (!together)
            QVERIFY(open.back()->waitForReady(5000));
    }
    for (auto &client : open) {
        QVERIFY(client->waitForReady(5000));
        QCOMPARE(client->serverName(), QStringLiteral("tarvod pipe test"));
        const QJsonObject status = client->waitForAnswer(client->status(), 5000);
        QCOMPARE(ControlClient::statusOf(status).state, m.target.state.state);
    }
    QTRY_COMPARE(m.server.connectionCount(), clients);
    const ControlResult saved = ControlClient::resultOf(open.front()->waitForAnswer(
        open.front()->saveSettings({{QStringLiteral("Settings/Modem Port"), QStringLiteral("4")}}),
        5000));
    const bool administrator = IsUserAnAdmin();
    QCOMPARE(saved.ok, administrator);
    QCOMPARE(m.target.values.value(QStringLiteral("Settings/Modem Port")),
             administrator ? QStringLiteral("4") : QStringLiteral("1"));
    open.clear();
    QTRY_COMPARE(m.server.connectionCount(), 0);
}

void TestControlPipe::nameTaken_data()
{
    // first: who made the pipe before the listener comes.
    const auto row = columns<QString>("first");
    row("our own listener", "listener");
    row("a plain pipe of somebody else's", "plain");
    row("a plain pipe already served", "plain, connected");
}

// listen() must fail while the name is taken, with the reason, and work
// once it is free again.
void TestControlPipe::nameTaken()
{
    auto [first] = fetch<QString>("first");
    const QString name = uniqueName();
    PipeListener earlier;
    HANDLE plain = INVALID_HANDLE_VALUE;
    QLocalSocket squatted;
    if (first == QLatin1String("listener")) {
        QVERIFY(earlier.listen(name));
    } else {
        plain = CreateNamedPipeW(
            reinterpret_cast<LPCWSTR>(PipeListener::fullPipeName(name).utf16()), PIPE_ACCESS_DUPLEX,
            PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        QVERIFY(plain != INVALID_HANDLE_VALUE);
        if (first.endsWith(QLatin1String("connected"))) {
            squatted.connectToServer(name);
            QVERIFY(squatted.waitForConnected(2000));
        }
    }
    PipeListener later;
    QVERIFY(!later.listen(name));
    QVERIFY2(later.errorString().contains(QLatin1String("exists already")),
             qPrintable(later.errorString()));
    QVERIFY(later.errorString().contains(name));
    QVERIFY(!later.isListening());

    squatted.abort();
    earlier.close();
    if (plain != INVALID_HANDLE_VALUE)
        CloseHandle(plain);
    QVERIFY2(later.listen(name), qPrintable(later.errorString()));
}

void TestControlPipe::serverCheck_data()
{
    const auto row = columns<bool>("expectThisProcess");
    row("served by the process expected", true);
    row("served by another process", false);
}

// The client looks at the pipe's server before its hello: a wrong one
// fails the open and hears nothing at all.
void TestControlPipe::serverCheck()
{
    auto [expectThisProcess] = fetch<bool>("expectThisProcess");
    const QString name = uniqueName();
    PipeListener listener;
    QVERIFY(listener.listen(name));
    ControlClient client(QStringLiteral("checking client"));
    const unsigned long self = GetCurrentProcessId();
    client.expectServerProcess(expectThisProcess ? self : self + 4);
    QSignalSpy failed(&client, &ControlClient::failed);
    client.open(name);
    QLocalSocket *server = nullptr;
    QVERIFY(QTest::qWaitFor([&] { return (server = listener.nextPendingConnection()) != nullptr; },
                            5000));
    std::unique_ptr<QLocalSocket> owned(server);
    QByteArray heard;
    QVERIFY(QTest::qWaitFor(
        [&] {
            heard += server->readAll();
            return !heard.isEmpty() || !failed.isEmpty();
        },
        5000));
    if (expectThisProcess) {
        QVERIFY2(heard.contains(R"("op":"hello")"), heard.constData());
        QVERIFY(failed.isEmpty());
        return;
    }
    QCOMPARE(failed.size(), 1);
    const QString reason = failed[0][0].toString();
    QVERIFY2(reason.contains(QStringLiteral("is served by process %1, not by the service Tarvo "
                                            "(process %2); nothing was sent")
                                 .arg(self)
                                 .arg(self + 4)),
             qPrintable(reason));
    QTest::qWait(200);
    heard += server->readAll();
    QCOMPARE(heard, QByteArray());
}

// The descriptor the pipe carries: network logons denied, interactive
// users let in, nobody else named.
void TestControlPipe::security()
{
    const QString name = uniqueName();
    PipeListener listener;
    QVERIFY(listener.listen(name));
    QLocalSocket client;
    client.connectToServer(name);
    QVERIFY(client.waitForConnected(2000));
    const QString dacl = daclOf(reinterpret_cast<HANDLE>(client.socketDescriptor()));
    QVERIFY2(!dacl.isEmpty(), "the pipe's DACL cannot be read");
    QVERIFY2(dacl.startsWith(QLatin1String("D:P")), qPrintable(dacl)); // nothing inherited
    QVERIFY2(dacl.contains(QRegularExpression(QStringLiteral("\\(D;;[^;]+;;;NU\\)"))),
             qPrintable(dacl));
    for (const char *allowed : {"SY", "BA", "IU"})
        QVERIFY2(dacl.contains(QRegularExpression(
                     QStringLiteral("\\(A;;[^;]+;;;%1\\)").arg(QLatin1String(allowed)))),
                 qPrintable(dacl));
    for (const char *absent : {";;;WD)", ";;;AN)", ";;;AU)", ";;;BU)"})
        QVERIFY2(!dacl.contains(QLatin1String(absent)), qPrintable(dacl));
}

void TestControlPipe::elevatedSave_data()
{
    // refusal: the target's; administrators: which connections the rule
    // calls an administrator's; error: the save's, empty when saved.
    const auto row = columns<QString, bool, QString>("refusal", "helperIsAdministrator", "error");
    row("saved", "", true, "");
    row("refused by the server", "Modem Port must be 1 to 4", true, "Modem Port must be 1 to 4");
    row("the helper no administrator either", "", false,
        "Changing the settings needs an administrator.");
}

// The elevated save for real: tarvoctl.exe beside this program, run with
// "runas" (Wine runs it without asking), reads the private file and saves
// through the pipe; its outcome comes back through its exit status and
// report. The files are gone afterwards.
void TestControlPipe::elevatedSave()
{
    auto [refusal, helperIsAdministrator, error] =
        fetch<QString, bool, QString>("refusal", "helperIsAdministrator", "error");
    PipeBench m;
    m.target.saveRefusal = refusal;
    m.server.setAccessRule(
        [helperIsAdministrator = helperIsAdministrator](const PeerCredentials &) {
            return AccessDecision{
                true, {}, helperIsAdministrator ? PeerRole::Administrator : PeerRole::Operator};
        });
    QVERIFY(m.server.listen(m.name));
    const QStringList before = QDir::temp().entryList({QStringLiteral("tarvo-settings-*")});
    const std::unique_ptr<ElevatedSave> helper = systemElevatedSave();
    QVERIFY(helper);
    const QMap<QString, QString> values{
        {QStringLiteral("Settings/Modem Port"), QStringLiteral("3")},
        {QStringLiteral("Dnld1/Open From"), QStringLiteral("C:\\Program Files\\out \"x\".txt")}};
    const ControlResult result = helper->save(m.name, values);
    QVERIFY2(result.ok == error.isEmpty(), qPrintable(result.message));
    QCOMPARE(result.message, error);
    if (error.isEmpty())
        QCOMPARE(m.target.values, values);
    QCOMPARE(QDir::temp().entryList({QStringLiteral("tarvo-settings-*")}), before);
}

QTEST_GUILESS_MAIN(TestControlPipe)
#include "test_control_pipe.moc"
