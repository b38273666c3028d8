#pragma once
// The chat protocol: ports, datagram framing and scrambling, field splitting,
// the message names, and a builder for every message with the field positions
// receivers read. A message is one text of "|"-separated fields, field 0 its
// name; no escaping, so a "|" inside a value splits it on the receiving side.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

inline constexpr int ChatDatagramPort = 8086;    // UDP, the chat control
inline constexpr int MonitorDatagramPort = 8085; // UDP, the tray monitor
inline constexpr int FileTransferPort = 8087;    // TCP, file data

inline constexpr QChar FieldSeparator = u'|';
// First character of a scrambled datagram; any other first character means plain text.
inline constexpr char ScrambledMark = '1';
inline constexpr int DatagramKeyLength = 7;

// The shared scrambling key, assembled on first use and kept for the process's lifetime.
const QString& DatagramKey();
// XOR of each character code with the key character at the same position modulo
// the key length. Its own inverse.
QString ScrambleText(const QString& text);

// What goes on the wire: "1" + ScrambleText(text), one byte per character (Windows-1252).
QByteArray FrameDatagram(const QString& text);
// The same message unframed: Windows-1252 bytes, nothing scrambled.
QByteArray PlainDatagram(const QString& text);
bool IsScrambledDatagram(const QByteArray& datagram);
// Accepts both forms: a leading "1" means the rest is scrambled, otherwise the datagram is plain text.
QString UnframeDatagram(const QByteArray& datagram);
// Splits at every "|": an empty text gives one empty field, a trailing "|" a last
// empty field, consecutive separators empty fields. Never fewer than one field.
QStringList ParseDatagram(const QString& text);
// UnframeDatagram followed by ParseDatagram.
QStringList ReadDatagram(const QByteArray& datagram);

// Message names (field 0).
namespace msg {
inline constexpr QLatin1StringView Hello{"HELLO"};
inline constexpr QLatin1StringView HelloWait{"HELLOWAIT"};
inline constexpr QLatin1StringView GiveUp{"GIVEUP"};
inline constexpr QLatin1StringView DoneHello{"DONEHELLO"};
inline constexpr QLatin1StringView RoomList{"ROOMLIST"};
inline constexpr QLatin1StringView Enter{"ENTER"};
inline constexpr QLatin1StringView LeaveMsg{"LEAVEMSG"};
inline constexpr QLatin1StringView Message{"MESSAGE"};
inline constexpr QLatin1StringView PubChat{"PUBCHAT"};
inline constexpr QLatin1StringView PriChat{"PRICHAT"};
inline constexpr QLatin1StringView Status{"STATUS"};
inline constexpr QLatin1StringView NickName{"NICKNAME"};
inline constexpr QLatin1StringView Update{"UPDATE"};
inline constexpr QLatin1StringView GetUser{"GETUSER"};
inline constexpr QLatin1StringView SaveUser{"SAVEUSER"};
inline constexpr QLatin1StringView ShowUser{"SHOWUSER"};
inline constexpr QLatin1StringView FilePrep{"FILEPREP"};
inline constexpr QLatin1StringView NoFile{"NOFILE"};
inline constexpr QLatin1StringView Leave{"LEAVE"};
inline constexpr QLatin1StringView DumpUser{"DUMPUSER"};
} // namespace msg

// Fixed words carried in fields.
namespace word {
inline constexpr QLatin1StringView PublicRoomTag{"PUBLIC"}; // ROOMLIST field 1
inline constexpr QLatin1StringView PublicRoom{"Public"};    // LEAVE field 2 for the public room
inline constexpr QLatin1StringView OpenPrivate{"OPENPRI"};  // PRICHAT line that asks for / accepts a private room
inline constexpr QLatin1StringView Simple{"SIMPLE"};        // GETUSER: Peerslip to store as a contact
inline constexpr QLatin1StringView Profile{"PROFILE"};      // GETUSER: Peerslip to view
inline constexpr QLatin1StringView Silent{"SILENT"};        // GETUSER SIMPLE, done automatically on entry
inline constexpr QLatin1StringView Normal{"NORMAL"};
inline constexpr QLatin1StringView FlagOn{"1"};
inline constexpr QLatin1StringView FlagOff{"0"};
} // namespace word

