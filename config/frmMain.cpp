#include "frmMain.h"

#include "EntryEditor.h"
#include "FileChooser.h"
#include "PathHelpers.h"
#include "Prompter.h"
#include "ServicePaths.h"
#include "SettingsStore.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace Tarvo {

bool SettingsAccepted = false;

namespace {
const QString NoDownloadsMessage =
    QStringLiteral("No download file has been defined. Please add files.");
const QString NoUploadsMessage =
    QStringLiteral("No upload file has been defined. Please add files.");

template <typename Widget> Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton *listButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = named(new QPushButton(text, parent), name);
    // Enter presses the button that has the focus; elsewhere it goes to OK.
    button->setAutoDefault(true);
    return button;
}

// Slots behind k move up by one; the last slot in use is cleared.
template <typename Entry> void removeSlot(std::array<Entry, MaxEntries> &table, int count, int k)
{
    for (int i = k; i < count - 1; ++i)
        table[i] = table[i + 1];
    table[count - 1] = Entry{};
}

template <typename Entry>
QStringList leadingNames(const std::array<Entry, MaxEntries> &table, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names += table[i].Name;
    return names;
}
} // namespace

frmMain::frmMain(Configuration &model, SettingsAccess &store, Prompter &prompter,
                 EntryEditor &editor, QWidget *parent)
    : QDialog(parent), m_model(model), m_store(store), m_prompter(prompter), m_editor(editor)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tarvo Configuration"));
    buildControls();
    Form_Load();
}

void frmMain::buildControls()
{
    TabStrip1 = named(new QTabWidget(this), "TabStrip1");
    TabStrip1->addTab(buildGeneralPage(), QStringLiteral("General"));
    TabStrip1->addTab(
        buildListPage(m_downloads, QStringLiteral("Define files to send to portable:"), "ListDnlds",
                      "cmdAddDnldFile", "cmdEditDnldFile", "cmdRmvDnldFile", "lblOpenFrom",
                      QStringLiteral("Open from:"), "lblOpenPath"),
        QStringLiteral("Download"));
    TabStrip1->addTab(
        buildListPage(m_uploads, QStringLiteral("Define files to receive from portable:"),
                      "ListUplds", "cmdAddUpldFile", "cmdEditUpldFile", "cmdRmvUpldFile",
                      "lblSaveAs", QStringLiteral("Save as:"), "lblSavePath"),
        QStringLiteral("Upload"));

    cmdOK = named(new QPushButton(QStringLiteral("OK"), this), "cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = listButton(this, "cmdCancel", QStringLiteral("Cancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TabStrip1);
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &frmMain::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
    connect(cboModemPort, &QComboBox::currentIndexChanged, this, &frmMain::cboModemPort_Click);
    connect(m_downloads.add, &QPushButton::clicked, this, &frmMain::cmdAddDnldFile_Click);
    connect(m_downloads.edit, &QPushButton::clicked, this, &frmMain::cmdEditDnldFile_Click);
    connect(m_downloads.remove, &QPushButton::clicked, this, &frmMain::cmdRmvDnldFile_Click);
    connect(m_downloads.list, &QListWidget::itemSelectionChanged, this, &frmMain::ListDnlds_Click);
    connect(m_downloads.list, &QListWidget::itemDoubleClicked, this,
            &frmMain::cmdEditDnldFile_Click);
    connect(m_uploads.add, &QPushButton::clicked, this, &frmMain::cmdAddUpldFile_Click);
    connect(m_uploads.edit, &QPushButton::clicked, this, &frmMain::cmdEditUpldFile_Click);
    connect(m_uploads.remove, &QPushButton::clicked, this, &frmMain::cmdRmvUpldFile_Click);
    connect(m_uploads.list, &QListWidget::itemSelectionChanged, this, &frmMain::ListUplds_Click);
    connect(m_uploads.list, &QListWidget::itemDoubleClicked, this, &frmMain::cmdEditUpldFile_Click);

    // Ctrl+Tab must work whichever control has the focus.
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
    installEventFilter(this);

    // A fixed window: long paths are clipped in their label, never resize it.
    setFixedSize(sizeHint().expandedTo(QSize(440, 300)));
}

