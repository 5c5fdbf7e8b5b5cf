// tarvo-textbench: what one very long entry text costs where the program
// shows or uses it, at several lengths, so that a cost growing faster than
// the text shows in the figures. Prints one line per place and length with
// the milliseconds taken.
#include "Configuration.h"
#include "EntryEditor.h"
#include "FileChooser.h"
#include "LogFile.h"
#include "MessageBoxPrompter.h"
#include "Reporter.h"
#include "SettingsStore.h"
#include "StatusPane.h"
#include "frmMain.h"
#include "frmUpldEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

using namespace Tarvo;

namespace {

struct NoEditor final : EntryEditor
{
    void editDownload(QWidget *, DownloadEditHandOver &) override {}
    void editUpload(QWidget *, UploadEditHandOver &) override {}
};

struct NoChooser final : FileChooser
{
    QString chooseOpenFile(QWidget *, const FileRequest &) override { return {}; }
    QString chooseSaveFile(QWidget *, const FileRequest &) override { return {}; }
};

qint64 timed(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    QCoreApplication::processEvents();
    return clock.elapsed();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    for (const int kb : {100, 300, 1000}) {
        const QString text = QString(kb * 1000, QLatin1Char('N'));
        const QString path = QStringLiteral("/in/") + text;

        std::printf("%5d KB  status pane line   %6lld ms\n", kb, timed([&] {
                        StatusPane pane;
                        pane.resize(374, 135);
                        pane.show();
                        pane.appendText(QStringLiteral("Upload ") + text +
                                            QStringLiteral(" ...\r\n"),
                                        ColourBlue);
                    }));
        std::printf("%5d KB  log line           %6lld ms\n", kb,
                    timed([&] { LogFile(dir.path()).WriteLog(text + QStringLiteral("\r\n")); }));

        Configuration model;
        SettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        model.JobType = DownloadAndUpload;
        model.DownloadList[0] = {text, path};
        model.UploadList[0] = {text, path};
        model.deriveCounts();
        if (QString error; !store.SaveSettings(model, error))
            std::printf("settings not saved: %s\n", qPrintable(error));
        std::printf("%5d KB  configuration window %4lld ms\n", kb, timed([&] {
                        MessageBoxPrompter prompter;
                        NoEditor editor;
                        frmMain window(model, store, prompter, editor);
                        window.show();
                        QCoreApplication::processEvents();
                        for (auto *list : window.findChildren<QListWidget *>())
                            list->setCurrentRow(0);
                    }));
        std::printf("%5d KB  entry dialog       %6lld ms\n", kb, timed([&] {
                        UploadEditHandOver handOver{{text, path}, false};
                        NoChooser chooser;
                        MessageBoxPrompter prompter;
                        frmUpldEdit dialog(handOver, chooser, prompter);
                        dialog.show();
                    }));
        std::fflush(stdout);
    }
    return 0;
}
