#include "Control/Rooms.h"

#include "Control/Icons.h"

#include <QBrush>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {
constexpr int SavedAvailabilityRole = Qt::UserRole;
constexpr int DimmedRole = Qt::UserRole + 1;
constexpr int IconKeyRole = Qt::UserRole + 2;
} // namespace

QStringList DetailHeaders()
{
    return {u"Availability"_s, u"E-Mail Address"_s, u"IP Address"_s, u"Comment"_s, u"SerialNum"_s};
}

QString RoomCaption(const QString& tag)
{
    if (tag.compare(PublicTag.toString(), Qt::CaseInsensitive) == 0) return PublicRoomCaption.toString();
    return tag + PrivateRoomSuffix.toString();
}

// ---- Participant -------------------------------------------------------------

QString Participant::name() const { return column(ColName); }
void Participant::setName(const QString& name) { setColumn(ColName, name); }
QString Participant::availability() const { return column(ColAvailability); }
void Participant::setAvailability(const QString& text) { setColumn(ColAvailability, text); }
QString Participant::email() const { return column(ColEmail); }
QString Participant::address() const { return column(ColAddress); }
QString Participant::comment() const { return column(ColComment); }
QString Participant::serial() const { return column(ColSerial); }

void Participant::setColumn(Column column, const QString& text)
{
    if (m_item) m_item->setText(column, text);
}

QString Participant::column(Column column) const { return m_item ? m_item->text(column) : QString(); }

QString Participant::savedAvailability() const
{
    return m_item ? m_item->data(ColName, SavedAvailabilityRole).toString() : QString();
}

void Participant::setSavedAvailability(const QString& text)
{
    if (m_item) m_item->setData(ColName, SavedAvailabilityRole, text);
}

bool Participant::dimmed() const { return m_item && m_item->data(ColName, DimmedRole).toBool(); }

void Participant::setDimmed(bool dimmed)
{
    if (!m_item) return;
    m_item->setData(ColName, DimmedRole, dimmed);
    const QBrush brush = dimmed ? QBrush(QPalette().color(QPalette::Disabled, QPalette::Text)) : QBrush();
    for (int c = 0; c < ColumnCount; ++c)
        m_item->setForeground(c, brush);
}

QString Participant::iconKey() const { return m_item ? m_item->data(ColName, IconKeyRole).toString() : QString(); }

void Participant::setIconKey(const QString& key)
{
    if (!m_item) return;
    m_item->setData(ColName, IconKeyRole, key);
    m_item->setIcon(ColName, ParticipantIcon(key));
}

UserRecord Participant::record() const
{
    UserRecord r;
    r.chatName = name();
    // Others learn the participant's availability, never the local "Ignored" mark.
    r.availability = isIgnored() ? savedAvailability() : availability();
    r.email = email();
    r.ipAddress = address();
    r.comment = comment();
    r.serialNum = serial();
    r.iconCode = iconKey().left(1);
    return r;
}

void Participant::setDetails(const UserRecord& r)
{
    // An ignored row stays ignored; the availability it hides follows the news.
    if (isIgnored())
        setSavedAvailability(r.availability.isEmpty() ? availability::Available.toString() : r.availability);
    else
        setAvailability(r.availability);
    setColumn(ColEmail, r.email);
    setColumn(ColAddress, r.ipAddress);
    setColumn(ColComment, r.comment);
    setColumn(ColSerial, r.serialNum);
}

// ---- Room --------------------------------------------------------------------

bool Room::isPublic() const
{
    return tag == PublicTag.toString();
}

int Room::rowCount() const { return list ? list->topLevelItemCount() : 0; }

Participant Room::row(int n) const
{
    if (!list || n < 1 || n > list->topLevelItemCount()) return Participant();
    return Participant(list->topLevelItem(n - 1));
}

Participant Room::findRow(const QString& name) const
{
    if (!list) return Participant();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(ColName) == name) return Participant(list->topLevelItem(i));
    }
    return Participant();
}

Participant Room::addRow(const QString& name, const QString& iconKey)
{
    auto* item = new QTreeWidgetItem(list);
    Participant p(item);
    p.setName(name);
    p.setIconKey(iconKey);
    return p;
}

bool Room::removeRow(const QString& name)
{
    const Participant p = findRow(name);
    if (p.isNull()) return false;
    delete p.item();
    return true;
}

void Room::keepOnlyOwnRow()
{
    while (list && list->topLevelItemCount() > 1)
        delete list->topLevelItem(list->topLevelItemCount() - 1);
}

// ---- RoomTable ---------------------------------------------------------------

int RoomTable::FindRoom(const QString& tag) const
{
    if (tag == QString(word::PublicRoomTag)) return 0;
    for (int i = 1; i < count(); ++i) {
        if (at(i).tag == tag) return i;
    }
    return -1;
}

Room& RoomTable::append(std::unique_ptr<Room> room)
{
    m_rooms.push_back(std::move(room));
    return *m_rooms.back();
}

std::unique_ptr<Room> RoomTable::take(int position)
{
    if (!valid(position)) return nullptr;
    auto it = m_rooms.begin() + position;
    std::unique_ptr<Room> room = std::move(*it);
    m_rooms.erase(it);
    return room;
}

} // namespace kv::control
