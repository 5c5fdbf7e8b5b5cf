// The upload-entry dialog "Upload File": the file on the portable that is
// fetched and the host path under which it is saved.
//
// Hand-over as in the download dialog, through an UploadEditHandOver. Browse
// offers a save dialog (text files first, "txt" added to a bare name) that
// starts in the folder of the stored save path, proposing its file name or,
// without one, the typed portable name. OK needs both texts non-empty and a
// name the line can carry; the save path is not tested any further.
#pragma once

#include "Configuration.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace Tarvo {

class FileChooser;
class Prompter;

struct UploadEditHandOver
{
    UploadEntry UploadEditEntry;     // in: shown at opening; out: the edited entry
    bool UploadEditAccepted = false; // true only after a valid OK
};

class frmUpldEdit final : public QDialog
{
    Q_OBJECT
public:
    frmUpldEdit(UploadEditHandOver &handOver, FileChooser &chooser, Prompter &prompter,
                QWidget *parent = nullptr);

private slots:
    void cmdBrowse_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void buildControls();
    void Form_Load();

    UploadEditHandOver &m_handOver;
    const UploadEntry m_received;
    FileChooser &m_chooser;
    Prompter &m_prompter;

    QLineEdit *txtName = nullptr;
    QLineEdit *txtSaveAs = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};

} // namespace Tarvo
