// Takes the one-instance lock at the path given and says whether it got it:
// "acquired" or "refused" on stdout. A holder keeps the lock until its
// standard input closes; a refused one ends at once with exit code 1.
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    Tarvo::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    const bool got = instance.tryAcquire();
    std::fputs(got ? "acquired\n" : "refused\n", stdout);
    std::fflush(stdout);
    if (!got)
        return 1;
    QFile input;
    if (input.open(stdin, QIODevice::ReadOnly))
        input.readAll(); // until the test closes our input
    return 0;
}
