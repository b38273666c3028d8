#include "Control/Session/Rooms.h"

using namespace Qt::StringLiterals;

namespace kv::control {

struct ParticipantRow {
    QString columns[ColumnCount];
    QString savedAvailability;
    QString iconKey;
    bool dimmed = false;
};

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

int Participant::index() const { return m_model ? m_model->indexOf(m_row) : -1; }

void Participant::setColumn(Column column, const QString& text)
{
    if (!m_row || m_row->columns[column] == text) return;
    m_row->columns[column] = text;
    m_model->changed(m_row, column, column);
}

QString Participant::column(Column column) const { return m_row ? m_row->columns[column] : QString(); }

QString Participant::savedAvailability() const { return m_row ? m_row->savedAvailability : QString(); }

void Participant::setSavedAvailability(const QString& text)
{
    if (!m_row) return;
    m_row->savedAvailability = text;
    m_model->changed(m_row, ColName, ColName);
}

bool Participant::dimmed() const { return m_row && m_row->dimmed; }

void Participant::setDimmed(bool dimmed)
{
    if (!m_row || m_row->dimmed == dimmed) return;
    m_row->dimmed = dimmed;
    m_model->changed(m_row, 0, ColumnCount - 1);
}

QString Participant::iconKey() const { return m_row ? m_row->iconKey : QString(); }

void Participant::setIconKey(const QString& key)
{
    if (!m_row) return;
    m_row->iconKey = key;
    m_model->changed(m_row, ColName, ColName);
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

// ---- ParticipantModel --------------------------------------------------------

ParticipantModel::ParticipantModel(QObject* parent) : QAbstractTableModel(parent) {}
ParticipantModel::~ParticipantModel() = default;

int ParticipantModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ParticipantModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

bool ParticipantModel::holds(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && !index.parent().isValid() && index.row() < rowCount() &&
           index.column() < ColumnCount;
}

QVariant ParticipantModel::data(const QModelIndex& index, int role) const
{
    if (!holds(index)) return {};
    const ParticipantRow& row = *m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.columns[index.column()];
    case Qt::ToolTipRole:
    case AvailabilityRole:
        return row.columns[ColAvailability];
    case NameRole:
        return row.columns[ColName];
    case AddressRole:
        return row.columns[ColAddress];
    case SerialRole:
        return row.columns[ColSerial];
    case IconKeyRole:
        return row.iconKey;
    case IgnoredRole:
        return !row.savedAvailability.isEmpty();
    case DimmedRole:
        return row.dimmed;
    default:
        return {};
    }
}

bool ParticipantModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    Q_EMIT ownNameEdited(value.toString());
    return true;
}

Qt::ItemFlags ParticipantModel::flags(const QModelIndex& index) const
{
    if (!holds(index)) return {};
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (m_ownEditable && index.row() == 0 && index.column() == ColName) f |= Qt::ItemIsEditable;
    return f;
}

QVariant ParticipantModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return section == ColName ? m_caption : DetailHeaders().at(section - 1);
}

QHash<int, QByteArray> ParticipantModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractTableModel::roleNames();
    names.insert({{NameRole, "name"},
                  {AvailabilityRole, "availability"},
                  {AddressRole, "address"},
                  {SerialRole, "serial"},
                  {IconKeyRole, "iconKey"},
                  {IgnoredRole, "ignored"},
                  {DimmedRole, "dimmed"}});
    return names;
}

void ParticipantModel::setCaption(const QString& caption)
{
    if (m_caption == caption) return;
    m_caption = caption;
    Q_EMIT headerDataChanged(Qt::Horizontal, ColName, ColName);
}

void ParticipantModel::setOwnRowEditable(bool editable)
{
    m_ownEditable = editable;
    if (!m_rows.empty()) changed(m_rows.front().get(), ColName, ColName);
}

Participant ParticipantModel::at(int index) const
{
    if (index < 0 || index >= rowCount()) return {};
    return Participant(const_cast<ParticipantModel*>(this), m_rows[static_cast<size_t>(index)].get());
}

Participant ParticipantModel::append(const QString& name, const QString& iconKey)
{
    const int n = rowCount();
    beginInsertRows({}, n, n);
    auto row = std::make_unique<ParticipantRow>();
    row->columns[ColName] = name;
    row->iconKey = iconKey;
    m_rows.push_back(std::move(row));
    endInsertRows();
    return at(n);
}

void ParticipantModel::truncate(int count)
{
    if (count < 0 || count >= rowCount()) return;
    beginRemoveRows({}, count, rowCount() - 1);
    m_rows.resize(static_cast<size_t>(count));
    endRemoveRows();
}

void ParticipantModel::remove(const Participant& p)
{
    const int n = p.index();
    if (n < 0) return;
    beginRemoveRows({}, n, n);
    m_rows.erase(m_rows.begin() + n);
    endRemoveRows();
}

int ParticipantModel::indexOf(const ParticipantRow* row) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].get() == row) return static_cast<int>(i);
    return -1;
}

void ParticipantModel::changed(const ParticipantRow* row, int firstColumn, int lastColumn)
{
    const int n = indexOf(row);
    if (n >= 0) Q_EMIT dataChanged(index(n, firstColumn), index(n, lastColumn));
}

// ---- Room --------------------------------------------------------------------

Room::Room(const QString& roomTag)
    : tag(roomTag)
{
    participants.setCaption(RoomCaption(roomTag));
    // Lines are only ever appended: nothing to undo, and no history growing with the text.
    transcript.setUndoRedoEnabled(false);
}

void Room::rename(const QString& newTag)
{
    tag = newTag;
    participants.setCaption(RoomCaption(newTag));
}

bool Room::isPublic() const
{
    return tag == PublicTag.toString();
}

int Room::rowCount() const { return participants.rowCount(); }

Participant Room::row(int n) const { return participants.at(n - 1); }

Participant Room::findRow(const QString& name) const
{
    for (int i = 0; i < participants.rowCount(); ++i) {
        const Participant p = participants.at(i);
        if (p.name() == name) return p;
    }
    return {};
}

Participant Room::addRow(const QString& name, const QString& iconKey) { return participants.append(name, iconKey); }

bool Room::removeRow(const QString& name)
{
    const Participant p = findRow(name);
    if (p.isNull()) return false;
    participants.remove(p);
    return true;
}

void Room::keepOnlyOwnRow() { participants.truncate(1); }

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
