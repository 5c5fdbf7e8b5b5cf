// What the end-to-end tests share: the files, the job and both sides of a call
// against tarvo-portable, set up in one step.
#pragma once

#include "PortableRig.h"

#include <QMap>

namespace Tarvo::Bench {

struct Call
{
    QMap<QString, QByteArray> host;     // the host's files before the call, by name
    QMap<QString, QByteArray> portable; // what the portable serves
    JobKind job = DownloadAndUpload;
    QList<std::pair<QString, QString>> downloads, uploads; // portable's name, host file name
    PortableOptions options;
};

// Writes the files, sets the job, starts the simulator and the host.
inline bool start(PortableRig &rig, const Call &call)
{
    for (auto [name, content] : call.host.asKeyValueRange())
        PortableRig::writeFile(rig.hostPath(name), content);
    for (auto [name, content] : call.portable.asKeyValueRange())
        PortableRig::writeFile(rig.portableFile(name), content);
    rig.config.JobType = call.job;
    for (int i = 0; i < call.downloads.size(); ++i)
        rig.config.DownloadList[i] = {call.downloads[i].first,
                                      rig.hostPath(call.downloads[i].second)};
    for (int i = 0; i < call.uploads.size(); ++i)
        rig.config.UploadList[i] = {call.uploads[i].first, rig.hostPath(call.uploads[i].second)};
    rig.config.deriveCounts();
    return rig.startPortable(call.options) && rig.startHost();
}

} // namespace Tarvo::Bench
