#pragma once
// What the product's set-up places outside the settings, in place of the
// program group, the file association and the control registrations; the
// uninstaller removes the same things.
#include <QStringView>
#include <array>

namespace kv::installed {

// The link to the monitor program that marks an installation folder.
inline constexpr QStringView MonitorLink = u"vigilo";
// Programs and control libraries in the system folder.
inline constexpr QStringView MonitorProgram = u"vigilo";
inline constexpr QStringView OpenerProgram = u"dorvan";
inline constexpr QStringView HostProgram = u"outlook-standin";
inline constexpr std::array<QStringView, 2> ControlLibraries{u"libquillonplugin.so", u"libtallyoplugin.so"};
// The program group: the monitor (which also opens Peerslips) and the opener.
inline constexpr QStringView MonitorEntry = u"kivara-vigilo.desktop";
inline constexpr QStringView OpenerEntry = u"kivara-dorvan.desktop";
inline constexpr std::array<QStringView, 2> DesktopEntries{MonitorEntry, OpenerEntry};
// The ".kvp" type, a shared-mime-info package.
inline constexpr QStringView MimePackage = u"kivara-peerslip.xml";
inline constexpr QStringView PeerslipMimeType = u"application/x-kivara-peerslip";
// ~/.config/autostart/ entry that stands for the "Run" value.
inline constexpr QStringView AutostartEntry = u"vigilo.desktop";
// The product's icon among the data files.
inline constexpr QStringView ProductIcon = u"kivara.svg";
// The running monitor on the session bus: the name it owns while its window
// exists, and the object whose "Close" member runs its closing path.
inline constexpr QStringView MonitorBusName = u"Kivara.Vigilo";
inline constexpr QStringView MonitorBusPath = u"/Vigilo";
inline constexpr QStringView MonitorBusInterface = u"Kivara.Vigilo";
inline constexpr QStringView MonitorCloseMember = u"Close";

} // namespace kv::installed
