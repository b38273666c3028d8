// The widgets of the rooms: a room's button, list and transcript made and removed,
// switching rooms, the selection, and leaving rooms.
#include "Control/Kivara.h"

#include "Control/FileDrop.h"
#include "Control/Icons.h"
#include "Control/KivaraUi.h"
#include "Control/Layout.h"
#include "Control/MessageEntry.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Transcript.h"
#include "Control/TranscriptExport.h"
#include "Control/frmOptions.h"
#include "Platform/Events.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Platform/Sound.h"
#include "Shared/PeerslipMail.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "ui_Kivara.h"

#include <QHeaderView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;
using namespace kivaraui;

namespace {

// A participant row as the list shows it: the icon of its key before the
// name, greyed while dimmed.
class ParticipantDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == ColName) {
            option->icon = ParticipantIcon(index.data(ParticipantModel::IconKeyRole).toString());
            option->features |= QStyleOptionViewItem::HasDecoration;
        }
        if (index.data(ParticipantModel::DimmedRole).toBool())
            option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Disabled, QPalette::Text));
    }
};

} // namespace

Room& Kivara::createRoom(const QString& tag)
{
    auto room = std::make_unique<Room>(tag);
    RoomView view;
    view.button = new QPushButton(RoomCaption(tag), ui->fraRooms);
    view.button->setAcceptDrops(true);
    view.button->setIcon(ProductIcon());
    view.button->installEventFilter(this);
    auto* layout = ui->layRooms;
    layout->insertWidget(layout->count() - 1, view.button);

    QTreeView* list = view.list = new QTreeView(ui->stkLists);
    list->setModel(&room->participants);
    list->setItemDelegate(new ParticipantDelegate(list));
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    list->setDragEnabled(true);
    list->setDragDropMode(QAbstractItemView::DragOnly);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(0);
    list->header()->setSectionResizeMode(ColName, QHeaderView::Stretch);
    const bool details = m_roomDetails;
    for (int c = ColAvailability; c < ColumnCount; ++c)
        list->header()->resizeSection(c, details ? list->columnWidth(ColName) : 0);
    m_fileDrop->watch(list);
    list->setVisible(ReadFlag(Deliverable::Quillon, settings::ShowUsers));
    ui->stkLists->addWidget(list);

    view.transcript = new QTextEdit(ui->stkTranscripts);
    PrepareTranscript(view.transcript, &room->transcript);
    m_transcriptView->watch(view.transcript);
    view.transcript->setFont(ui->txtSend->font());
    ui->stkTranscripts->addWidget(view.transcript);

    connect(list, &QTreeView::customContextMenuRequested, this, [this, list](const QPoint& pos) {
        if (list != currentList()) return;
        PrepareUserMenu();
        m_mnuUser->popup(list->viewport()->mapToGlobal(pos));
    });
    connect(list, &QTreeView::doubleClicked, this, [this] {
        if (selectedRow().isNull()) return;
        if (selectionIsOwnRow())
            openOptions(int(frmOptions::Mode::Normal));
        else
            UserMenu_Click(5);
    });
    connect(&room->participants, &ParticipantModel::ownNameEdited, this,
            [this](const QString& name) { OwnRowEdited(m_profile.ChatName, name); });
    QPushButton* button = view.button;
    connect(button, &QPushButton::clicked, this, [this, button] {
        for (size_t i = 0; i < m_roomViews.size(); ++i) {
            if (m_roomViews[i].button == button) SwitchRoom(int(i));
        }
    });

    m_roomViews.push_back(view);
    Room& added = m_rooms.append(std::move(room));
    renumberRooms();
    return added;
}

void Kivara::renumberRooms()
{
    for (int i = 0; i < m_rooms.count(); ++i) {
        const QString n = QString::number(i);
        roomView(i).button->setObjectName(u"cmdMain_"_s + n);
        roomView(i).list->setObjectName(u"lstMain_"_s + n);
        roomView(i).transcript->setObjectName(u"txtMain_"_s + n);
    }
}

void Kivara::applyRoomButtons()
{
    const bool several = m_rooms.count() > 1;
    ui->fraRooms->setVisible(several);
    for (int i = 0; i < m_rooms.count(); ++i)
        roomView(i).button->setVisible(several && i != m_rooms.current);
}

