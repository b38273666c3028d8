#pragma once
// A file offer as it reaches the receiving window: the pieces of Dorvan's
// command line, checked before anything is shown, connected to or written.
// Every piece comes from another computer, so each is held to a rule here.
#include <QString>
#include <QStringList>
#include <optional>

namespace kv::dorvan {

// Pieces of the split command line, numbered from 0 ("FILEPREP").
namespace piece {
inline constexpr int Sender = 1;
inline constexpr int FileTitle = 2;
inline constexpr int FileSize = 3;
inline constexpr int RemoteHost = 4;
inline constexpr int RemotePort = 5;
inline constexpr int OwnName = 6;
inline constexpr int Count = 7;
} // namespace piece

// Longest file title taken, in bytes of the file system's encoding. Leaves room
// under the usual 255-byte name limit for the "~" prefix of a temporary name.
inline constexpr int MaxFileTitleBytes = 240;

enum class OfferFault { None, Incomplete, BadTitle, BadSize, BadAddress };

struct FileOffer {
    QString sender;
    QString fileTitle; // a safe base name, never a path
    qint32 fileSize = 0;
    QString remoteHost; // dotted IPv4 text, normalised
    QString remotePort; // kept as given: the connection always goes to the file-transfer port
    QString ownName;
};

struct OfferCheck {
    OfferFault fault = OfferFault::None;
    FileOffer offer;            // complete only when fault is None
    bool addressUsable = false; // the sender can be told of the refusal
};

// The base name of a title from the network: the text after the last "/" or
// "\", without control characters and surrounding blanks. Nothing when that
// leaves an empty name, "." or "..", or a name longer than MaxFileTitleBytes.
std::optional<QString> SafeFileTitle(const QString& title);

// A size is decimal digits only, 0 to 2147483647.
std::optional<qint32> ParseOfferSize(const QString& text);

// The sender's address: four dotted decimal octets without leading zeros,
// a unicast address (not 0.0.0.0/8, multicast, reserved or broadcast). Host
// names are refused, so an offer never makes Dorvan ask a name server.
std::optional<QString> ParseSenderAddress(const QString& text);

OfferCheck CheckOffer(const QStringList& pieces);

// The reason shown to the user when an offer is refused.
QString OfferFaultText(OfferFault fault);

} // namespace kv::dorvan
