#include "Platform/Log.h"

namespace kv::platform {

Q_LOGGING_CATEGORY(lcSocket, "kivara.socket", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRegistry, "kivara.registry", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "kivara.store", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDesktop, "kivara.desktop", QtWarningMsg)

} // namespace kv::platform
