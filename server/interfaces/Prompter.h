// Questions, notices and the beep. The window shows message boxes titled
// "Tarvo"; tests answer from a script and record what was asked.
//
// A question asked while a call's job runs must not hold the job up: a box
// that blocks would sit on the job's call stack and stop its polling until
// answered. askYesNoLater puts the box up and returns at once.
#pragma once

#include <QString>
#include <functional>

namespace Tarvo {

class Prompter
{
public:
    virtual ~Prompter() = default;
    // Yes/No with the question icon, No the default button. True for Yes.
    virtual bool askYesNo(const QString &question) = 0;
    // The same question without waiting for it: answered is called with the
    // answer once it is given, from the event loop, while the caller's own
    // loop (a transfer's waits) goes on. Here: asked and answered at once.
    virtual void askYesNoLater(const QString &question, std::function<void(bool yes)> answered)
    {
        answered(askYesNo(question));
    }
    // Information box with OK.
    virtual void inform(const QString &text) = 0;
    // Exclamation box with OK.
    virtual void warn(const QString &text) = 0;
    // The critical-stop system sound.
    virtual void beep() = 0;
};

} // namespace Tarvo
