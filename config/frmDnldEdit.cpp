#include "frmDnldEdit.h"

#include "EntryDialogParts.h"
#include "FileChooser.h"
#include "PathHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

namespace Tarvo {

using namespace EntryDialogParts;

QString proposePortableName(const QString &fileTitle)
{
    const QString base = GetFileName(fileTitle, false).left(8);
    const QString ext = GetExtension(fileTitle).left(3);
    return ext.isEmpty() ? base : base + QLatin1Char('.') + ext;
}

frmDnldEdit::frmDnldEdit(DownloadEditHandOver &handOver, FileChooser &chooser, Prompter &prompter,
                         QWidget *parent)
    : QDialog(parent), m_handOver(handOver), m_received(handOver.DownloadEditEntry),
      m_chooser(chooser), m_prompter(prompter)
{
    setObjectName(QStringLiteral("frmDnldEdit"));
    setWindowTitle(QStringLiteral("Download File"));
    buildControls();
    Form_Load();
}

void frmDnldEdit::buildControls()
{
    auto *label1 = new QLabel(QStringLiteral("File path on host:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    txtOpenFrom = makeTextBox(this, "txtOpenFrom");
    cmdBrowse = makeButton(this, "cmdBrowse", QStringLiteral("..."));
    auto *label2 = new QLabel(QStringLiteral("Download to portable as:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    txtName = makeTextBox(this, "txtName");
    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label1);
    layout->addLayout(pathRow(txtOpenFrom, cmdBrowse));
    layout->addWidget(label2);
    layout->addWidget(txtName, 0, Qt::AlignLeft);
    layout->addLayout(buttonRow(cmdOK, cmdCancel));
    fixClientArea(this);

    setTabOrder(txtOpenFrom, cmdBrowse);
    setTabOrder(cmdBrowse, txtName);
    setTabOrder(txtName, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmDnldEdit::cmdBrowse_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmDnldEdit::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmDnldEdit::cmdCancel_Click);
}

void frmDnldEdit::Form_Load()
{
    txtOpenFrom->setText(m_received.OpenFrom);
    txtName->setText(m_received.Name);
    m_handOver.DownloadEditAccepted = false;
}

void frmDnldEdit::cmdBrowse_Click()
{
    FileRequest request;
    request.filters = QStringList{allFilesFilter()};
    // Without a stored path the file dialog starts where it likes.
    if (!m_received.OpenFrom.isEmpty()) {
        request.initialDir = GetDirectory(m_received.OpenFrom);
        request.initialName = GetFileName(m_received.OpenFrom, true);
    }
    const QString chosen = m_chooser.chooseOpenFile(this, request);
    if (chosen.isEmpty())
        return;
    txtOpenFrom->setText(QDir::toNativeSeparators(chosen));
    if (txtName->text().trimmed().isEmpty())
        txtName->setText(proposePortableName(QFileInfo(chosen).fileName()));
}

void frmDnldEdit::cmdOK_Click()
{
    const QString path = txtOpenFrom->text().trimmed();
    // The open test runs even for an empty path, so that the user always
    // sees why the path was refused.
    const bool readable = CanOpenFile(path, m_prompter);
    if (path.isEmpty() || !readable) {
        txtOpenFrom->setFocus();
        return;
    }
    const QString name = txtName->text().trimmed();
    if (name.isEmpty()) {
        txtName->setFocus();
        return;
    }
    if (!portableNameFits(txtName, m_prompter))
        return;
    m_handOver.DownloadEditEntry.OpenFrom = path;
    m_handOver.DownloadEditEntry.Name = name;
    m_handOver.DownloadEditAccepted = true;
    accept();
}

void frmDnldEdit::cmdCancel_Click()
{
    m_handOver.DownloadEditAccepted = false;
    reject();
}

} // namespace Tarvo
