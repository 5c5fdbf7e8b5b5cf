#include "frmServer.h"

#include "AppIcon.h"
#include "AppVersion.h"
#include "Configuration.h"
#include "LineWait.h"
#include "LogFile.h"
#include "ModemService.h"
#include "Prompter.h"
#include "ServerState.h"
#include "StatusPane.h"
#include "TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <utility>

// Re-entrancy. Starting and stopping the modem and the job of a call wait by
// pumping window events, so Exit, Stop, a second activation or a lost port
// can arrive while one of them runs. Such an operation runs inside
// OperationScope (a depth counter). Exit or Stop chosen meanwhile is not
// carried out under the running operation: the request is remembered and
// carried out when the outermost operation has returned, with the abort
// cleared first so that the hang-up can still talk to the modem.
//
// The questions come first, and while an operation runs they do not block:
// a box that waited would sit on the job's call stack and stop its polling.
// So they are asked with askYesNoLater and the request goes on from the
// answer. With a call up, "Hang up (disconnect) modem?" follows at once:
// only Yes cuts the job short (its waits are asked to end); No lets it
// finish, and the later hang-up does not ask again. Without a call the
// operation is cut short straight away. Stop and Exit are not taken while
// such a question is open, nor a second Exit while one is pending.
//
// The modem control closes the port in whichever of these paths gets there
// first and the later hang-up finds it closed, so it is closed once. A
// second activation during the first activation's work is kept out by
// m_activating.

