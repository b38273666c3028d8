#pragma once
// Chat names travel unescaped inside "|"-separated messages, so a name holding
// the separator would split every message that carries it.
#include "Shared/Protocol.h"

#include <QString>

namespace kv::control {

inline constexpr QStringView ChatNameSeparatorText =
    u"A Chat name cannot contain the character \"|\".\r\rPlease choose another Chat name.";

// Taking a name a participant already has would make two rows of one name.
inline constexpr QStringView ChatNameInUseBefore = u"Someone in the chat is already called '";
inline constexpr QStringView ChatNameInUseAfter = u"'.\r\rPlease choose another Chat name.";

inline bool IsValidChatName(const QString& name) { return !name.contains(FieldSeparator); }

} // namespace kv::control
