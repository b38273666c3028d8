#pragma once
// The monitor's command line: no argument, a Peerslip path in double quotes,
// or "-m" and the quoted path. The parsing works on the raw line as the shell
// would have passed it, so it is rebuilt from the arguments first.
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace kv::vigilo {

inline constexpr QStringView AddOnlySwitch = u"-m";
// The user's own Peerslip: never added or called.
inline constexpr QStringView OwnPeerslipName = u"address.kvp";

// "-m" stays as it is; every other argument is enclosed in double quotes.
QString RawCommandLine(const QStringList& arguments);

struct PeerslipArgument {
    QString path;
    bool addOnly = false; // "-m": store the contact only, no call
};

// The path and form of a Peerslip command line; nothing for an empty line,
// one too short to hold a path, or the user's own Peerslip.
std::optional<PeerslipArgument> ParsePeerslipArgument(const QString& commandLine);

} // namespace kv::vigilo
