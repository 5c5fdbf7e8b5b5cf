// A FileChooser that answers from a script and remembers what it was asked.
#pragma once

#include "FileChooser.h"

#include <QList>

namespace Tarvo::Testing {

class FakeFileChooser final : public FileChooser
{
public:
    QString chooseOpenFile(QWidget *, const FileRequest &request) override
    {
        return answer(QStringLiteral("open"), request);
    }
    QString chooseSaveFile(QWidget *, const FileRequest &request) override
    {
        return answer(QStringLiteral("save"), request);
    }

    QStringList answers; // consumed in order; an empty text is a cancel
    QStringList kinds;   // "open" or "save", one per request
    QList<FileRequest> requests;

private:
    QString answer(const QString &kind, const FileRequest &request)
    {
        kinds += kind;
        requests += request;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

} // namespace Tarvo::Testing
