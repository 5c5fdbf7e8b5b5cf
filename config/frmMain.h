// The configuration window "Tarvo Configuration": modem port and job on the
// General page, the download and upload lists on their own pages.
//
// The window works on the shared model in place. Opening it reloads the model
// from the store and derives the list counts; Add, Edit and Remove change the
// model at once (the entry dialogs run through an EntryEditor); OK takes the
// job first, refuses an empty list the job needs (with a notice and a switch
// to that list's page), and only then takes the port and saves everything,
// with a notice first when two upload entries would destroy each other's
// backups or an entry's portable name would be refused at the call (saved
// as typed all the same). A save that fails is said with the
// system's reason and keeps the window open, SettingsAccepted False.
// Cancel saves nothing and restores nothing. SettingsAccepted tells the
// caller whether a validated OK closed the window.
//
// When the settings are a service's (SettingsAccess::readByService), OK
// also refuses relative paths and offers the network path for one on a
// mapped drive (ServicePaths.h), before anything is saved.
//
// A stored port or job the drop-down lists cannot show opens as the default
// (Com1, "Both download & upload"), so the next OK saves a valid value.
// Ctrl+Tab anywhere in the window moves to the next page, wrapping round.
#pragma once

#include "Configuration.h"
#include "ServicePaths.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace Tarvo {

class EntryEditor;
class Prompter;
class SettingsAccess;

// True only after the window was closed by an OK that passed validation and
// saved the model.
extern bool SettingsAccepted;

class frmMain final : public QDialog
{
    Q_OBJECT
public:
    static constexpr int GeneralTab = 0;
    static constexpr int DownloadTab = 1;
    static constexpr int UploadTab = 2;

    frmMain(Configuration &model, SettingsAccess &store, Prompter &prompter, EntryEditor &editor,
            QWidget *parent = nullptr);

    // How service paths are judged: this platform's paths and the drives
    // mapped in this session, unless tests say otherwise.
    using DriveLookup = std::function<DriveShares(const QStringList &paths)>;
    void setPathRules(PathStyle style, DriveLookup lookup)
    {
        m_pathStyle = style;
        m_driveShares = std::move(lookup);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    void cboModemPort_Click();
    void cmdAddDnldFile_Click();
    void cmdEditDnldFile_Click();
    void cmdRmvDnldFile_Click();
    void ListDnlds_Click();
    void cmdAddUpldFile_Click();
    void cmdEditUpldFile_Click();
    void cmdRmvUpldFile_Click();
    void ListUplds_Click();

private:
    // The controls of one list page; the two pages are twins.
    struct ListPage
    {
        QListWidget *list = nullptr;
        QPushButton *add = nullptr;
        QPushButton *edit = nullptr;
        QPushButton *remove = nullptr;
        QLabel *pathCaption = nullptr;
        QLabel *pathLabel = nullptr;
    };

    void buildControls();
    QWidget *buildGeneralPage();
    QWidget *buildListPage(ListPage &page, const QString &heading, const char *listName,
                           const char *addName, const char *editName, const char *removeName,
                           const char *captionName, const QString &caption, const char *pathName);
    void Form_Load();

    void fillList(ListPage &page, const QStringList &names);
    void showNoSelection(ListPage &page);
    void showSelection(ListPage &page, const QString &path);
    void updateAddButton(ListPage &page, int count);
    int selectedRow(const ListPage &page) const;
    // Asks, then removes the selected entry from the page and its table.
    template <typename Entry>
    void removeSelected(ListPage &page, std::array<Entry, MaxEntries> &table, std::int16_t &count);
    bool listsDefined();
    bool refuseEmptyList(const QString &message, int tab);
    void selectNextTab();

    Configuration &m_model;
    SettingsAccess &m_store;
    Prompter &m_prompter;
    EntryEditor &m_editor;
    PathStyle m_pathStyle = nativePathStyle();
    DriveLookup m_driveShares = &mappedDrives;

    QTabWidget *TabStrip1 = nullptr;
    QComboBox *cboModemPort = nullptr;
    QLabel *lblPortDevice = nullptr;
    QComboBox *cboResponsibility = nullptr;
    ListPage m_downloads;
    ListPage m_uploads;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};

// Shows the configuration window modally with the file dialogs of the
// platform and returns SettingsAccepted.
bool showConfigurationWindow(QWidget *parent, Configuration &model, SettingsAccess &store,
                             Prompter &prompter);

} // namespace Tarvo
