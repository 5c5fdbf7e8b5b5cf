// Small pieces the two entry dialogs share: the row of a path box with its
// Browse button, and the OK/Cancel row. Internal to the config UI library.
#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace Tarvo::EntryDialogParts {

// Wide enough for a full host path; the dialog comes out near 400 pixels.
inline constexpr int TextBoxWidth = 340;

inline QLineEdit *makeTextBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setMinimumWidth(TextBoxWidth);
    return box;
}

inline QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    // Only OK may answer Enter, whichever button has the focus.
    button->setAutoDefault(false);
    return button;
}

inline QHBoxLayout *pathRow(QLineEdit *path, QPushButton *browse)
{
    browse->setToolTip(QStringLiteral("Browse..."));
    browse->setFixedWidth(28);
    auto *row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(browse);
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

} // namespace Tarvo::EntryDialogParts
