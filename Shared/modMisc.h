#pragma once
// Network check, temporary names, folders and small text operations that the
// deliverables share.
#include <QString>
#include <array>

namespace kv {

namespace platform {
class Socket;
}

// Host probed by the network check when no name server is configured.
inline constexpr QStringView ProductWebHost = u"www.kivara.com";
// Port the network check asks to connect to.
inline constexpr int NetworkProbePort = 80;
// Bound on the waits for the probe socket to close.
inline constexpr int SocketCloseWaitMs = 5000;

// The host the network check probes, given the stored "NameServer" value (or
// the default when none is stored).
QString ProbeHost(const QString& nameServerValue);

// 1 when no network can be reached: a connect request to the probe host fails
// at once. A refusal that arrives later still means a network is present.
// `socket` is a TCP socket the caller owns and does not otherwise use now.
short NetworkAbsent(platform::Socket& socket);

// The product's private temporary folder (mode 0700), created when missing.
QString PrivateTempFolder();

// A new unique name "~" + hex digits + ".tmp" (lower case) in the private
// temporary folder; with a suffix: the folder, "~" and the first hex digit,
// followed by the suffix. The name does not exist afterwards.
QString MakeTempFileName(const QString& suffix);

// The folder of the product's programs, without a trailing separator.
QString SystemFolder();

// The help: an HTML page in the install folder, opened with the shell; a help
// context number is its fragment.
inline constexpr QStringView HelpPageName = u"quillon.htm";
// The per-user data root of the product, without a trailing separator.
QString WindowsFolder();
// The folder of the conversation history (the chat control writes it, the uninstaller removes it).
QString HistoryFolder();

// "first, second" when both are non-empty, else whichever is, else "".
QString JoinNonEmpty(const QString& first, const QString& second);

// The text after the last path separator, or the whole path when nothing follows one.
QString FileNameOfPath(const QString& path);

struct SplitName {
    QString first;  // index 1 of the design's array
    QString second; // index 2
};
SplitName SplitUserName(const QString& name);

} // namespace kv
