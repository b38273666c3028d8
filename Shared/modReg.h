#pragma once
// Settings store: string values under the product key of the current user,
// read one at a time with a caller-given default, and the catalogue of every
// value the product keeps.
#include "Platform/Registry.h"

#include <QString>
#include <array>

namespace kv {

using platform::RegRoot;

// "Software\Brindlewood\Kivara\" + subkey.
inline constexpr QStringView ProductKey = u"Software\\Brindlewood\\Kivara\\";
// Values read into a buffer of this many bytes, NUL included.
inline constexpr int SettingBufferSize = 255;

QString ReadSetting(const QString& subkey, const QString& name, const QString& defaultValue);
int WriteSetting(const QString& subkey, const QString& name, const QString& value);
QString ReadKeyValue(RegRoot root, const QString& keyPath, const QString& name, const QString& defaultValue);
int WriteKeyValue(RegRoot root, const QString& keyPath, const QString& name, const QString& value);
// 0 on success; the platform's error code (2: not found) otherwise.
int DeleteKeyValue(RegRoot root, const QString& keyPath, const QString& name);
// Removes a key with its subtree (the uninstaller's cleanup). 0 or 2 when absent.
int DeleteKey(RegRoot root, const QString& keyPath);

inline constexpr int ErrorFileNotFound = 2;

// ---- Catalogue -------------------------------------------------------------

enum class Deliverable { Vigilo, Quillon, Dorvan, Tallyo };

enum class DefaultBase {
    None,             // the default text as it stands
    InstallDir,       // Settings\InstallDir + the default text
    InstalledSerial,  // the value of Settings\SerialNum
    DownloadFolder,   // the user's download folder, where received files are looked for
};

struct SettingSpec {
    QStringView subkey;
    QStringView name;
    QStringView defaultValue;
    DefaultBase base = DefaultBase::None;
    // Deliverables whose default differs from defaultValue.
    struct Override {
        Deliverable who;
        QStringView value;
    };
    std::array<Override, 2> overrides{};
    int overrideCount = 0;
};

// The default text that deliverable `who` passes for this value.
QString SettingDefault(Deliverable who, const SettingSpec& spec);
// ReadSetting with the catalogue's subkey, name and the deliverable's default.
QString ReadSetting(Deliverable who, const SettingSpec& spec);
int WriteSetting(const SettingSpec& spec, const QString& value);
// A flag: any non-zero integer is on.
bool ReadFlag(Deliverable who, const SettingSpec& spec);

namespace subkeys {
inline constexpr QStringView Settings = u"Settings";
inline constexpr QStringView Profile = u"Profile";
inline constexpr QStringView Vigilo = u"Vigilo";
} // namespace subkeys

namespace settings {
using D = Deliverable;
// Subkey "Settings"
inline constexpr SettingSpec InstallDir{subkeys::Settings, u"InstallDir", u""};
inline constexpr SettingSpec SerialNum{subkeys::Settings, u"SerialNum", u""};
inline constexpr SettingSpec Service{subkeys::Settings, u"Service", u"Personal Folders", DefaultBase::None,
                                     {{{D::Dorvan, u""}}}, 1};
inline constexpr SettingSpec Folder{subkeys::Settings, u"Folder", u"Kivara", DefaultBase::None,
                                    {{{D::Dorvan, u""}}}, 1};
inline constexpr SettingSpec FirstRun{subkeys::Settings, u"FirstRun", u"1"};
inline constexpr SettingSpec AutoAdd{subkeys::Settings, u"AutoAdd", u"0"};
inline constexpr SettingSpec EnterMsg{subkeys::Settings, u"EnterMsg", u""};
inline constexpr SettingSpec LeaveMsg{subkeys::Settings, u"LeaveMsg", u""};
inline constexpr SettingSpec AutoEnter{subkeys::Settings, u"AutoEnter", u"0"};
inline constexpr SettingSpec AcceptFiles{subkeys::Settings, u"AcceptFiles", u"0"};
inline constexpr SettingSpec FileFolder{subkeys::Settings, u"FileFolder", u"", DefaultBase::DownloadFolder};
inline constexpr SettingSpec StatusBar{subkeys::Settings, u"StatusBar", u"1"};
inline constexpr SettingSpec ShowUsers{subkeys::Settings, u"ShowUsers", u"1"};
inline constexpr SettingSpec FontName{subkeys::Settings, u"FontName", u"Tahoma"};
inline constexpr SettingSpec FontSize{subkeys::Settings, u"FontSize", u"0"};
inline constexpr SettingSpec MyColor{subkeys::Settings, u"MyColor", u"0"};
inline constexpr SettingSpec UseOthers{subkeys::Settings, u"UseOthers", u"0"};
inline constexpr SettingSpec OthersColor{subkeys::Settings, u"OthersColor", u"8388608"};
inline constexpr SettingSpec UseCallSnd{subkeys::Settings, u"UseCallSnd", u"1"};
inline constexpr SettingSpec CallFile{subkeys::Settings, u"CallFile", u"trillo.wav", DefaultBase::InstallDir};
inline constexpr SettingSpec UseAttnSnd{subkeys::Settings, u"UseAttnSnd", u"1"};
inline constexpr SettingSpec AttnFile{subkeys::Settings, u"AttnFile", u"pingoa1.wav", DefaultBase::InstallDir};
inline constexpr SettingSpec KeepHistory{subkeys::Settings, u"KeepHistory", u"1"};

// Subkey "Profile"
inline constexpr SettingSpec FullName{subkeys::Profile, u"FullName", u""};
inline constexpr SettingSpec Company{subkeys::Profile, u"Company", u""};
inline constexpr SettingSpec Email{subkeys::Profile, u"Email", u""};
inline constexpr SettingSpec City{subkeys::Profile, u"City", u""};
inline constexpr SettingSpec State{subkeys::Profile, u"State", u""};
inline constexpr SettingSpec Country{subkeys::Profile, u"Country", u""};
inline constexpr SettingSpec Comment{subkeys::Profile, u"Comment", u""};
inline constexpr SettingSpec ChatName{subkeys::Profile, u"ChatName", u""};
inline constexpr SettingSpec UserStatus{subkeys::Profile, u"UserStatus", u""};
inline constexpr SettingSpec IPAddress{subkeys::Profile, u"IPAddress", u""};
inline constexpr SettingSpec LocalPort{subkeys::Profile, u"LocalPort", u"8086"};
inline constexpr SettingSpec ProfileSerialNum{subkeys::Profile, u"SerialNum", u"", DefaultBase::InstalledSerial};
inline constexpr SettingSpec ChatType{subkeys::Profile, u"ChatType", u"1"};
inline constexpr SettingSpec PrivateInfo{subkeys::Profile, u"PrivateInfo", u"0"};

// Subkey "Vigilo"
inline constexpr SettingSpec Left{subkeys::Vigilo, u"Left", u"0"};
inline constexpr SettingSpec Top{subkeys::Vigilo, u"Top", u"0"};
inline constexpr SettingSpec UseMonSnd{subkeys::Vigilo, u"UseMonSnd", u"-1"};
inline constexpr SettingSpec MonitorSnd{subkeys::Vigilo, u"MonitorSnd", u"trillo.wav", DefaultBase::InstallDir};
inline constexpr SettingSpec AutoAnswer{subkeys::Vigilo, u"AutoAnswer", u"0"};
inline constexpr SettingSpec AutoIgnore{subkeys::Vigilo, u"AutoIgnore", u"0"};
inline constexpr SettingSpec AlwaysOnTop{subkeys::Vigilo, u"AlwaysOnTop", u"0"};
inline constexpr SettingSpec AutoStart{subkeys::Vigilo, u"AutoStart", u"1"};
inline constexpr SettingSpec Messages{subkeys::Vigilo, u"Messages", u"1", DefaultBase::None,
                                      {{{D::Quillon, u"0"}}}, 1};
inline constexpr SettingSpec MsgFolder{subkeys::Vigilo, u"MsgFolder", u"Messages"};
inline constexpr SettingSpec MsgBeep{subkeys::Vigilo, u"MsgBeep", u"1"};
inline constexpr SettingSpec MsgPrompt{subkeys::Vigilo, u"MsgPrompt", u"0"};
} // namespace settings

// Values outside the product key.
inline constexpr QStringView RunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr QStringView RunValue = u"Vigilo";
inline constexpr QStringView TodayKey = u"Software\\Microsoft\\Office\\8.0\\Outlook\\Today";
inline constexpr QStringView TodayUrlValue = u"Url";
// The Today page that hosts the counter: "res://" + InstallDir + "pellum.dll/Outlook.htm".
QString TodayPageUrl(const QString& installDir);
inline constexpr QStringView NameServerKey = platform::Registry::NameServerKey;
inline constexpr QStringView NameServerValue = platform::Registry::NameServerValue;
// Keys the installer creates and the uninstaller removes.
inline constexpr QStringView CompanyKey = u"Software\\Brindlewood";
inline constexpr QStringView PeerslipExtensionKey = u".kvp";
inline constexpr QStringView PeerslipClassKey = u"Kivara.Peerslip";
inline constexpr QStringView UninstallKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kivara";
inline constexpr QStringView AppPathsKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Vigilo.exe";

} // namespace kv
