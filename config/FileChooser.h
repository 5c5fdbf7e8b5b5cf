// The choice of a host file for an entry dialog's Browse button.
//
// The dialogs describe what they want (initial folder and name, filters,
// default suffix) in a FileRequest and get back the chosen full path, or an
// empty text when the user cancelled. QFileDialogChooser shows Qt's file
// dialog; tests hand in a chooser that answers from a script.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace Tarvo {

class Prompter;

struct FileRequest
{
    QString initialDir;    // empty: the file dialog's own default folder
    QString initialName;   // proposed file name, without folder
    QStringList filters;   // "Description (patterns)", the first one selected
    QString defaultSuffix; // appended to a typed name without extension
};

class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // An existing file to read.
    virtual QString chooseOpenFile(QWidget *parent, const FileRequest &request) = 0;
    // A file to write in an existing folder; overwriting is confirmed.
    virtual QString chooseSaveFile(QWidget *parent, const FileRequest &request) = 0;
};

// A Save choice in a folder that does not exist is refused with a warning
// and the dialog comes back, so only a path that can be written returns.
class QFileDialogChooser final : public FileChooser
{
public:
    explicit QFileDialogChooser(Prompter &prompter) : m_prompter(prompter) {}
    QString chooseOpenFile(QWidget *parent, const FileRequest &request) override;
    QString chooseSaveFile(QWidget *parent, const FileRequest &request) override;

private:
    Prompter &m_prompter;
};

// The "All files" filter: on Unix "*.*" would hide names without a dot.
QString allFilesFilter();

} // namespace Tarvo
