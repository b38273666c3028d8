#pragma once
// The room model of the chat control: the table of rooms (the public room and
// the private rooms in the order they were opened), each with its button,
// participant list and transcript, and the participant rows of those lists.
#include "Shared/Protocol.h"

#include <QString>
#include <memory>
#include <vector>

class QPushButton;
class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace kv::control {

// Availability texts, in the availability menu's order, and the one the control shows for ignored rows.
namespace availability {
inline constexpr QStringView Available = u"Available";
inline constexpr QStringView Unavailable = u"Unavailable";
inline constexpr QStringView BeRightBack = u"Be Right Back";
inline constexpr QStringView OnThePhone = u"On the Phone";
inline constexpr QStringView SteppedOut = u"Stepped Out";
inline constexpr QStringView OutOfOffice = u"Out of Office";
inline constexpr QStringView Ignored = u"Ignored";
} // namespace availability

inline constexpr QStringView PublicTag = u"Public";
inline constexpr QStringView PublicRoomCaption = u"Public room";
inline constexpr QStringView PrivateRoomSuffix = u"'s room";
// Suffixes of the participant icon keys: others' rows and the local user's own row.
inline constexpr QStringView OtherIconSuffix = u"_0";
inline constexpr QStringView OwnIconSuffix = u"_1";

// Columns of a participant list, in order.
enum Column { ColName = 0, ColAvailability, ColEmail, ColAddress, ColComment, ColSerial, ColumnCount };
// Header texts of columns 2 to 6 (the first column's header is the room name).
QStringList DetailHeaders();

// The caption of a room's button and the header of its list's first column.
QString RoomCaption(const QString& tag);

// One row of a participant list. A view over the list item; copying it does not copy the row.
class Participant {
public:
    explicit Participant(QTreeWidgetItem* item = nullptr) : m_item(item) {}
    bool isNull() const { return m_item == nullptr; }
    QTreeWidgetItem* item() const { return m_item; }

    QString name() const;
    void setName(const QString& name);
    QString availability() const;
    void setAvailability(const QString& text);
    QString email() const;
    QString address() const;
    QString comment() const;
    QString serial() const;
    void setColumn(Column column, const QString& text);
    QString column(Column column) const;

    // The availability that "Ignored" replaced; empty while not ignored.
    QString savedAvailability() const;
    void setSavedAvailability(const QString& text);
    bool isIgnored() const { return !savedAvailability().isEmpty(); }

    bool dimmed() const;
    void setDimmed(bool dimmed);

    QString iconKey() const;
    void setIconKey(const QString& key);

    // The 8-field user record of this row, with the availability an "Ignored" mark hides;
    // its icon code is the first character of the icon key.
    UserRecord record() const;
    // Columns 2 to 6 from a user record (the name stays); an ignored row keeps its mark.
    void setDetails(const UserRecord& record);

private:
    QTreeWidgetItem* m_item;
};

struct Room {
    QString tag; // "Public", or the other party's chat name
    QPushButton* button = nullptr;
    QTreeWidget* list = nullptr;
    QTextEdit* transcript = nullptr;

    bool isPublic() const;
    int rowCount() const;
    // Row n, counted from 1 (row 1 is the local user); null when out of range.
    Participant row(int n) const;
    // The row whose text equals name exactly; null when none.
    Participant findRow(const QString& name) const;
    Participant addRow(const QString& name, const QString& iconKey);
    // Removes the row with that text when present. True when one was removed.
    bool removeRow(const QString& name);
    // Removes every row but row 1.
    void keepOnlyOwnRow();
};

class RoomTable {
public:
    // "PUBLIC" gives 0; otherwise the position of the private room with exactly that tag; -1 when none.
    int FindRoom(const QString& tag) const;

    int count() const { return static_cast<int>(m_rooms.size()); }
    // Position of the last private room; 0 when only the public room exists.
    int highest() const { return count() - 1; }
    bool valid(int position) const { return position >= 0 && position < count(); }
    Room& at(int position) { return *m_rooms.at(static_cast<size_t>(position)); }
    const Room& at(int position) const { return *m_rooms.at(static_cast<size_t>(position)); }
    Room& publicRoom() { return at(0); }
    const Room& publicRoom() const { return at(0); }

    Room& append(std::unique_ptr<Room> room);
    // Takes the room out of the table; the caller deletes its widgets.
    std::unique_ptr<Room> take(int position);

    int current = 0;        // position of the current room
    QString currentTag;     // tag of the current room, or the party a private room is being asked of
    QString menuTag;        // tag of the room whose button was last right-clicked
    Room& currentRoom() { return at(valid(current) ? current : 0); }

private:
    std::vector<std::unique_ptr<Room>> m_rooms;
};

} // namespace kv::control
