#include "OperationController.h"

#include "AppVersion.h"
#include "LineWait.h"
#include "Prompter.h"

#include <utility>

namespace Tarvo {

namespace {
const QString Title = QString::fromLatin1(AppVersion::Title);
} // namespace

class OperationController::Scope
{
public:
    explicit Scope(OperationController &owner) : m_owner(owner) { ++m_owner.m_depth; }
    ~Scope()
    {
        if (--m_owner.m_depth == 0)
            m_owner.afterOperations();
    }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    OperationController &m_owner;
};

OperationController::OperationController(Prompter &prompter, View &view)
    : m_prompter(prompter), m_view(view)
{
}

QString OperationController::exitQuestion()
{
    return QStringLiteral("Exit ") + Title + QStringLiteral(" program?");
}

QString OperationController::stopQuestion()
{
    return QStringLiteral("Stop ") + Title + QStringLiteral(" ?");
}

void OperationController::attachModem(ModemService &modem, LineWait *wait)
{
    m_modem = &modem;
    m_wait = wait;
}

void OperationController::runOperation(const std::function<void()> &operation)
{
    Scope scope(*this);
    operation();
}

void OperationController::endRunningOperation()
{
    if (m_wait)
        m_wait->requestAbort();
}

void OperationController::deferUntilUnwound(bool &request)
{
    request = true;
    endRunningOperation();
}

void OperationController::askLater(const QString &question, std::function<void()> onYes)
{
    m_asking = true;
    m_prompter.askYesNoLater(question, [this, onYes = std::move(onYes)](bool yes) {
        m_asking = false;
        if (yes)
            onYes();
    });
}

void OperationController::askAboutCallLater(std::function<void(ModemService::CallAnswer)> answered)
{
    if (!m_modem || !m_modem->callUp())
        return answered(ModemService::CallAnswer::Ask);
    m_asking = true;
    m_modem->askHangUpLater([this, answered = std::move(answered)](bool end) {
        m_asking = false;
        answered(end ? ModemService::CallAnswer::EndCall : ModemService::CallAnswer::KeepCall);
    });
}

bool OperationController::takeRequest(bool &request)
{
    if (!request)
        return false;
    request = false;
    if (m_wait)
        m_wait->clearAbort();
    return true;
}

void OperationController::afterOperations()
{
    if (takeRequest(m_lostPending) && m_onPortLost)
        m_onPortLost();
    if (takeRequest(m_exitPending)) {
        m_stopPending = false; // the shutdown hangs up anyway
        m_view.closeByProgram();
        return;
    }
    if (takeRequest(m_stopPending))
        stopServer();
    if (std::exchange(m_settingsPending, false))
        m_view.setSettingsEnabled(true);
    closeIfIdle();
}

void OperationController::portLost()
{
    if (m_depth > 0) {
        deferUntilUnwound(m_lostPending);
        return;
    }
    if (m_onPortLost)
        m_onPortLost();
}

bool OperationController::beginActivation()
{
    if (!activationDue())
        return false;
    m_activating = true;
    return true;
}

void OperationController::endActivation()
{
    Activated = true;
    m_activating = false;
}

bool OperationController::initializeModem()
{
    if (m_modem)
        m_modem->InitializeModem();
    return m_modem != nullptr;
}

void OperationController::startStopClicked()
{
    if (!m_stopOffered) {
        runOperation([this] { initializeModem(); });
        return;
    }
    if (m_depth == 0) {
        if (m_prompter.askYesNo(stopQuestion()))
            stopServer();
        return;
    }
    if (m_asking || m_unloading)
        return;
    askLater(stopQuestion(), [this] {
        askAboutCallLater([this](ModemService::CallAnswer answer) { stopAnswered(answer); });
    });
}

void OperationController::stopAnswered(ModemService::CallAnswer answer)
{
    if (m_unloading)
        return;
    if (answer == ModemService::CallAnswer::KeepCall) {
        // Everything stays as it was; Settings waits for the job to end, so
        // that the job's lists do not change under it.
        if (m_depth == 0)
            m_view.setSettingsEnabled(true);
        else
            m_settingsPending = true;
        return;
    }
    m_callAnswer = answer;
    if (m_depth == 0) // the operation ended under the questions
        stopServer();
    else
        deferUntilUnwound(m_stopPending);
}

void OperationController::stopAsAnswered(ModemService::CallAnswer answer)
{
    if (m_unloading)
        return;
    if (answer != ModemService::CallAnswer::KeepCall)
        return stopAnswered(answer);
    m_stopWhenIdle = true;
    closeIfIdle();
}

void OperationController::stopServer()
{
    const auto answer = std::exchange(m_callAnswer, ModemService::CallAnswer::Ask);
    runOperation([this, answer] {
        if (m_modem)
            m_modem->HangUp(answer);
    });
    m_view.setSettingsEnabled(true);
}

void OperationController::exitChosen()
{
    if (m_unloading || m_exitPending || m_asking)
        return;
    if (m_depth > 0) {
        askLater(exitQuestion(), [this] { requestExit(); });
        return;
    }
    if (confirmExit())
        requestExit();
}

bool OperationController::confirmExit()
{
    return m_prompter.askYesNo(exitQuestion());
}

void OperationController::requestExit()
{
    if (m_unloading || m_exitPending || m_asking)
        return;
    if (m_depth == 0) {
        m_view.closeByProgram();
        return;
    }
    askAboutCallLater([this](ModemService::CallAnswer answer) { exitAnswered(answer); });
}

void OperationController::exitAnswered(ModemService::CallAnswer answer)
{
    if (m_unloading || m_exitPending)
        return;
    m_callAnswer = answer;
    if (m_depth == 0) // the operation ended under the question
        m_view.closeByProgram();
    else if (answer == ModemService::CallAnswer::KeepCall)
        m_exitPending = true; // once the job has finished
    else
        deferUntilUnwound(m_exitPending);
}

void OperationController::shutdown()
{
    if (m_unloading)
        return;
    m_noQuestions = true;
    if (m_depth > 0) {
        deferUntilUnwound(m_exitPending);
        return;
    }
    m_view.closeByProgram();
}

void OperationController::closeWhenIdle()
{
    if (m_unloading)
        return;
    m_noQuestions = true;
    m_closeWhenIdle = true;
    closeIfIdle();
}

void OperationController::closeIfIdle()
{
    // Looked at again when an operation ends: the call ends in one.
    if (m_unloading || m_depth > 0 || (m_modem && m_modem->callUp()))
        return;
    if (std::exchange(m_stopWhenIdle, false))
        stopServer();
    if (m_closeWhenIdle && !m_unloading)
        m_view.closeByProgram();
}

bool OperationController::unload()
{
    if (m_unloading)
        return false;
    m_unloading = true;
    // When the hang-up question is answered No the port stays open; it is
    // released with the line when the process ends.
    // The program being ended by the system asks nobody: a call is ended.
    auto answer = std::exchange(m_callAnswer, ModemService::CallAnswer::Ask);
    if (m_noQuestions)
        answer = ModemService::CallAnswer::EndCall;
    runOperation([this, answer] {
        if (m_modem && !m_modemElsewhere)
            m_modem->HangUp(answer);
    });
    return true;
}

} // namespace Tarvo
