#pragma once
// What the chat control's widget files share: the texts (with the session's)
// and the menu item lookup.
#include "Control/Session/Texts.h"

#include <QAction>
#include <QMenu>

namespace kv::control::kivaraui {

using namespace session;

inline QAction* item(QMenu* menu, int index)
{
    const QList<QAction*> actions = menu->actions();
    return index >= 0 && index < actions.size() ? actions[index] : nullptr;
}

} // namespace kv::control::kivaraui
