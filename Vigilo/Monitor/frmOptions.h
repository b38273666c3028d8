#pragma once
// The monitor's "Options" dialog: the user's profile ("My Information"), the
// monitor's and the message-taking settings, and product information. In
// first-profile mode it only creates the profile.
#include "Shared/modUser.h"

#include <QDialog>
#include <QStringView>
#include <memory>

namespace Ui {
class frmOptions;
}

namespace kv::vigilo {

class MonitorStore;

// The monitor's flags that the dialog edits and the monitor reads back.
struct MonitorFlags {
    bool soundOn = true;
    QString ringFile;
    bool autoAnswer = false;
    bool autoIgnore = false;
    int alwaysOnTop = 0;
};

namespace optionstext {
inline constexpr QStringView NoUserName = u"You must supply a Username.";
inline constexpr QStringView StandardContactsFound =
    u"Standard Outlook contacts were found in this folder.\r\rWould you like to update these contacts to "
    u"Kivara "
    u"contacts ?";
inline constexpr QStringView UpdatedBefore = u"The '";
inline constexpr QStringView UpdatedAfter = u"' contacts were updated successfully.";
inline constexpr QStringView DefaultFolderBefore =
    u"The default Outlook folder for your Kivara contacts is now '";
inline constexpr QStringView DefaultFolderAfter = u"'.";
inline constexpr QStringView FolderRowBefore = u"'";
inline constexpr QStringView FolderRowAfter = u"' folder";
inline constexpr QStringView SoundDialogTitle = u"Select Sound File...";
inline constexpr QStringView SoundFilter = u"Sound Files (*.wav)|*.wav|All Files (*.*)|*.*";
inline constexpr QStringView CouldNotOpen = u"Could not open ";
inline constexpr QStringView SupportPage = u"http://www.kivara.com/support";
inline constexpr QStringView UnknownUser = u"Unknown";
} // namespace optionstext

// The tab strip's boundaries, in twips from its left edge.
inline constexpr int TabBoundary1 = 1230;
inline constexpr int TabBoundary2 = 1935;
inline constexpr int TabBoundary3 = 2535;
inline constexpr int TwipsPerInch = 1440;

// The desktop's start entry for the monitor: ~/.config/autostart/vigilo.desktop.
QString AutostartFilePath();
// The "Run" value "Vigilo" with the program's path, and the start entry beside
// it; both removed when off.
void WriteRunEntry(bool on);

class frmOptions : public QDialog {
    Q_OBJECT
public:
    static constexpr QStringView Success = u"SUCCESS";
    static constexpr QStringView Failure = u"FAILURE";

    frmOptions(bool firstProfile, const QString& localAddress, MonitorFlags& flags, MonitorStore& store,
               QWidget* parent = nullptr);
    ~frmOptions() override;

    // Shows the dialog modally (through the prompt service); the result text.
    static QString Run(bool firstProfile, const QString& localAddress, MonitorFlags& flags,
                       MonitorStore& store, QWidget* parent);

    // The tab for a press at x twips inside the strip; -1 beyond the tabs.
    static int TabForTwips(int x);
    void SelectTab(int tab);
    int currentTab() const;

    QString resultText() const { return m_result; }
    bool profileChanged() const { return m_profileChanged; }
    bool settingsChanged() const { return m_settingsChanged; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void fillFolders();
    void drawTabs();
    void watchChanges();
    void onOk();
    void onCancel();
    void applyFolder();
    void saveSettings();
    void openLink(int index);

    std::unique_ptr<Ui::frmOptions> ui;
    bool m_firstProfile;
    QString m_localAddress;
    MonitorFlags& m_flags;
    MonitorStore& m_store;
    ProfileRecord m_profile;
    QString m_result;
    bool m_profileChanged = false;
    bool m_settingsChanged = false;
};

} // namespace kv::vigilo
