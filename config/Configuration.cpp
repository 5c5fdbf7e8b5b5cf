#include "Configuration.h"

namespace Tarvo {

namespace {
template <typename List> std::int16_t leadingNamed(const List &list)
{
    std::int16_t count = 0;
    while (count < MaxEntries && !list[count].Name.isEmpty())
        ++count;
    return count;
}
} // namespace

void Configuration::deriveCounts()
{
    DownloadCount = leadingNamed(DownloadList);
    UploadCount = leadingNamed(UploadList);
}

} // namespace Tarvo
