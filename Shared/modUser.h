#pragma once
// The user's profile: its registry form, its Peerslip file and its text forms.
#include "Shared/modReg.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

class StoreAccess;

inline constexpr int DefaultLocalPort = 8086;
inline constexpr int PeerslipRecordSize = 256;
inline constexpr QStringView PeerslipExtension = u".kvp";

// The 15 fields in file order.
struct ProfileRecord {
    QString FullName;
    QString Company;
    QString Email;
    QString City;
    QString State;
    QString Country;
    QString Comment;
    QString ChatName;
    QString UserStatus;
    QString IPAddress;
    qint32 LocalPort = DefaultLocalPort;
    QString SerialNum;
    QString Reserved; // written empty, ignored on reading
    qint16 ChatType = 1;
    qint16 PrivateInfo = 0;

    bool operator==(const ProfileRecord&) const = default;
};

// The longest text each profile box takes (each character is one byte of the
// Peerslip), so that with the longest availability, address and identifier
// the record always fits its 256 bytes.
namespace profilelimit {
inline constexpr int FullName = 25, Company = 25, Email = 40, CityState = 20, Country = 15, Comment = 28,
                     ChatName = 20;
inline constexpr int Availability = 16, Address = 15, Identifier = 20; // set by the product, not typed
// Twelve texts with a 2-byte length each, the port (4) and two 2-byte numbers.
inline constexpr int Overhead = 12 * 2 + 4 + 2 * 2;
static_assert(Overhead + FullName + Company + Email + CityState + Country + Comment + ChatName + Availability +
                      Address + Identifier <=
                  PeerslipRecordSize,
              "a profile typed at the limits must fit its Peerslip");
} // namespace profilelimit

// Reads the profile from the "Profile" subkey with the deliverable's defaults.
// Returns true when the chat name is empty (the profile is incomplete).
bool LoadProfile(Deliverable who, ProfileRecord& profile);

// Writes the profile to the registry and the user's own Peerslip file, removes
// the file of a previous chat name and refreshes the e-mail signature through
// the caller's store access (a short-lived one when none is given). Returns 0,
// or -1 when the file could not be written (the registry copy is kept, the
// user is told why, and the signature keeps the previous Peerslip). A profile
// without a chat name is never saved: -1, nothing written.
int SaveProfile(const ProfileRecord& profile, const QString& previousChatName, StoreAccess* access = nullptr);

// The record as written for others: the private form when PrivateInfo is set.
ProfileRecord PublishedForm(const ProfileRecord& profile);

// The 14 "|"-separated fields carried by SAVEUSER and SHOWUSER.
QString ProfileFieldString(const ProfileRecord& profile);
// The 8-field user record of the wire protocol.
QString ShortProfileFieldString(const ProfileRecord& profile);

// Profile fields travel unescaped in "|"-separated messages, so every dialog
// that edits the profile refuses the separator: the name of the first field
// typed by the user that holds one, or "" when none does.
QString FieldHoldingSeparator(const ProfileRecord& profile);
// The refusal shown for that field.
QString SeparatorRefusalText(const QString& fieldName);

// The bytes of record 1 (without padding), or nothing when the fields do not fit 256 bytes.
std::optional<QByteArray> EncodePeerslip(const ProfileRecord& profile);
// Parses a Peerslip's bytes; nothing when the data is truncated, a length runs
// past the record, or the size cannot be a Peerslip.
std::optional<ProfileRecord> DecodePeerslip(const QByteArray& bytes);

// Writes the record padded to 256 bytes. False when it does not fit or cannot be
// written; error, when given, then says why.
bool WritePeerslipFile(const QString& path, const ProfileRecord& profile, QString* error = nullptr);
std::optional<ProfileRecord> ReadPeerslipFile(const QString& path);

// A chat name made safe as a file name in the installation folder: path
// separators and control characters become "_", and "." or ".." get a leading "_".
QString PeerslipFileName(const QString& chatName);
// InstallDir + the safe file name of the chat name + ".kvp".
QString PeerslipPath(const QString& chatName);

// A Peerslip built from a received message's fields 1 to 8 (index 0 is the
// message name), written to a new temporary file. Returns its path, or "" on failure.
QString WriteTempPeerslip(const QStringList& fields);

// Shown when the profile's Peerslip would not fit its record.
inline constexpr QStringView PeerslipTooLongText =
    u"Your profile is too long to be saved as a Peerslip.\r\rPlease shorten your name, company, "
    u"address or comment. Your settings have been saved.";
// Shown when the Peerslip file cannot be written: + path + "'." + the reason.
inline constexpr QStringView PeerslipNotWrittenText = u"Your Peerslip could not be saved as '";
inline constexpr QStringView NoInstallFolderText =
    u"The installation folder is not set. Please install Kivara again.";

} // namespace kv
