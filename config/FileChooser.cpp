#include "FileChooser.h"

#include "Prompter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace Tarvo {

namespace {
QString runDialog(QWidget *parent, const FileRequest &request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    // Open: the file must exist. Save: any name (the folder is checked by
    // the caller); the dialog asks before overwriting unless told otherwise.
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty())
        dialog.selectNameFilter(request.filters.first());
    if (!request.initialDir.isEmpty())
        dialog.setDirectory(request.initialDir);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
} // namespace

QString QFileDialogChooser::chooseOpenFile(QWidget *parent, const FileRequest &request)
{
    return runDialog(parent, request, QFileDialog::AcceptOpen);
}

QString QFileDialogChooser::chooseSaveFile(QWidget *parent, const FileRequest &request)
{
    // Qt's own dialog takes any typed path; the folder is checked here and
    // the dialog shown again, on the refused path, until it fits or is cancelled.
    FileRequest next = request;
    for (;;) {
        const QString chosen = runDialog(parent, next, QFileDialog::AcceptSave);
        const QFileInfo info(chosen);
        if (chosen.isEmpty() || info.absoluteDir().exists())
            return chosen;
        m_prompter.warn(
            QStringLiteral("The folder %1 does not exist.\nPlease choose another folder.")
                .arg(QDir::toNativeSeparators(info.absolutePath())));
        next.initialDir = info.absolutePath();
        next.initialName = info.fileName();
    }
}

QString allFilesFilter()
{
#ifdef Q_OS_WIN
    return QStringLiteral("All files (*.*)");
#else
    return QStringLiteral("All files (*)");
#endif
}

} // namespace Tarvo
