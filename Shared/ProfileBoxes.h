#pragma once
// What the profile dialogs of the control and the monitor share: the widget
// side of the profile limits, kept apart so that the shared library needs no widgets.
#include "Shared/modUser.h"

#include <QLineEdit>
#include <array>

namespace kv {

// Limits a profile dialog's boxes so that what is typed fits the Peerslip:
// full name, company, e-mail, "city, state", country and comment, in that
// order, and the chat name.
inline void LimitProfileBoxes(const std::array<QLineEdit*, 6>& boxes, QLineEdit* chatName)
{
    using namespace profilelimit;
    constexpr std::array<int, 6> limits{FullName, Company, Email, CityState, Country, Comment};
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->setMaxLength(limits[i]);
    if (chatName) chatName->setMaxLength(ChatName);
}

inline void SelectAllText(QLineEdit* box)
{
    box->setSelection(0, static_cast<int>(box->text().size()));
}

} // namespace kv
