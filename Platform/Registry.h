#pragma once
// Stand-in for the Windows registry: one INI file per root under
// $XDG_CONFIG_HOME/kivara/registry/, re-read on every call so that a value
// written by another process is seen at the next read.
#include <QString>
#include <optional>

namespace kv::platform {

enum class RegRoot { CurrentUser, LocalMachine, ClassesRoot };

namespace Registry {

// The file that holds one root, e.g. ".../HKEY_CURRENT_USER.ini".
QString rootFile(RegRoot root);

// The local-machine value that lists the name servers. Windows filled it from its
// own TCP/IP settings; here, when the root file holds none, it is read from the
// system's resolver configuration: its "nameserver" addresses joined with ",".
inline constexpr QStringView NameServerKey = u"System\\CurrentControlSet\\Services\\VxD\\MSTCP";
inline constexpr QStringView NameServerValue = u"NameServer";
inline constexpr QStringView SystemResolverFile = u"/etc/resolv.conf";
// The resolver file the value is read from; tests point it elsewhere.
void setResolverFile(const QString& path);
// The name-server addresses of a resolver configuration, in file order, joined
// with ","; nothing when it names none or cannot be read.
std::optional<QString> nameServersOf(const QString& path);

// A key exists while it or one of its subkeys holds a value.
bool keyExists(RegRoot root, const QString& keyPath);

// The value as stored (ANSI text), or nothing when the key or value is missing
// (NameServer above excepted).
std::optional<QString> queryValue(RegRoot root, const QString& keyPath, const QString& name);

// Creates the key path as needed and replaces the value. Characters outside
// the ANSI code page are stored as "?", as the ANSI registry functions do.
bool setValue(RegRoot root, const QString& keyPath, const QString& name, const QString& value);

// False when the key or the value does not exist.
bool deleteValue(RegRoot root, const QString& keyPath, const QString& name);

// Removes the key with all its values and subkeys. False when it did not exist.
bool deleteKey(RegRoot root, const QString& keyPath);

} // namespace Registry
} // namespace kv::platform
