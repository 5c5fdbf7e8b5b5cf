#include "frmServer.h"

#include "AppIcon.h"
#include "AppVersion.h"
#include "Configuration.h"
#include "LogFile.h"
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

namespace Tarvo {

namespace {

const QString Title = QString::fromLatin1(AppVersion::Title);

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

frmServer::frmServer(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
                     const Configuration &config, ConfigureStep configure, AboutStep about,
                     QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_state(state), m_log(log), m_tray(tray), m_config(config), m_configure(std::move(configure)),
      m_about(std::move(about)), m_operations(prompter, *this), m_tip(Title)
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

// ---- Event handlers

void frmServer::Form_Load()
{
    m_state.PortOpened = false;
    m_state.AutoAnswerOn = false;
    m_state.Connected = false;
    setWindowIcon(tarvoIcon());
    setStartStop(StartStop::Start);
    setCloseCaption(QStringLiteral("Exit"));
    clearStatus();
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
        if (m_operations.activationDue())
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
    if (!m_operations.beginActivation())
        return;
    WriteLog(Separator);
    const QStringList notes = m_startupNotes + (m_startupCheck ? m_startupCheck() : QStringList());
    for (const QString &note : notes)
        WriteLog(note + QLatin1String(CrLf));
    m_operations.runOperation([this] {
        if (!m_operations.startAtActivation())
            AppendStatus(QStringLiteral("No modem control is present.") + QLatin1String(CrLf),
                         ColourRed);
    });
    for (const QString &note : notes)
        m_pane->appendText(note + QLatin1String(CrLf), ColourRed);
    m_operations.endActivation();
}

void frmServer::cmdWaitingCall_Click()
{
    m_operations.startStopClicked();
}

void frmServer::cmdSettings_Click()
{
    if (!m_configure)
        return;
    m_configuring = true;
    const bool accepted = m_configure(this);
    m_configuring = false;
    if (!accepted)
        return;
    clearStatus();
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
    m_operations.exitChosen();
}

bool frmServer::ConfirmExit()
{
    return m_operations.confirmExit();
}

void frmServer::closeByProgram()
{
    m_programClose = true;
    close();
    // close() does nothing more when a close is already under way.
    Form_Unload();
}

void frmServer::Form_Unload()
{
    if (!m_operations.unload())
        return;
    m_tray.remove();
    m_unloaded = true;
    emit unloaded();
}

void frmServer::shutdownNow(const QString &reason)
{
    if (m_unloaded || std::exchange(m_endedNow, true))
        return;
    if (!reason.isEmpty())
        AppendStatus(QLatin1String(CrLf) + reason + QLatin1String(CrLf));
    // Whatever waits for an answer gets No, so that its caller unwinds.
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        dialog->reject();
    if (m_endNow)
        m_endNow();
    m_operations.shutdown();
}

// ---- Window events

bool frmServer::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && m_operations.activationDue()) {
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
    if (m_operations.unloading()) {
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
        if (m_operations.exitPending() || !ConfirmExit()) {
            e->ignore();
            return;
        }
    }
    // Nothing goes away under a running operation, whoever asks.
    if (m_operations.operationRunning()) {
        e->ignore();
        m_operations.requestExit();
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

void frmServer::clearStatus()
{
    m_pane->clearText();
}

void frmServer::WriteLog(const QString &text)
{
    m_log.WriteLog(text);
    // Where the log went, once: in the pane, which is always there.
    const QString notice = m_log.takeNotice();
    if (!notice.isEmpty())
        m_pane->appendText((text.endsWith(QLatin1String(CrLf)) ? QString() : QString(CrLf)) +
                               notice + QLatin1String(CrLf),
                           ColourRed);
}

void frmServer::SetTrayTip(const QString &state)
{
    TrayState = state;
    m_tip = tipText(TrayState);
    if (!m_unloaded)
        m_tray.setTip(m_tip);
    updateTitle();
}

// ---- ServerControls

void frmServer::setStartStop(StartStop action)
{
    const bool stop = action == StartStop::Stop;
    m_cmdWaitingCall->setText(stop ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_operations.setStopOffered(stop);
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
