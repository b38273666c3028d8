#pragma once
// The rooms of a chat session: the public room and the private rooms in the
// order they were opened, each with its participants (an item model the view
// shows) and its transcript (a text document the view shows).
#include "Shared/Protocol.h"

#include <QAbstractTableModel>
#include <QString>
#include <QTextDocument>
#include <memory>
#include <vector>

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

class ParticipantModel;
struct ParticipantRow;

// One row of a participant list: a handle on the model's row, valid while the row is listed.
class Participant {
public:
    Participant() = default;
    Participant(ParticipantModel* model, ParticipantRow* row) : m_model(model), m_row(row) {}
    bool isNull() const { return m_row == nullptr; }
    bool operator==(const Participant& other) const { return m_row == other.m_row; }
    // Position in its list, from 0; -1 for a null handle.
    int index() const;

    QString name() const { return column(ColName); }
    void setName(const QString& name) { setColumn(ColName, name); }
    QString availability() const { return column(ColAvailability); }
    void setAvailability(const QString& text) { setColumn(ColAvailability, text); }
    QString email() const { return column(ColEmail); }
    QString address() const { return column(ColAddress); }
    QString comment() const { return column(ColComment); }
    QString serial() const { return column(ColSerial); }
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
    ParticipantModel* m_model = nullptr;
    ParticipantRow* m_row = nullptr;
};

// A room's participants, one row each, row 0 the local user. Views show the
// columns; the roles name what a row holds. Only the own row's name is
// editable, and an edit is a request: the session decides whether the name
// changes (ownNameEdited), so a refused name never shows.
class ParticipantModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        AvailabilityRole,
        AddressRole,
        SerialRole,
        IconKeyRole,
        IgnoredRole,
        DimmedRole,
    };

    explicit ParticipantModel(QObject* parent = nullptr);
    ~ParticipantModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The first column's header: the room's caption.
    void setCaption(const QString& caption);
    // Whether the own row's name may be edited in place.
    void setOwnRowEditable(bool editable);

    // A handle on row index (a handle may change the row, whatever the constness of the model).
    Participant at(int index) const;
    Participant append(const QString& name, const QString& iconKey);
    // Removes the rows from index on.
    void truncate(int count);
    void remove(const Participant& p);
    int indexOf(const ParticipantRow* row) const;
    void changed(const ParticipantRow* row, int firstColumn, int lastColumn);

Q_SIGNALS:
    // The user typed a new name into the own row; nothing changed yet.
    void ownNameEdited(const QString& name);

private:
    bool holds(const QModelIndex& index) const;

    std::vector<std::unique_ptr<ParticipantRow>> m_rows;
    QString m_caption;
    bool m_ownEditable = false;
};

struct Room {
    explicit Room(const QString& tag);
    QString tag; // "Public", or the other party's chat name
    ParticipantModel participants;
    QTextDocument transcript;

    bool isPublic() const;
    // A new tag, and with it the list's caption.
    void rename(const QString& newTag);
    int rowCount() const;
    // Row n, counted from 1 (row 1 is the local user); null when out of range.
    Participant row(int n) const;
    // The row whose name equals name exactly; null when none.
    Participant findRow(const QString& name) const;
    Participant addRow(const QString& name, const QString& iconKey);
    // Removes the row with that name when present. True when one was removed.
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
    // Takes the room out of the table.
    std::unique_ptr<Room> take(int position);

    int current = 0;        // position of the current room
    QString currentTag;     // tag of the current room, or the party a private room is being asked of
    QString menuTag;        // tag of the room whose button was last right-clicked
    Room& currentRoom() { return at(valid(current) ? current : 0); }

private:
    std::vector<std::unique_ptr<Room>> m_rooms;
};

} // namespace kv::control
