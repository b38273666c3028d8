#pragma once
// What the chat control's widget files share: the texts (with the session's),
// the prompt service's names and the menu item lookup.
#include "Control/Session/Texts.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"

#include <QAction>
#include <QMenu>

namespace kv::control::kivaraui {

using namespace session;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;

inline QAction* item(QMenu* menu, int index)
{
    const QList<QAction*> actions = menu->actions();
    return index >= 0 && index < actions.size() ? actions[index] : nullptr;
}

} // namespace kv::control::kivaraui
