#include "StatusPane.h"

#include <QTextCharFormat>
#include <QTextCursor>

namespace Tarvo {

namespace {

constexpr int LongestRun = 64;
const QChar ZeroWidthSpace(0x200B);

// Qt lays out a run it cannot break at a word boundary in time that grows
// with the square of its length (a 300 KB file name took 16 s, 1 MB close to
// two minutes). A zero-width space every LongestRun characters gives it
// break opportunities, and the layout stays linear; nothing shows of them.
QString breakLongRuns(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / LongestRun);
    int run = 0;
    for (const QChar c : text) {
        if (c.isSpace()) {
            run = 0;
        } else if (++run > LongestRun && !c.isLowSurrogate()) { // keep pairs whole
            out += ZeroWidthSpace;
            run = 1;
        }
        out += c;
    }
    return out;
}

} // namespace

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
    QString lines = breakLongRuns(text);
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
