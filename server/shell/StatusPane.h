// The status pane: a read-only text view that grows at its end in colour.
//
// Colours arrive as 0x00BBGGRR values (blue in the high byte). Text is
// appended after everything already shown, each piece keeping its own
// colour, and the pane is repainted at once because callers keep the thread
// busy in their waits. Nothing is ever trimmed; only clear() empties it.
// CR LF pairs start a new line, as a lone CR or LF does. Very long words
// (a path typed without blanks) get invisible break opportunities so that
// laying them out costs time in proportion to their length.
#pragma once

#include <QColor>
#include <QTextEdit>
#include <cstdint>

namespace Tarvo {

class StatusPane final : public QTextEdit
{
    Q_OBJECT

public:
    explicit StatusPane(QWidget *parent = nullptr);

    static QColor toColor(std::uint32_t bgr);

    void appendText(const QString &text, std::uint32_t colour);
    void clearText();
    // Hourglass over the pane while the server is busy, arrow otherwise.
    void setBusyPointer(bool busy);
};

} // namespace Tarvo
