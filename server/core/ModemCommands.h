// The modem's command texts and the replies they are met with, and the words
// the modem control shows around them, shared by the described operations
// (ModemControl) and the steps of recovery (ModemRecovery).
#pragma once

#include "Reporter.h"

#include <QByteArray>
#include <QString>

namespace Tarvo::ModemText {

inline const QByteArray InitCommand = QByteArrayLiteral("ATE0V1Q0S0=0\r");
inline const QByteArray AutoAnswerCommand = QByteArrayLiteral("ATS0=1\r");
inline const QByteArray EscapeCommand = QByteArrayLiteral("+++"); // no pause before or after
inline const QByteArray HangUpCommand = QByteArrayLiteral("ATH0\r");
inline const QByteArray AutoAnswerOffCommand = QByteArrayLiteral("ATS0=0\r");
inline const QByteArray OkReply = QByteArrayLiteral("OK\r\n");
inline const QByteArray ErrorReply = QByteArrayLiteral("ERROR\r\n");

inline const QString Ellipsis = QStringLiteral(" ...");
inline const QString Ok = QStringLiteral(" OK");
inline const QString Failed = QStringLiteral(" failed");
inline const QString CheckModem = QStringLiteral("Please check modem.");

// A text as one line of the pane and the log.
inline QString line(const QString &text)
{
    return text + QLatin1String(CrLf);
}

} // namespace Tarvo::ModemText
