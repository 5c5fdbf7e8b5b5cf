#include "Configuration.h"

#include "LineCharset.h"

namespace Tarvo {

namespace {
template <typename List> std::int16_t leadingNamed(const List &list)
{
    std::int16_t count = 0;
    while (count < MaxEntries && !list[count].Name.isEmpty())
        ++count;
    return count;
}

template <typename List>
void addRefusals(QStringList &found, const List &list, int count, const QString &kind)
{
    for (int i = 0; i < count; ++i) {
        const QString why = LineCharset::nameRefusal(list[i].Name);
        if (!why.isEmpty())
            found += QStringLiteral("%1 entry %2: the name %3 cannot be sent to the portable: "
                                    "%4. Nothing is sent for it until it is changed.")
                         .arg(kind)
                         .arg(i + 1)
                         .arg(list[i].Name, why);
    }
}
} // namespace

QStringList nameRefusals(const Configuration &config)
{
    QStringList found;
    addRefusals(found, config.DownloadList, config.DownloadCount, QStringLiteral("Download"));
    addRefusals(found, config.UploadList, config.UploadCount, QStringLiteral("Upload"));
    return found;
}

void Configuration::deriveCounts()
{
    DownloadCount = leadingNamed(DownloadList);
    UploadCount = leadingNamed(UploadList);
}

} // namespace Tarvo
