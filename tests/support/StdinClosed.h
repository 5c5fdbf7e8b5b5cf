// Runs part of a test as a program started without standard input: descriptor 0 is free, so the
// first descriptor that part leaves open takes it, where zeroTaken() sees it.
#pragma once

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Tarvo::Testing {

#ifdef Q_OS_UNIX
class StdinClosed
{
public:
    StdinClosed() : m_saved(::dup(0)) { ::close(0); }
    ~StdinClosed()
    {
        ::dup2(m_saved, 0);
        ::close(m_saved);
    }
    bool zeroTaken() const { return ::fcntl(0, F_GETFD) != -1; }

private:
    int m_saved;
};
#else
struct StdinClosed
{
    bool zeroTaken() const { return false; }
};
#endif

} // namespace Tarvo::Testing
