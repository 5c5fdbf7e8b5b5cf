#include "StatusPane.h"

#include <QTextCharFormat>
#include <QTextCursor>

namespace Tarvo {

StatusPane::StatusPane(QWidget *parent) : QTextEdit(parent)
{
    setObjectName(QStringLiteral("rtbStatus"));
    setReadOnly(true);
    setAcceptRichText(false);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setBold(true);
    setFont(font);
    viewport()->setCursor(Qt::ArrowCursor);
}

QColor StatusPane::toColor(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

void StatusPane::appendText(const QString &text, std::uint32_t colour)
{
    // The document would make a CR and its LF two separate line breaks.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(toColor(colour));
    cursor.insertText(lines, format);

    setTextCursor(cursor);
    ensureCursorVisible();
    repaint();
    viewport()->repaint();
}

void StatusPane::clearText()
{
    clear();
    viewport()->repaint();
}

void StatusPane::setBusyPointer(bool busy)
{
    viewport()->setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor);
}

} // namespace Tarvo