namespace Tarvo {

namespace {

const QString Title = QString::fromLatin1(AppVersion::Title);
QString exitQuestion()
{
    return QStringLiteral("Exit ") + Title + QStringLiteral(" program?");
}

const QString Separator =
    QStringLiteral(" ") + QString(48, QLatin1Char('-')) + QStringLiteral(" ") + QLatin1String(CrLf);

// Button and separator geometry in pixels (15 twips a pixel).
constexpr int ButtonWidth = 82;
constexpr int ButtonHeight = 24;
constexpr int ButtonTop = 141;
constexpr int SettingsLeft = 15;
constexpr int StartStopLeft = 121;
constexpr int CloseLeft = 278;
constexpr int CloseTop = 187;
constexpr int LineTop = 176;
constexpr int LineLeft = 4;
constexpr int LineRight = 359;
constexpr int PaneHeight = 135;

} // namespace

class frmServer::OperationScope
{
public:
    explicit OperationScope(frmServer &server) : m_server(server) { ++m_server.m_depth; }
    ~OperationScope()
    {
        if (--m_server.m_depth == 0)
            m_server.afterOperations();
    }
    OperationScope(const OperationScope &) = delete;
    OperationScope &operator=(const OperationScope &) = delete;

private:
    frmServer &m_server;
};

frmServer::frmServer(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
                     const Configuration &config, ConfigureStep configure, AboutStep about,
                     QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_state(state), m_log(log), m_tray(tray), m_prompter(prompter), m_config(config),
      m_configure(std::move(configure)), m_about(std::move(about)), m_tip(Title)
{
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(Title);
    setFixedSize(ClientWidth, ClientHeight);
    buildControls();
    buildMenu();
    connect(&m_tray, &TrayIcon::doubleClicked, this, &frmServer::mPopRestore_Click);
}

frmServer::~frmServer()
{
    if (m_busy)
        QApplication::restoreOverrideCursor();
}

void frmServer::buildControls()
{
    m_pane = new StatusPane(this);
    m_pane->setGeometry(0, 0, ClientWidth, PaneHeight);

    auto button = [this](const char *name, const QString &caption, int left, int top) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(left, top, ButtonWidth, ButtonHeight);
        return b;
    };
    m_cmdSettings = button("cmdSettings", QStringLiteral("Settings"), SettingsLeft, ButtonTop);
    m_cmdWaitingCall = button("cmdWaitingCall", QStringLiteral("Start"), StartStopLeft, ButtonTop);
    m_cmdClose = button("cmdClose", QStringLiteral("Exit"), CloseLeft, CloseTop);

    connect(m_cmdSettings, &QPushButton::clicked, this, &frmServer::cmdSettings_Click);
    connect(m_cmdWaitingCall, &QPushButton::clicked, this, &frmServer::cmdWaitingCall_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &frmServer::cmdClose_Click);
}

void frmServer::buildMenu()
{
    m_menu = new QMenu(QStringLiteral("&SysTray"), this);
    m_menu->setObjectName(QStringLiteral("mPopupSys"));
    auto entry = [this](const char *name, const QString &caption, void (frmServer::*slot)()) {
        QAction *action = m_menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QAction *restore =
        entry("mPopRestore", QStringLiteral("&Open Tarvo"), &frmServer::mPopRestore_Click);
    m_menu->addSeparator()->setObjectName(QStringLiteral("mPopSep1"));
    entry("mPopAbout", QStringLiteral("&About..."), &frmServer::mPopAbout_Click);
    m_menu->addSeparator()->setObjectName(QStringLiteral("mPopSep2"));
    entry("mPopExit", QStringLiteral("E&xit"), &frmServer::mPopExit_Click);

    QFont bold = restore->font();
    bold.setBold(true);
    restore->setFont(bold);
    m_menu->setDefaultAction(restore);
}

void frmServer::attachModem(ModemService &modem, LineWait *wait)
{
    m_modem = &modem;
    m_wait = wait;
}

// ---- Operations and what waits for them

void frmServer::runOperation(const std::function<void()> &operation)
{
    OperationScope scope(*this);
    operation();
}

void frmServer::endRunningOperation()
{
    if (m_wait)
        m_wait->requestAbort();
}

void frmServer::deferUntilUnwound(bool &request)
{
    request = true;
    endRunningOperation();
}

void frmServer::askLater(const QString &question, std::function<void()> onYes)
{
    m_asking = true;
    m_prompter.askYesNoLater(question, [this, onYes = std::move(onYes)](bool yes) {
        m_asking = false;
        if (yes)
            onYes();
    });
}

void frmServer::askAboutCallLater(std::function<void(ModemService::CallAnswer)> answered)
{
    if (!m_modem || !m_modem->callUp())
        return answered(ModemService::CallAnswer::Ask);
    m_asking = true;
    m_modem->askHangUpLater([this, answered = std::move(answered)](bool end) {
        m_asking = false;
        answered(end ? ModemService::CallAnswer::EndCall : ModemService::CallAnswer::KeepCall);
    });
}

void frmServer::afterOperations()
{
    auto take = [this](bool &request) {
        if (!request)
            return false;
        request = false;
        if (m_wait)
            m_wait->clearAbort();
        return true;
    };
    if (take(m_lostPending) && m_onPortLost)
        m_onPortLost();
    if (take(m_exitPending)) {
        m_stopPending = false; // the shutdown hangs up anyway
        closeByProgram();
        return;
    }
    if (take(m_stopPending))
        stopServer();
    if (std::exchange(m_settingsPending, false))
        setSettingsEnabled(true);
}

void frmServer::portLost()
{
    if (m_depth > 0) {
        deferUntilUnwound(m_lostPending);
        return;
    }
    if (m_onPortLost)
        m_onPortLost();
}

void frmServer::requestExit()
{
    if (m_unloading || m_exitPending || m_asking)
        return;
    if (m_depth == 0) {
        closeByProgram();
        return;
    }
    askAboutCallLater([this](ModemService::CallAnswer answer) { exitAnswered(answer); });
}

void frmServer::exitAnswered(ModemService::CallAnswer answer)
{
    if (m_unloading || m_exitPending)
        return;
    m_callAnswer = answer;
    if (m_depth == 0) // the operation ended under the question
        closeByProgram();
    else if (answer == ModemService::CallAnswer::KeepCall)
        m_exitPending = true; // once the job has finished
    else
        deferUntilUnwound(m_exitPending);
}

void frmServer::closeByProgram()
{
    m_programClose = true;
    close();
    // close() does nothing more when a close is already under way.
    Form_Unload();
}

void frmServer::stopServer()
{
    const auto answer = std::exchange(m_callAnswer, ModemService::CallAnswer::Ask);
    runOperation([this, answer] {
        if (m_modem)
            m_modem->HangUp(answer);
    });
    setSettingsEnabled(true);
}

// ---- Event handlers

void frmServer::Form_Load()
{
    m_activated = false;
    m_state.PortOpened = false;
    m_state.AutoAnswerOn = false;
    m_state.Connected = false;
    setWindowIcon(TarvoIcon());
    setStartStopCaption(QStringLiteral("Start"));
    setCloseCaption(QStringLiteral("Exit"));
    ClearStatus();
    centreOnScreen();
    show();
    centreOnScreen(); // the frame's size is known now
    m_tip = Title;
    m_tray.setMenu(m_menu);
    m_tray.add(windowIcon(), m_tip);
    updateTitle();
    // Started at log-in, behind other windows, or on a desktop that refuses
    // to hand focus to a new window, the window may never be activated; an
    // unattended server must start its modem all the same.
    QTimer::singleShot(ActivationFallbackMs, this, [this] {
        if (!m_activated && !m_activating && !m_unloading)
            Form_Activate();
    });
}

void frmServer::centreOnScreen()
{
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    const QRect area = target->geometry();
    const QSize outer = frameGeometry().size();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void frmServer::Form_Activate()
{
    QCoreApplication::processEvents();
    if (m_activated || m_activating || m_unloading)
        return;
    m_activating = true;
    WriteLog(Separator);
    const QStringList notes = m_startupCheck ? m_startupCheck() : QStringList();
    for (const QString &note : notes)
        WriteLog(note + QLatin1String(CrLf));
    runOperation([this] {
        if (m_modem)
            m_modem->InitializeModem();
        else
            AppendStatus(QStringLiteral("No modem control is present.") + QLatin1String(CrLf),
                         ColourRed);
    });
    for (const QString &note : notes)
        m_pane->appendText(note + QLatin1String(CrLf), ColourRed);
    m_activated = true;
    m_activating = false;
}

void frmServer::cmdWaitingCall_Click()
{
    if (m_cmdWaitingCall->text() == QLatin1String("Start")) {
        runOperation([this] {
            if (m_modem)
                m_modem->InitializeModem();
        });
        return;
    }
    const QString question = QStringLiteral("Stop ") + Title + QStringLiteral(" ?");
    if (m_depth == 0) {
        if (m_prompter.askYesNo(question))
            stopServer();
        return;
    }
    if (m_asking || m_unloading)
        return;
    askLater(question, [this] {
        askAboutCallLater([this](ModemService::CallAnswer answer) { stopAnswered(answer); });
    });
}

void frmServer::stopAnswered(ModemService::CallAnswer answer)
{
    if (m_unloading)
        return;
    if (answer == ModemService::CallAnswer::KeepCall) {
        // Everything stays as it was; Settings waits for the job to end, so
        // that the job's lists do not change under it.
        if (m_depth == 0)
            setSettingsEnabled(true);
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

void frmServer::cmdSettings_Click()
{
    if (!m_configure || !m_configure(this))
        return;
    ClearStatus();
    AppendStatus(QStringLiteral("Modem Port: COM") + QString::number(m_config.ModemPort) +
                 QLatin1String(CrLf));
}

void frmServer::cmdClose_Click()
{
    if (m_state.PortOpened) {
        hideWindow();
        return;
    }
    mPopExit_Click();
}

void frmServer::mPopRestore_Click()
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    raise();
    activateWindow();
}

void frmServer::mPopAbout_Click()
{
    if (m_about)
        m_about(this);
}

void frmServer::mPopExit_Click()
{
    if (m_unloading || m_exitPending || m_asking)
        return;
    if (m_depth > 0) {
        askLater(exitQuestion(), [this] { requestExit(); });
        return;
    }
    if (ConfirmExit())
        requestExit();
}

bool frmServer::ConfirmExit()
{
    return m_prompter.askYesNo(exitQuestion());
}

void frmServer::Form_Unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    // When the hang-up question is answered No the port stays open; it is
    // released with the line when the process ends.
    // The program being ended by the system asks nobody: a call is ended.
    auto answer = std::exchange(m_callAnswer, ModemService::CallAnswer::Ask);
    if (m_noQuestions)
        answer = ModemService::CallAnswer::EndCall;
    runOperation([this, answer] {
        if (m_modem)
            m_modem->HangUp(answer);
    });
    m_tray.remove();
    m_unloaded = true;
    emit unloaded();
}

void frmServer::shutdownNow()
{
    // Whatever waits for an answer gets No, so that its caller unwinds.
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        dialog->reject();
    if (m_unloading)
        return;
    m_noQuestions = true;
    if (m_depth > 0) {
        deferUntilUnwound(m_exitPending);
        return;
    }
    closeByProgram();
}

// ---- Window events

bool frmServer::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && !m_activated && !m_activating) {
        const bool handled = QWidget::event(e);
        // Outside the activation event itself, so the window is drawn first.
        QTimer::singleShot(0, this, &frmServer::Form_Activate);
        return handled;
    }
    return QWidget::event(e);
}

void frmServer::changeEvent(QEvent *e)
{
    QWidget::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange || !isMinimized())
        return;
    updateTitle();
    if (m_tray.isAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && m_tray.isAvailable())
                hide();
        });
}

