#include "Vigilo/Monitor/Log.h"

namespace kv::vigilo {

Q_LOGGING_CATEGORY(lcMonitor, "kivara.monitor", QtWarningMsg)

} // namespace kv::vigilo
