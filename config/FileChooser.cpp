#include "FileChooser.h"

#include <QFileDialog>

namespace Tarvo {

namespace {
QString runDialog(QWidget *parent, const FileRequest &request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    // Open: the file must exist. Save: any name in an existing folder; the
    // dialog asks before overwriting unless told otherwise.
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
    return runDialog(parent, request, QFileDialog::AcceptSave);
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
