// Small pieces the two entry dialogs share: their sizes, the row of a path
// box with its Browse button, the OK/Cancel row and the check of a portable
// name. Internal to the config UI library.
//
// Sizes are laid down in twips, 15 to a pixel. Every button takes Enter
// while it has the focus, as dialogs do on the desktop; elsewhere Enter goes
// to OK, the default, and Esc cancels.
#pragma once

#include "LineCharset.h"
#include "Prompter.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace Tarvo::EntryDialogParts {

inline constexpr int pixels(int twips)
{
    return twips / 15;
}

inline constexpr int ClientWidth = pixels(5985);
inline constexpr int ClientHeight = pixels(2295);
inline constexpr int TextBoxWidth = pixels(5070);
inline constexpr int TextBoxHeight = pixels(330);
inline constexpr int BrowseWidth = pixels(360);
inline constexpr int BrowseHeight = pixels(285);
inline constexpr int ButtonWidth = pixels(1125);
inline constexpr int ButtonHeight = pixels(330);

inline void fixClientArea(QDialog *dialog)
{
    dialog->setFixedSize(ClientWidth, ClientHeight);
}

inline QLineEdit *makeTextBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setFixedSize(TextBoxWidth, TextBoxHeight);
    return box;
}

inline QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(true);
    button->setFixedSize(ButtonWidth, ButtonHeight);
    return button;
}

inline QHBoxLayout *pathRow(QLineEdit *path, QPushButton *browse)
{
    browse->setToolTip(QStringLiteral("Browse..."));
    browse->setFixedSize(BrowseWidth, BrowseHeight);
    auto *row = new QHBoxLayout;
    row->addWidget(path);
    row->addWidget(browse);
    row->addStretch(1);
    return row;
}

inline QHBoxLayout *buttonRow(QPushButton *ok, QPushButton *cancel)
{
    ok->setDefault(true);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

// A name the portable cannot take is refused where it was typed: the
// message says why (characters, length, an end read as an offset), and the
// focus goes back into the box. The name is judged as it will be stored.
inline bool portableNameFits(QLineEdit *box, Prompter &prompter)
{
    const QString refused = LineCharset::nameRefusal(box->text().trimmed());
    if (refused.isEmpty())
        return true;
    prompter.warn(QStringLiteral("The portable cannot receive this name: %1.\nPlease change it.")
                      .arg(refused));
    box->setFocus();
    return false;
}

} // namespace Tarvo::EntryDialogParts