void frmServer::closeEvent(QCloseEvent *e)
{
    if (m_unloading) {
        e->accept();
        return;
    }
    // The close box and the system menu ask; the program's own closes and
    // the session ending do not.
    const bool byUser = e->spontaneous() && !m_programClose;
    if (byUser) {
        if (m_state.PortOpened) {
            e->ignore();
            hideWindow();
            return;
        }
        if (m_exitPending || !ConfirmExit()) {
            e->ignore();
            return;
        }
    }
    // Nothing goes away under a running operation, whoever asks.
    if (m_depth > 0) {
        e->ignore();
        requestExit();
        return;
    }
    e->accept();
    Form_Unload();
}

void frmServer::paintEvent(QPaintEvent *e)
{
    QWidget::paintEvent(e);
    QPainter painter(this);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawLine(LineLeft, LineTop, LineRight, LineTop);
    painter.setPen(Qt::white);
    painter.drawLine(LineLeft, LineTop + 1, LineRight, LineTop + 1);
}

void frmServer::hideWindow()
{
    updateTitle();
    if (m_tray.isAvailable())
        hide();
    else
        showMinimized();
}

void frmServer::updateTitle()
{
    setWindowTitle(m_tray.isAvailable() ? Title : m_tip);
}

// ---- Reporter

QString frmServer::tipText(const QString &state)
{
    return (Title + QStringLiteral(" - ") + state).left(MaxTipLength);
}

void frmServer::AppendStatus(const QString &text, std::uint32_t colour)
{
    m_pane->appendText(text, colour);
    WriteLog(text);
}

void frmServer::ClearStatus()
{
    m_pane->clearText();
}

void frmServer::WriteLog(const QString &text)
{
    m_log.WriteLog(text);
}

void frmServer::SetTrayTip(const QString &state)
{
    m_tip = tipText(state);
    if (!m_unloaded)
        m_tray.setTip(m_tip);
    updateTitle();
}

// ---- ServerControls

void frmServer::setStartStopCaption(const QString &caption)
{
    m_cmdWaitingCall->setText(caption);
}

void frmServer::setStartStopEnabled(bool enabled)
{
    m_cmdWaitingCall->setEnabled(enabled);
}

void frmServer::setCloseCaption(const QString &caption)
{
    m_cmdClose->setText(caption);
}

void frmServer::setSettingsEnabled(bool enabled)
{
    m_cmdSettings->setEnabled(enabled);
}

void frmServer::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    m_pane->setBusyPointer(busy);
}

} // namespace Tarvo
