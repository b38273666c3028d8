#pragma once
// What the product's set-up places outside the settings, in place of the
// program group, the file association and the control registrations; the
// uninstaller removes the same things.
#include <array>

namespace kv::installed {

// The link to the monitor program that marks an installation folder.
inline constexpr auto MonitorLink = u"vigilo";
// Programs and control libraries in the system folder.
inline constexpr auto MonitorProgram = u"vigilo";
inline constexpr auto OpenerProgram = u"dorvan";
inline constexpr auto HostProgram = u"outlook-standin";
inline constexpr std::array<const char16_t*, 2> ControlLibraries{u"libquillonplugin.so",
                                                                 u"libtallyoplugin.so"};
// The program group: the monitor (which also opens Peerslips) and the opener.
inline constexpr auto MonitorEntry = u"kivara-vigilo.desktop";
inline constexpr auto OpenerEntry = u"kivara-dorvan.desktop";
inline constexpr std::array<const char16_t*, 2> DesktopEntries{MonitorEntry, OpenerEntry};
// The ".kvp" type, a shared-mime-info package.
inline constexpr auto MimePackage = u"kivara-peerslip.xml";
inline constexpr auto PeerslipMimeType = u"application/x-kivara-peerslip";
// ~/.config/autostart/ entry that stands for the "Run" value.
inline constexpr auto AutostartEntry = u"vigilo.desktop";
// The product's icon among the data files.
inline constexpr auto ProductIcon = u"kivara.svg";
// The running monitor on the session bus: the name it owns while its window
// exists, and the object whose "Close" member runs its closing path.
inline constexpr auto MonitorBusName = u"Kivara.Vigilo";
inline constexpr auto MonitorBusPath = u"/Vigilo";
inline constexpr auto MonitorBusInterface = u"Kivara.Vigilo";
inline constexpr auto MonitorCloseMember = u"Close";

} // namespace kv::installed