short Kivara::OpenPrivateRoom(const QStringList& vData)
{
    const std::optional<UserRecord> other = UserRecord::fromFields(vData, field::Record);
    if (!other || other->chatName.isEmpty()) return -1;
    // Tags are unique: a room already open with that party is the answer.
    const int existing = m_rooms.FindRoom(other->chatName);
    if (existing >= 1) return short(existing);
    Room& room = createRoom(other->chatName);
    Participant own =
        room.addRow(m_profile.ChatName, QString::number(m_profile.ChatType) + OwnIconSuffix.toString());
    UserRecord ownFields = ownRecord();
    ownFields.ipAddress = Socket::LocalIP();
    own.setDetails(ownFields);
    room.participants.setOwnRowEditable(true);
    Participant party = room.addRow(other->chatName, other->iconCode + OtherIconSuffix.toString());
    party.setDetails(*other);
    AppendPlainText(room.transcript,
                    text::NowChattingIn.toString() + other->chatName + text::PrivateRoomOpened.toString());
    const int position = m_rooms.count() - 1;
    ShowRoomName();
    SwitchRoom(position);
    return short(position);
}

int Kivara::ClosePrivateRoom(const QVariant& sUserName)
{
    const QString tag = sUserName.toString();
    const int position = m_rooms.FindRoom(tag);
    if (position < 1) return -1;
    const bool wasCurrent = position == m_rooms.current;
    const RoomView view = roomView(position);
    detachRoomView(view);
    ui->layRooms->removeWidget(view.button);
    view.button->hide();
    ui->stkLists->removeWidget(view.list);
    ui->stkTranscripts->removeWidget(view.transcript);
    // The views may be inside their own handlers: they go later, the room's model and document now.
    view.button->deleteLater();
    view.list->deleteLater();
    view.transcript->deleteLater();
    m_roomViews.erase(m_roomViews.begin() + position);
    m_rooms.take(position);
    renumberRooms();
    // The room in front stays in front; when it was the one closed, the room before it comes forward.
    int next = m_rooms.current;
    if (wasCurrent)
        next = position - 1;
    else if (m_rooms.current > position)
        next = m_rooms.current - 1;
    m_rooms.current = -1;
    SwitchRoom(next);
    if (m_rooms.count() == 1) {
        roomView(0).button->setVisible(false);
        if (Alone(0)) SetCallStatus(call::Idle);
    }
    return 0;
}

QStringList Kivara::SelectedUser() const
{
    const Participant p = selectedRow();
    if (p.isNull()) return {};
    QStringList columns;
    for (int c = 0; c < ColumnCount; ++c)
        columns << p.column(Column(c));
    return columns;
}

QTreeView* Kivara::currentList() const
{
    return roomView(m_rooms.valid(m_rooms.current) ? m_rooms.current : 0).list;
}

QList<Participant> Kivara::selectedRows() const
{
    const auto* model = static_cast<const ParticipantModel*>(currentList()->model());
    QList<Participant> rows;
    for (const QModelIndex& index : currentList()->selectionModel()->selectedRows())
        rows.append(model->at(index.row()));
    std::sort(rows.begin(), rows.end(), [](const Participant& a, const Participant& b) { return a.index() < b.index(); });
    return rows;
}

QString Kivara::selectedAddresses() const
{
    QStringList addresses;
    for (const Participant& p : selectedRows())
        if (p.index() > 0) addresses << p.email();
    return addresses.join(u"; "_s);
}

Participant Kivara::selectedRow() const
{
    // The current row when it is selected, otherwise the first selected one.
    const QModelIndex current = currentList()->currentIndex();
    if (current.isValid() && currentList()->selectionModel()->isRowSelected(current.row()))
        return static_cast<const ParticipantModel*>(current.model())->at(current.row());
    const QList<Participant> rows = selectedRows();
    return rows.isEmpty() ? Participant() : rows.first();
}

bool Kivara::selectionIsOwnRow() const
{
    return selectedRow().index() == 0;
}

