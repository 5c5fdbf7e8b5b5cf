#include "frmUpldEdit.h"

#include "EntryDialogParts.h"
#include "FileChooser.h"
#include "PathHelpers.h"

#include <QDir>
#include <QLabel>
#include <QVBoxLayout>

namespace Tarvo {

using namespace EntryDialogParts;

frmUpldEdit::frmUpldEdit(UploadEditHandOver &handOver, FileChooser &chooser, Prompter &prompter,
                         QWidget *parent)
    : QDialog(parent), m_handOver(handOver), m_received(handOver.UploadEditEntry),
      m_chooser(chooser), m_prompter(prompter)
{
    setObjectName(QStringLiteral("frmUpldEdit"));
    setWindowTitle(QStringLiteral("Upload File"));
    buildControls();
    Form_Load();
}

void frmUpldEdit::buildControls()
{
    auto *label1 = new QLabel(QStringLiteral("File name on portable:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    txtName = makeTextBox(this, "txtName");
    auto *label2 = new QLabel(QStringLiteral("Save to host as:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    txtSaveAs = makeTextBox(this, "txtSaveAs");
    cmdBrowse = makeButton(this, "cmdBrowse", QStringLiteral("..."));
    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label1);
    layout->addWidget(txtName, 0, Qt::AlignLeft);
    layout->addWidget(label2);
    layout->addLayout(pathRow(txtSaveAs, cmdBrowse));
    layout->addLayout(buttonRow(cmdOK, cmdCancel));
    fixClientArea(this);

    setTabOrder(txtName, txtSaveAs);
    setTabOrder(txtSaveAs, cmdBrowse);
    setTabOrder(cmdBrowse, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmUpldEdit::cmdBrowse_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmUpldEdit::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmUpldEdit::cmdCancel_Click);
}

void frmUpldEdit::Form_Load()
{
    txtName->setText(m_received.Name);
    txtSaveAs->setText(m_received.SaveAs);
    m_handOver.UploadEditAccepted = false;
}

void frmUpldEdit::cmdBrowse_Click()
{
    FileRequest request;
    request.filters = QStringList{QStringLiteral("Text files (*.txt)"), allFilesFilter()};
    request.defaultSuffix = QStringLiteral("txt");
    request.initialDir = GetDirectory(m_received.SaveAs);
    // A new entry has no save path yet: offer the portable's name instead.
    request.initialName = m_received.SaveAs.isEmpty() ? txtName->text().trimmed()
                                                      : GetFileName(m_received.SaveAs, true);
    const QString chosen = m_chooser.chooseSaveFile(this, request);
    if (chosen.isEmpty())
        return;
    txtSaveAs->setText(QDir::toNativeSeparators(chosen));
}

void frmUpldEdit::cmdOK_Click()
{
    const QString name = txtName->text().trimmed();
    if (name.isEmpty()) {
        txtName->setFocus();
        return;
    }
    if (!portableNameFits(txtName, m_prompter))
        return;
    const QString path = txtSaveAs->text().trimmed();
    if (path.isEmpty()) {
        txtSaveAs->setFocus();
        return;
    }
    m_handOver.UploadEditEntry.Name = name;
    m_handOver.UploadEditEntry.SaveAs = path;
    m_handOver.UploadEditAccepted = true;
    accept();
}

void frmUpldEdit::cmdCancel_Click()
{
    m_handOver.UploadEditAccepted = false;
    reject();
}

} // namespace Tarvo
