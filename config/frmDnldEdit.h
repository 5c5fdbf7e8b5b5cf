// The download-entry dialog "Download File": the host file that is sent and
// the name under which the portable stores it.
//
// The caller hands the entry in and reads it back through a
// DownloadEditHandOver: the dialog shows DownloadEditEntry when it opens,
// clears DownloadEditAccepted, and only a valid OK writes the trimmed texts
// back and sets the flag. Browse picks an existing host file and, when no
// portable name has been typed yet, proposes an 8.3 name from it. OK refuses
// a host path that is empty or cannot be opened for reading, and a portable
// name the line cannot carry.
#pragma once

#include "Configuration.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace Tarvo {

class FileChooser;
class Prompter;

struct DownloadEditHandOver
{
    DownloadEntry DownloadEditEntry;   // in: shown at opening; out: the edited entry
    bool DownloadEditAccepted = false; // true only after a valid OK
};

// The portable's short name for a host file name (without folder): up to 8
// characters before the first dot, a dot, and up to 3 characters after it;
// no dot when the name has no extension. Letter case is kept.
QString proposePortableName(const QString &fileTitle);

class frmDnldEdit final : public QDialog
{
    Q_OBJECT
public:
    frmDnldEdit(DownloadEditHandOver &handOver, FileChooser &chooser, Prompter &prompter,
                QWidget *parent = nullptr);

private slots:
    void cmdBrowse_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void buildControls();
    void Form_Load();

    DownloadEditHandOver &m_handOver;
    // The entry as it came in: Browse starts from the stored path, not from
    // whatever the box holds now.
    const DownloadEntry m_received;
    FileChooser &m_chooser;
    Prompter &m_prompter;

    QLineEdit *txtOpenFrom = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QLineEdit *txtName = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};

} // namespace Tarvo