void Kivara::SwitchRoom(int position)
{
    if (!m_rooms.valid(position)) return;
    const int p = m_rooms.current;
    Room& next = m_rooms.at(position);
    m_rooms.current = position;
    m_rooms.currentTag = next.tag;
    const RoomView& nextView = roomView(position);
    ui->stkTranscripts->setCurrentWidget(nextView.transcript);
    ui->stkLists->setCurrentWidget(nextView.list);
    // The previous room's button takes the slot of the one now in front.
    if (m_rooms.valid(p) && p != position) {
        QPushButton* prev = roomView(p).button;
        const int slot = ui->layRooms->indexOf(nextView.button);
        ui->layRooms->removeWidget(prev);
        ui->layRooms->insertWidget(qMax(0, qMin(slot, ui->layRooms->count() - 1)), prev);
    }
    applyRoomButtons();
    const Room* shown = &next;
    platform::DoEvents();
    // Handlers run while yielding may have closed this room or switched to another one.
    if (!m_rooms.valid(position) || &m_rooms.at(position) != shown || m_rooms.current != position) return;
    ShowRoomName();
    roomView(position).button->setText(panelText(1));
    for (const RoomView& view : m_roomViews)
        view.button->raise();
    focusEntry();
}

void Kivara::ShowRoomName()
{
    setPanel(1, m_rooms.current == 0 ? PublicRoomCaption.toString() : RoomCaption(m_rooms.currentTag));
}

void Kivara::DropParticipantOnRoom(int position, const QString& name)
{
    if (!m_rooms.valid(position) || name.isEmpty()) return;
    Room& target = m_rooms.at(position);
    const Participant dragged = m_rooms.currentRoom().findRow(name);
    if (dragged.isNull()) return;
    // 1-2. The target room's list, to the dragged participant.
    QStringList fields{QString(msg::RoomList), target.tag};
    for (int n = 1; n <= target.rowCount(); ++n)
        fields += target.row(n).record().fields();
    SendToParticipant(*m_wskChat, m_rooms, m_rooms.current, name, fields.join(FieldSeparator));
    // 3. The participant joins the target room's list (looked up there, so a row is never listed twice).
    Participant row = target.findRow(name);
    if (row.isNull()) {
        row = target.addRow(name, dragged.iconKey());
        row.setDetails(dragged.record());
        MsgBox(name + text::AddedTo.toString() + target.tag + text::AddedToEnd.toString(), MsgButtons::OK,
               MsgIcon::Information);
    } else {
        row.setName(dragged.name());
        row.setDetails(dragged.record());
    }
}

int Kivara::Disconnect(bool bPrompt)
{
    if (bPrompt && m_state.callStatus == call::Connected &&
        MsgBox(text::InCallQuestion.toString(), MsgButtons::YesNo, MsgIcon::Information) != MsgResult::Yes)
        return -1;
    if (m_state.callStatus != call::Idle) DataSend(mode::GiveUp);
    for (int position = m_rooms.highest(); position >= 1; --position) {
        if (!m_rooms.valid(position)) continue;
        const QString tag = m_rooms.at(position).tag;
        if (m_rooms.FindRoom(tag) < 1) {
            MsgBox(text::RoomNotFound.toString(), MsgButtons::OK, MsgIcon::Information);
            continue;
        }
        DataSend(mode::Leave, tag, QString::number(position));
        ClosePrivateRoom(tag);
    }
    if (m_state.callStatus != call::Idle) {
        DataSend(mode::Leave, PublicTag.toString(), u"0"_s);
        m_rooms.publicRoom().keepOnlyOwnRow();
        // Out of the call: otherwise the control would go on showing "Connected"
        // and offer only "&End Call", never a new call.
        if (m_state.callStatus != call::NotStarted && m_state.callStatus != call::NoProfile)
            SetCallStatus(call::Idle);
    }
    return 0;
}

void Kivara::LeaveRoom(int position)
{
    const QString tag = m_rooms.at(position).tag;
    DataSend(mode::Leave, tag, QString::number(position));
    if (position >= 1) {
        ClosePrivateRoom(tag);
        return;
    }
    // The others were told we left; showing them still would invite lines nobody reads.
    m_rooms.publicRoom().keepOnlyOwnRow();
    // Private rooms still open keep the call; without them the control is ready for a new one.
    const short status = m_state.callStatus;
    if (m_rooms.count() == 1 && status != call::NotStarted && status != call::NoProfile && status != call::Idle)
        SetCallStatus(call::Idle);
}

} // namespace kv::control
