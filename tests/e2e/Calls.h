// What the end-to-end tests share: a call's files, job and both sides, set up in one step.
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
    for (int i = 0; const auto &[name, file] : call.downloads)
        rig.config.DownloadList[i++] = {name, rig.hostPath(file)};
    for (int i = 0; const auto &[name, file] : call.uploads)
        rig.config.UploadList[i++] = {name, rig.hostPath(file)};
    rig.config.deriveCounts();
    return rig.startPortable(call.options) && rig.startHost();
}

} // namespace Tarvo::Bench