QWidget *frmMain::buildGeneralPage()
{
    auto *page = named(new QWidget, "Frames0");
    cboModemPort = named(new QComboBox(page), "cboModemPort");
    cboModemPort->addItems({QStringLiteral("Com1"), QStringLiteral("Com2"), QStringLiteral("Com3"),
                            QStringLiteral("Com4")});
    lblPortDevice = named(new QLabel(page), "lblPortDevice");
    QFont small = lblPortDevice->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    lblPortDevice->setFont(small);
    cboResponsibility = named(new QComboBox(page), "cboResponsibility");
    cboResponsibility->addItems({QStringLiteral("Download only"), QStringLiteral("Upload only"),
                                 QStringLiteral("Both download & upload")});

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Select modem port"), page));
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(cboModemPort);
    portRow->addWidget(lblPortDevice);
    portRow->addStretch(1);
    layout->addLayout(portRow);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Job"), page));
    auto *jobRow = new QHBoxLayout;
    jobRow->addWidget(cboResponsibility);
    jobRow->addStretch(1);
    layout->addLayout(jobRow);
    layout->addStretch(1);
    return page;
}

QWidget *frmMain::buildListPage(ListPage &controls, const QString &heading, const char *listName,
                                const char *addName, const char *editName, const char *removeName,
                                const char *captionName, const QString &caption,
                                const char *pathName)
{
    auto *page = new QWidget;
    controls.list = named(new QListWidget(page), listName);
    controls.list->setSelectionMode(QAbstractItemView::SingleSelection);
    controls.add = listButton(page, addName, QStringLiteral("Add"));
    controls.edit = listButton(page, editName, QStringLiteral("Edit"));
    controls.remove = listButton(page, removeName, QStringLiteral("Remove"));
    controls.pathCaption = named(new QLabel(caption, page), captionName);
    controls.pathLabel = named(new QLabel(page), pathName);
    // Hidden labels keep their room, so the list does not jump on selection.
    for (QLabel *label : {controls.pathCaption, controls.pathLabel}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        label->setSizePolicy(policy);
    }

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(controls.add);
    buttons->addWidget(controls.edit);
    buttons->addWidget(controls.remove);
    buttons->addStretch(1);
    auto *listRow = new QHBoxLayout;
    listRow->addWidget(controls.list, 1);
    listRow->addLayout(buttons);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(heading, page));
    layout->addLayout(listRow);
    layout->addWidget(controls.pathCaption);
    layout->addWidget(controls.pathLabel);
    return page;
}

void frmMain::Form_Load()
{
    m_store.LoadSettings(m_model);
    // Values the lists cannot show open as the defaults.
    cboModemPort->setCurrentIndex(SettingsStore::isValidPort(m_model.ModemPort)
                                      ? m_model.ModemPort - 1
                                      : SettingsStore::DefaultModemPort - 1);
    cboModemPort_Click();
    cboResponsibility->setCurrentIndex(SettingsStore::isValidJob(m_model.JobType)
                                           ? m_model.JobType
                                           : SettingsStore::DefaultJobType);

    m_model.deriveCounts();
    fillList(m_downloads, leadingNames(m_model.DownloadList, m_model.DownloadCount));
    fillList(m_uploads, leadingNames(m_model.UploadList, m_model.UploadCount));

    SettingsAccepted = false;
    TabStrip1->setCurrentIndex(GeneralTab);
}

void frmMain::fillList(ListPage &page, const QStringList &names)
{
    page.list->clear();
    page.list->addItems(names);
    updateAddButton(page, page.list->count());
    showNoSelection(page);
}

void frmMain::showNoSelection(ListPage &page)
{
    page.list->selectionModel()->clear();
    page.edit->setEnabled(false);
    page.remove->setEnabled(false);
    page.pathCaption->hide();
    page.pathLabel->hide();
}

