// Everything one transfer test needs: the fake line on a virtual clock, the
// scripted portable, a recording reporter, a configuration and a scratch
// folder for host files.
#pragma once

#include "Configuration.h"
#include "FakeLine.h"
#include "PacketLink.h"
#include "Portable.h"
#include "Transfers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace Tarvo::Testing {

struct TransferRig
{
    TransferRig()
    {
        line.open(1, nullptr);
        line.setMode(SerialLine::Mode::Job);
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    static void writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // Bytes 0..255 over and over: every escape rule, 92, 193 and 220 among them.
    static QByteArray pattern(int size)
    {
        QByteArray out(size, '\0');
        for (int i = 0; i < size; ++i)
            out[i] = char((i * 7 + i / 256) % 256);
        return out;
    }

    QTemporaryDir dir;
    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    RecordingReporter reporter;
    Configuration config;
    PacketLink link{wait};
    Portable portable{line};
};

} // namespace Tarvo::Testing
