#include "MessageBoxPrompter.h"

#include "AppVersion.h"

#include <QApplication>
#include <QMessageBox>

namespace Tarvo {

namespace {
QString boxTitle()
{
    return QString::fromLatin1(AppVersion::Title);
}

void showNotice(QWidget *owner, QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, boxTitle(), text, QMessageBox::Ok, owner);
    box.exec();
}
} // namespace

MessageBoxPrompter::MessageBoxPrompter(QWidget *parent) : m_parent(parent) {}

QWidget *MessageBoxPrompter::owner() const
{
    // A modal window (the configuration window, an entry dialog) is where
    // the user is looking; the parent, the server window, may be hidden.
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (m_parent)
        return m_parent;
    return QApplication::activeWindow();
}

bool MessageBoxPrompter::askYesNo(const QString &question)
{
    QMessageBox box(QMessageBox::Question, boxTitle(), question, QMessageBox::Yes | QMessageBox::No,
                    owner());
    // No is the default so that an absent-minded Enter never confirms.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompter::inform(const QString &text)
{
    showNotice(owner(), QMessageBox::Information, text);
}

void MessageBoxPrompter::warn(const QString &text)
{
    showNotice(owner(), QMessageBox::Warning, text);
}

void MessageBoxPrompter::beep()
{
    QApplication::beep();
}

} // namespace Tarvo
