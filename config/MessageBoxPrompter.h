// The Prompter of the running program: questions, notices and warnings as
// modal message boxes titled with the application's title, and the system
// beep. The configuration window, the entry dialogs and the server window all
// ask through it, so every box looks and answers the same way.
#pragma once

#include "Prompter.h"

#include <QPointer>
#include <QWidget>

namespace Tarvo {

class MessageBoxPrompter final : public Prompter
{
public:
    // Boxes are centred over the modal window in use when there is one,
    // otherwise over parent, otherwise over the active window.
    explicit MessageBoxPrompter(QWidget *parent = nullptr);

    void setParent(QWidget *parent) { m_parent = parent; }

    bool askYesNo(const QString &question) override;
    // A modal box that does not block: the answer comes back through the
    // event loop once the box has gone.
    void askYesNoLater(const QString &question, std::function<void(bool yes)> answered) override;
    void inform(const QString &text) override;
    void warn(const QString &text) override;
    void beep() override;

private:
    QWidget *owner() const;

    QPointer<QWidget> m_parent;
};

} // namespace Tarvo
