#include "SingleInstance.h"

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
    explicit Lock(const QString &lockPath)
        // A path is no valid object name; its hash is, and stays per user
        // because the path is. Global: every log-in session sees it.
        : name(QStringLiteral("Global\\Tarvo-") +
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
    explicit Lock(const QString &lockPath) : file(lockPath) { file.setStaleLockTime(0); }

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

SingleInstance::SingleInstance(const QString &lockPath) : m_lock(std::make_unique<Lock>(lockPath))
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

} // namespace Tarvo
