// Questions, notices and the beep. The window shows message boxes titled
// "Tarvo"; tests answer from a script and record what was asked.
#pragma once

#include <QString>

namespace Tarvo {

class Prompter
{
public:
    virtual ~Prompter() = default;
    // Yes/No with the question icon, No the default button. True for Yes.
    virtual bool askYesNo(const QString &question) = 0;
    // Information box with OK.
    virtual void inform(const QString &text) = 0;
    // Exclamation box with OK.
    virtual void warn(const QString &text) = 0;
    // The critical-stop system sound.
    virtual void beep() = 0;
};

} // namespace Tarvo
