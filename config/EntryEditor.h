// How the configuration window gets one file entry edited.
//
// The window fills a hand-over struct and asks the EntryEditor to run the
// matching dialog modally; afterwards it reads the accepted flag and the
// entry. DialogEntryEditor shows frmDnldEdit and frmUpldEdit; tests put a
// scripted editor in its place.
#pragma once

#include "frmDnldEdit.h"
#include "frmUpldEdit.h"

namespace Tarvo {

class EntryEditor
{
public:
    virtual ~EntryEditor() = default;
    virtual void editDownload(QWidget *parent, DownloadEditHandOver &handOver) = 0;
    virtual void editUpload(QWidget *parent, UploadEditHandOver &handOver) = 0;
};

class DialogEntryEditor final : public EntryEditor
{
public:
    DialogEntryEditor(FileChooser &chooser, Prompter &prompter)
        : m_chooser(chooser), m_prompter(prompter)
    {
    }

    void editDownload(QWidget *parent, DownloadEditHandOver &handOver) override
    {
        frmDnldEdit dialog(handOver, m_chooser, m_prompter, parent);
        dialog.exec();
    }

    void editUpload(QWidget *parent, UploadEditHandOver &handOver) override
    {
        frmUpldEdit dialog(handOver, m_chooser, m_prompter, parent);
        dialog.exec();
    }

private:
    FileChooser &m_chooser;
    Prompter &m_prompter;
};

} // namespace Tarvo