// Field positions as receivers read them.
namespace field {
inline constexpr int Name = 0;
inline constexpr int Record = 1; // first of the 8 user-record fields (HELLO, ENTER, UPDATE, MESSAGE, PRICHAT)
inline constexpr int SenderName = 1; // HELLOWAIT, GIVEUP, LEAVEMSG, PUBCHAT, STATUS, FILEPREP, NOFILE, LEAVE
inline constexpr int RoomListTag = 1;
inline constexpr int RoomListFirstEntry = 2;
inline constexpr int LeaveMsgTakesMessages = 2;
inline constexpr int MessageSubject = 9;
inline constexpr int MessageText = 10;
inline constexpr int MessageHasPeerslip = 11;
inline constexpr int MessagePeerslip = 12;
inline constexpr int PubChatColor = 2;
inline constexpr int PubChatLine = 3;
inline constexpr int PriChatColor = 9;
inline constexpr int PriChatLine = 10;
inline constexpr int StatusAvailability = 2;
inline constexpr int NickNameOld = 1;
inline constexpr int NickNameNew = 2;
inline constexpr int GetUserRequester = 1;
inline constexpr int GetUserKind = 2;
inline constexpr int GetUserTarget = 3;
inline constexpr int GetUserMode = 4;
inline constexpr int PeerslipFirst = 1; // SAVEUSER, SHOWUSER: 14 Peerslip fields
inline constexpr int FilePrepTitle = 2;
inline constexpr int FilePrepSize = 3;
inline constexpr int FilePrepAddress = 4;
inline constexpr int FilePrepPort = 5;
inline constexpr int LeaveRoom = 2;
inline constexpr int DumpUserRemover = 1;
inline constexpr int DumpUserRemoved = 2;
} // namespace field

// The 8-field user record that several messages carry in fields 1 to 8.
struct UserRecord {
    static constexpr int FieldCount = 8;

    QString chatName;
    QString availability; // or a refusal text in the monitor's refusal ROOMLIST
    QString email;
    QString ipAddress;    // where everything addressed to this user goes
    QString comment;
    QString serialNum;    // installation identifier
    QString reserved;     // sent empty, not interpreted
    QString iconCode;     // decimal icon code

    // The 8 fields in wire order; the reserved field is always empty.
    QStringList fields() const;
    QString text() const { return fields().join(FieldSeparator); }
    // The record at fields[first .. first+7]; nothing when a field is missing.
    static std::optional<UserRecord> fromFields(const QStringList& fields, qsizetype first = field::Record);

    friend bool operator==(const UserRecord&, const UserRecord&) = default;
};

// ROOMLIST reading: whole 8-field entries after the tag only.
qsizetype RoomListEntryCount(const QStringList& fields);
QList<UserRecord> RoomListEntries(const QStringList& fields);

// MESSAGE reading: the raw Peerslip content when field 11 is "1" (a "|" inside it
// was split like any other, so fields 12 onward are joined again).
std::optional<QByteArray> MessagePeerslip(const QStringList& fields);

// ---- Builders: the message text, unframed ------------------------------------

QString BuildHello(const UserRecord& caller);
QString BuildHelloWait(const QString& chatName);
QString BuildGiveUp(const QString& chatName);
QString BuildDoneHello();
// Own row first; the monitor's refusal is a one-entry list.
QString BuildRoomList(const QList<UserRecord>& entries);
QString BuildEnter(const UserRecord& admitted);
QString BuildLeaveMsg(const QString& calleeName, bool takesMessages);
// peerslip: the raw bytes of the writer's own Peerslip file, when attached.
QString BuildMessage(const UserRecord& writer, const QString& subject, const QString& text,
                     const std::optional<QByteArray>& peerslip = std::nullopt);
QString BuildPubChat(const QString& chatName, qint32 color, const QString& line);
// line: the chat line, or word::OpenPrivate.
QString BuildPriChat(const UserRecord& sender, qint32 color, const QString& line);
QString BuildStatus(const QString& chatName, const QString& availability);
QString BuildNickName(const QString& oldName, const QString& newName);
QString BuildUpdate(const UserRecord& sender);
QString BuildGetUserSimple(const QString& requester, const QString& target, bool silent);
QString BuildGetUserProfile(const QString& requester, const QString& target);
// peerslipFieldText: the 14 "|"-separated Peerslip fields.
QString BuildSaveUser(const QString& peerslipFieldText);
QString BuildShowUser(const QString& peerslipFieldText);
// A "|" in the title goes out as "_".
QString BuildFilePrep(const QString& chatName, const QString& fileTitle, qint64 size, const QString& address);
QString BuildNoFile(const QString& chatName);
// room: word::PublicRoom, or for a private room the sender's own chat name.
QString BuildLeave(const QString& chatName, const QString& room);
QString BuildDumpUser(const QString& remover, const QString& removed);

} // namespace kv
