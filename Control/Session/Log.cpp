#include "Control/Session/Log.h"

namespace kv::control {

Q_LOGGING_CATEGORY(lcControl, "kivara.control", QtWarningMsg)

} // namespace kv::control
