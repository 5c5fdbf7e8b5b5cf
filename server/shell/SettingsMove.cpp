#include "SettingsMove.h"

#include "Prompter.h"
#include "RemoteSettings.h"
#include "SettingsValues.h"
#include "UploadJournal.h"

#include <QDir>
#include <QFile>

namespace Tarvo {

class SettingsMove::Copy final : public SettingsAccess
{
public:
    Copy(const Configuration &model, RemoteSettings &service) : m_model(model), m_service(service)
    {
    }
    void LoadSettings(Configuration &model) override { model = m_model; }
    bool SaveSettings(const Configuration &model, QString &error) override
    {
        return m_service.SaveSettings(model, error);
    }
    QString portDevice(int comNumber) const override { return m_service.portDevice(comNumber); }
    QString location() const override { return m_service.location(); }
    bool readByService() const override { return m_service.readByService(); }

private:
    const Configuration m_model;
    RemoteSettings &m_service;
};

SettingsMove::SettingsMove(SettingsAccess &own, const QString &stateFolder)
    : m_own(own), m_journalFolder(stateFolder),
      m_markPath(QDir(stateFolder).filePath(QStringLiteral("settings-moved")))
{
}

void SettingsMove::setPathRules(PathStyle style, DriveLookup lookup)
{
    m_style = style;
    m_drives = std::move(lookup);
}

QString SettingsMove::question()
{
    return QStringLiteral(
        "Tarvo now answers calls as a service, for everybody on this PC. Copy your own settings "
        "to it? The service does not see the drives mapped for you: their paths become network "
        "paths. The configuration window shows the copy before it is saved.");
}

bool SettingsMove::due() const
{
    return !QFile::exists(m_markPath) && journalEmpty();
}

bool SettingsMove::journalEmpty() const
{
    // A journal another Tarvo holds, or one that cannot be read, may hold
    // something to undo: the offer waits.
    UploadJournal journal(m_journalFolder);
    QString error;
    QList<UploadJournal::Entry> entries;
    return journal.acquire(error) == FileLock::Result::Locked && journal.read(entries, error) &&
           entries.isEmpty();
}

void SettingsMove::remember(const char *answer) const
{
    QDir().mkpath(m_journalFolder);
    QFile mark(m_markPath);
    if (mark.open(QIODevice::WriteOnly | QIODevice::Truncate))
        mark.write(QByteArray(answer) + '\n');
}

bool SettingsMove::offer(Prompter &prompter, RemoteSettings &service,
                         const ConfigureStep &configure)
{
    if (!due())
        return false;
    Configuration own;
    m_own.LoadSettings(own);
    own.deriveCounts();
    if (own.DownloadCount == 0 && own.UploadCount == 0)
        return false; // nothing of the user's own to move
    useNetworkPaths(own, m_drives(entryPaths(own)), m_style);
    Configuration served;
    service.LoadSettings(served);
    if (SettingsValues::modelValues(served) == SettingsValues::modelValues(own)) {
        remember("same");
        return false;
    }
    if (!prompter.askYesNo(question())) {
        remember("declined");
        return false;
    }
    Copy copy(own, service);
    if (!configure(copy))
        return false; // cancelled: asked again at the next start
    remember("moved");
    return true;
}

} // namespace Tarvo