void frmMain::showSelection(ListPage &page, const QString &path)
{
    page.pathLabel->setText(path);
    page.pathLabel->setToolTip(path);
    page.pathCaption->show();
    page.pathLabel->show();
    page.edit->setEnabled(true);
    page.remove->setEnabled(true);
}

void frmMain::updateAddButton(ListPage &page, int count)
{
    page.add->setEnabled(count < MaxEntries);
}

int frmMain::selectedRow(const ListPage &page) const
{
    const QList<QListWidgetItem *> selected = page.list->selectedItems();
    return selected.isEmpty() ? -1 : page.list->row(selected.first());
}

void frmMain::cboModemPort_Click()
{
    const QString device = m_store.portDevice(cboModemPort->currentIndex() + 1);
    lblPortDevice->setText(device);
    cboModemPort->setToolTip(
        QStringLiteral("%1 is %2 on this machine").arg(cboModemPort->currentText(), device));
}

void frmMain::ListDnlds_Click()
{
    const int k = selectedRow(m_downloads);
    if (k >= 0)
        showSelection(m_downloads, m_model.DownloadList[k].OpenFrom);
}

void frmMain::ListUplds_Click()
{
    const int k = selectedRow(m_uploads);
    if (k >= 0)
        showSelection(m_uploads, m_model.UploadList[k].SaveAs);
}

void frmMain::cmdAddDnldFile_Click()
{
    if (m_model.DownloadCount >= MaxEntries)
        return;
    DownloadEditHandOver handOver;
    m_editor.editDownload(this, handOver);
    if (!handOver.DownloadEditAccepted)
        return;
    m_downloads.list->addItem(handOver.DownloadEditEntry.Name);
    m_model.DownloadList[m_model.DownloadCount] = handOver.DownloadEditEntry;
    m_model.DownloadCount = static_cast<std::int16_t>(m_downloads.list->count());
    updateAddButton(m_downloads, m_model.DownloadCount);
    showNoSelection(m_downloads);
}

void frmMain::cmdAddUpldFile_Click()
{
    if (m_model.UploadCount >= MaxEntries)
        return;
    UploadEditHandOver handOver;
    m_editor.editUpload(this, handOver);
    if (!handOver.UploadEditAccepted)
        return;
    m_uploads.list->addItem(handOver.UploadEditEntry.Name);
    m_model.UploadList[m_model.UploadCount] = handOver.UploadEditEntry;
    m_model.UploadCount = static_cast<std::int16_t>(m_uploads.list->count());
    updateAddButton(m_uploads, m_model.UploadCount);
    showNoSelection(m_uploads);
}

void frmMain::cmdEditDnldFile_Click()
{
    const int k = selectedRow(m_downloads);
    if (k < 0)
        return;
    DownloadEditHandOver handOver{m_model.DownloadList[k]};
    m_editor.editDownload(this, handOver);
    if (!handOver.DownloadEditAccepted)
        return;
    m_model.DownloadList[k] = handOver.DownloadEditEntry;
    m_downloads.list->item(k)->setText(handOver.DownloadEditEntry.Name);
    m_downloads.list->setCurrentRow(k);
    showSelection(m_downloads, m_model.DownloadList[k].OpenFrom);
}

void frmMain::cmdEditUpldFile_Click()
{
    const int k = selectedRow(m_uploads);
    if (k < 0)
        return;
    UploadEditHandOver handOver{m_model.UploadList[k]};
    m_editor.editUpload(this, handOver);
    if (!handOver.UploadEditAccepted)
        return;
    m_model.UploadList[k] = handOver.UploadEditEntry;
    m_uploads.list->item(k)->setText(handOver.UploadEditEntry.Name);
    m_uploads.list->setCurrentRow(k);
    showSelection(m_uploads, m_model.UploadList[k].SaveAs);
}

