#pragma once
// Finding another program's main window and closing it. Across processes the
// only window the product looks for is the monitor's, which owns a name on the
// session bus for as long as its window exists; its "Close" member runs the
// monitor's normal closing path, as the "close" system command would.
#include <QString>

namespace kv::platform {

inline constexpr auto MonitorBusName = u"Kivara.Vigilo";
inline constexpr auto MonitorBusPath = u"/Vigilo";
inline constexpr auto MonitorBusInterface = u"Kivara.Vigilo";
inline constexpr auto MonitorCloseMember = u"Close";

// Whether the monitor's main window exists.
bool MonitorWindowExists();
// Asks the monitor to close without waiting for it; false when it could not be asked.
bool CloseMonitorWindow();

} // namespace kv::platform
