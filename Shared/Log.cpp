#include "Shared/Log.h"

namespace kv {

Q_LOGGING_CATEGORY(lcShared, "kivara.shared", QtWarningMsg)

} // namespace kv
