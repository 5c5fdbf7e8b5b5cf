#include "Portable.h"

#include "PortableFrames.h"

namespace Tarvo::Testing {

namespace {
QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}
} // namespace

QByteArray frame(char type, const QByteArray &body, bool fromHost)
{
    const std::string raw = body.toStdString();
    return bytes(fromHost ? ::Tarvo::Portable::buildHostFrame(type, raw)
                          : ::Tarvo::Portable::buildPortableFrame(type, raw));
}

QByteArray escaped(const QByteArray &raw)
{
    return bytes(::Tarvo::Portable::escapeData(raw.toStdString()));
}

} // namespace Tarvo::Testing
