#include "SingleInstance.h"

#include "AppVersion.h"

#include <QDir>
#include <QStandardPaths>

#include <QCryptographicHash>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QFileInfo>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Tarvo {

#ifdef Q_OS_WIN

struct SingleInstance::Lock
{
    Lock(const QString &, const QString &objectName) : name(objectName) {}
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

// An flock() on the lock file, or, where it cannot be opened, on the folder
// that holds it: 0 with held set, else the errno of what failed, the lock
// file's own when nothing could be opened. Opened without blocking: a pipe
// in its place would wait for a writer.
int lockFileOrFolder(const QString &lockPath, int &held)
{
    constexpr int Flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    const QByteArray file = QFile::encodeName(lockPath);
    int fd = ::open(file.constData(), O_RDWR | O_CREAT | Flags, 0600);
    const int notMade = errno;
    if (fd < 0)
        fd = ::open(file.constData(), O_RDONLY | Flags);
    if (fd < 0)
        fd = ::open(QFile::encodeName(QFileInfo(lockPath).absolutePath()).constData(),
                    O_RDONLY | O_DIRECTORY | Flags);
    if (fd < 0)
        return notMade;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        return why;
    }
    held = fd;
    return 0;
}

#ifdef Q_OS_LINUX
// A name in the abstract socket namespace, which has no folder: bound while
// the process lives. EADDRINUSE when another process holds it.
int bindAbstractSocket(const QString &lockPath, int &held)
{
    const QByteArray name =
        "tarvo-" + QByteArray::number(::getuid()) + '-' +
        QCryptographicHash::hash(QFileInfo(lockPath).absoluteFilePath().toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(name.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        const int why = errno;
        ::close(fd);
        return why;
    }
    held = fd;
    return 0;
}
#endif

} // namespace

struct SingleInstance::Lock
{
    Lock(const QString &lockPath, const QString &) : path(lockPath) {}
    ~Lock()
    {
        if (held >= 0)
            ::close(held);
    }

    Acquire tryAcquire()
    {
        if (held >= 0)
            return Acquire::Acquired;
        int code = lockFileOrFolder(path, held);
#ifdef Q_OS_LINUX
        if (code != 0 && code != EWOULDBLOCK) {
            const int bound = bindAbstractSocket(path, held);
            code = bound == 0 ? 0 : bound == EADDRINUSE ? EWOULDBLOCK : code;
        }
#endif
        if (code == 0)
            return Acquire::Acquired;
        if (code == EWOULDBLOCK)
            return Acquire::AlreadyRunning;
        error =
            QStringLiteral("Cannot create the lock file %1: %2")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(code)));
        return Acquire::Failed;
    }
    bool isHeld() const
    {
        return held >= 0;
    }

    QString path;
    int held = -1;
    QString error;
};

#endif

SingleInstance::SingleInstance() : SingleInstance(defaultLockPath(), sessionObjectName()) {}

SingleInstance::SingleInstance(const QString &lockPath, Scope scope)
    : SingleInstance(lockPath, objectNameFor(lockPath, scope))
{
}

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

QString SingleInstance::objectNameFor(const QString &lockPath, Scope scope)
{
    // A path is no valid object name; its hash is.
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(QDir::cleanPath(lockPath).toLower().toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex());
    if (scope == Scope::Global)
        return QStringLiteral("Global\\") + QLatin1String(AppVersion::Title) +
               QStringLiteral(".server-") + hash;
    return sessionObjectName() + QLatin1Char('-') + hash;
}

} // namespace Tarvo
