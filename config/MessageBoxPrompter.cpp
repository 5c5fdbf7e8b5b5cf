#include "MessageBoxPrompter.h"

#include "AppVersion.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>

namespace Tarvo {

namespace {
QString boxTitle()
{
    return QString::fromLatin1(AppVersion::Title);
}

QMessageBox *questionBox(const QString &question, QWidget *owner)
{
    auto *box = new QMessageBox(QMessageBox::Question, boxTitle(), question,
                                QMessageBox::Yes | QMessageBox::No, owner);
    // No is the default so that an absent-minded Enter never confirms.
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
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
    std::unique_ptr<QMessageBox> box(questionBox(question, owner()));
    return box->exec() == QMessageBox::Yes;
}

void MessageBoxPrompter::askYesNoLater(const QString &question,
                                       std::function<void(bool yes)> answered)
{
    QMessageBox *box = questionBox(question, owner());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [answered](int result) {
        // Outside the box's own signal: what follows may wait a long time.
        QTimer::singleShot(0, [answered, yes = result == QMessageBox::Yes] { answered(yes); });
    });
    box->show();
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
