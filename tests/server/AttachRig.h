// The tray attached to a server for tests: a control server in this
// process with a fake target behind it, the server window in front with a
// recording tray and scripted questions.
#pragma once

#include "AttachedTray.h"
#include "Columns.h"
#include "FakeLine.h"
#include "FakeTarget.h"
#include "FakeTray.h"
#include "LogFile.h"
#include "StatusPane.h"
#include "frmMain.h"

#include <QtTest>
#include <QtWidgets>

namespace Tarvo::Testing {

// The colour the pane shows text in, or an invalid colour when it is not there.
inline QColor colourOf(const StatusPane *pane, const QString &text)
{
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().text().contains(text))
                return it.fragment().charFormat().foreground().color();
    return {};
}

inline QStringList stopsOf(const FakeTarget &target)
{
    QStringList said;
    for (ControlTarget::CallOnStop call : target.stops)
        said += call == ControlTarget::CallOnStop::EndCall ? "end" : "keep";
    return said;
}

// The server's paths: absolute, as a server that runs without anybody logged
// in must be given them ("/srv/d" on Unix, "C:\srv\d" on Windows).
inline QString servedPath(const char *name)
{
    return QDir::toNativeSeparators(QDir::rootPath() + QStringLiteral("srv/") + name);
}

struct Rig : ControlBench
{
    Rig()
    {
        target.values.insert({{"Dnld1/Name", "D"},
                              {"Dnld1/Open From", servedPath("d")},
                              {"File1/Name", "U"},
                              {"File1/Save As", servedPath("u")},
                              {"Ports/COM3", "/dev/ttyUSB3"}});
        tray.server().setRetryInterval(50);
    }
    QPushButton *button(const char *name)
    {
        return tray.window().findChild<QPushButton *>(QLatin1String(name));
    }
    QString pane() { return tray.window().statusPane()->toPlainText(); }
    // The window's buttons show a status that came after everything fed so far.
    void settle()
    {
        QSignalSpy applied(&tray.server(), &AttachedServer::statusApplied);
        feed.SetTrayTip(target.state.state);
        QVERIFY(applied.wait(5000));
    }

    ServerState state;
    LogFile log{dir.path(), {}, dir.filePath("per-user")};
    FakeTray trayIcon;
    ScriptedPrompter prompter;
    // The configuration window's part: given the window, what the test does in it.
    std::function<void(frmMain *)> inWindow;
    AttachedTray tray{state,
                      log,
                      trayIcon,
                      prompter,
                      [this](QWidget *parent, Configuration &model, SettingsAccess &settings) {
                          QTimer::singleShot(0, [this] {
                              inWindow(qobject_cast<frmMain *>(QApplication::activeModalWidget()));
                          });
                          return showConfigurationWindow(parent, model, settings, prompter);
                      },
                      {}};
};

} // namespace Tarvo::Testing