template <typename Entry>
void frmMain::removeSelected(ListPage &page, std::array<Entry, MaxEntries> &table,
                             std::int16_t &count)
{
    const int k = selectedRow(page);
    if (k < 0 || !m_prompter.askYesNo(QStringLiteral("Remove ") + page.list->item(k)->text() +
                                      QStringLiteral(" from list?")))
        return;
    {
        // The selection handler must not look at the table halfway through.
        const QSignalBlocker blocker(page.list);
        delete page.list->takeItem(k);
        removeSlot(table, count, k);
        count = static_cast<std::int16_t>(page.list->count());
        showNoSelection(page);
    }
    updateAddButton(page, count);
}

void frmMain::cmdRmvDnldFile_Click()
{
    removeSelected(m_downloads, m_model.DownloadList, m_model.DownloadCount);
}

void frmMain::cmdRmvUpldFile_Click()
{
    removeSelected(m_uploads, m_model.UploadList, m_model.UploadCount);
}

bool frmMain::refuseEmptyList(const QString &message, int tab)
{
    m_prompter.inform(message);
    if (TabStrip1->currentIndex() != tab)
        TabStrip1->setCurrentIndex(tab);
    return false;
}

bool frmMain::listsDefined()
{
    const int job = m_model.JobType;
    const bool needsDownloads = job == DownloadOnly || job == DownloadAndUpload;
    const bool needsUploads = job == UploadOnly || job == DownloadAndUpload;
    if (needsDownloads && m_model.DownloadCount == 0)
        return refuseEmptyList(NoDownloadsMessage, DownloadTab);
    if (needsUploads && m_model.UploadCount == 0)
        return refuseEmptyList(NoUploadsMessage, UploadTab);
    return true;
}

void frmMain::cmdOK_Click()
{
    // The job is taken even when the check below refuses the OK.
    m_model.JobType = static_cast<std::int16_t>(cboResponsibility->currentIndex());
    if (!listsDefined())
        return;
    m_model.ModemPort = static_cast<std::int16_t>(cboModemPort->currentIndex() + 1);
    // A server that runs without anybody logged in is given paths it can reach.
    if (m_store.readByService() &&
        !reviewServicePaths(m_model, m_driveShares(entryPaths(m_model)), m_prompter, m_pathStyle))
        return;
    // Said, not refused: the entries are the user's to keep as typed. A name
    // typed into the store by hand is said here, before the call refuses it.
    if (const QStringList collisions = backupCollisions(m_model) + nameRefusals(m_model);
        !collisions.isEmpty())
        m_prompter.inform(collisions.join(QLatin1Char('\n')));
    // A store that cannot be written is said, and the window stays: OK must not pass for saved.
    if (QString error; !m_store.SaveSettings(m_model, error)) {
        m_prompter.warn(QStringLiteral("The settings cannot be saved to %1: %2")
                            .arg(QDir::toNativeSeparators(m_store.location()), error));
        return;
    }
    SettingsAccepted = true;
    accept();
}

void frmMain::cmdCancel_Click()
{
    SettingsAccepted = false;
    reject();
}

void frmMain::selectNextTab()
{
    TabStrip1->setCurrentIndex((TabStrip1->currentIndex() + 1) % TabStrip1->count());
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool tabKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tabKey && key->modifiers() == Qt::ControlModifier) {
            selectNextTab();
            return true;
        }
        // The tab widget would page backwards on Ctrl+Shift+Tab; this window
        // gives that key no meaning.
        if (tabKey && (key->modifiers() & Qt::ControlModifier))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmMain::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *display = screen())
        move(display->availableGeometry().center() - rect().center());
}

bool showConfigurationWindow(QWidget *parent, Configuration &model, SettingsAccess &store,
                             Prompter &prompter)
{
    QFileDialogChooser chooser(prompter);
    DialogEntryEditor editor(chooser, prompter);
    frmMain window(model, store, prompter, editor, parent);
    window.exec();
    return SettingsAccepted;
}

} // namespace Tarvo
