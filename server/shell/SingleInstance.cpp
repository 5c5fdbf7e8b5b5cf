#include "SingleInstance.h"

#include "AppVersion.h"

#include <QDir>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <QCryptographicHash>
#include <qt_windows.h>
#else
#include <QLockFile>
#include <QTemporaryFile>
#endif

namespace Tarvo {

#ifdef Q_OS_WIN

struct SingleInstance::Lock
{
    Lock(const QString &lockPath, const QString &objectName)
        // A path is no valid object name; its hash is.
        : name(!objectName.isEmpty()
                   ? objectName
                   : sessionObjectName() + QLatin1Char('-') +
                         QString::fromLatin1(
                             QCryptographicHash::hash(QDir::cleanPath(lockPath).toLower().toUtf8(),
                                                      QCryptographicHash::Sha1)
                                 .toHex()))
    {
    }
    ~Lock()
    {
        if (handle)
            CloseHandle(handle);
    }

    Acquire tryAcquire()
    {
        if (handle)
            return Acquire::Acquired;
        HANDLE h = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
        const DWORD code = GetLastError();
        if (!h) {
            error = QStringLiteral("Cannot create %1 (Windows error %2).").arg(name).arg(code);
            return Acquire::Failed;
        }
        if (code == ERROR_ALREADY_EXISTS) {
            CloseHandle(h);
            return Acquire::AlreadyRunning;
        }
        handle = h;
        return Acquire::Acquired;
    }
    bool isHeld() const { return handle != nullptr; }

    QString name;
    HANDLE handle = nullptr;
    QString error;
};

#else

namespace {

// QLockFile only says "permission" or "unknown"; a file made the same way
// beside the lock gets the system's own words for what is wrong.
QString whyNotWritable(const QString &lockPath)
{
    QTemporaryFile probe(lockPath + QStringLiteral(".XXXXXX"));
    if (probe.open())
        return QStringLiteral("the lock file cannot be created");
    return probe.errorString();
}

} // namespace

struct SingleInstance::Lock
{
    Lock(const QString &lockPath, const QString &) : file(lockPath) { file.setStaleLockTime(0); }

    Acquire tryAcquire()
    {
        if (file.isLocked() || file.tryLock(0))
            return Acquire::Acquired;
        if (file.error() == QLockFile::LockFailedError)
            return Acquire::AlreadyRunning;
        error =
            QStringLiteral("Cannot create the lock file %1: %2")
                .arg(QDir::toNativeSeparators(file.fileName()), whyNotWritable(file.fileName()));
        return Acquire::Failed;
    }
    bool isHeld() const { return file.isLocked(); }

    QLockFile file;
    QString error;
};

#endif

SingleInstance::SingleInstance() : SingleInstance(defaultLockPath(), sessionObjectName()) {}

SingleInstance::SingleInstance(const QString &lockPath) : SingleInstance(lockPath, QString()) {}

SingleInstance::SingleInstance(const QString &lockPath, const QString &objectName)
    : m_lock(std::make_unique<Lock>(lockPath, objectName))
{
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Acquire SingleInstance::tryAcquire()
{
    return m_lock->tryAcquire();
}

bool SingleInstance::isHeld() const
{
    return m_lock->isHeld();
}

QString SingleInstance::errorString() const
{
    return m_lock->error;
}

QString SingleInstance::defaultLockPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("tarvo.lock"));
}

QString SingleInstance::sessionObjectName()
{
    // The installer builds the same name from the same title.
    return QStringLiteral("Local\\") + QLatin1String(AppVersion::Title);
}

} // namespace Tarvo
