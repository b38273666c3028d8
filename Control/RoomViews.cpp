// The widgets of the rooms: a room's button, list and transcript made and removed,
// switching rooms, the selection, and leaving rooms.
#include "Control/Kivara.h"

#include "Control/FileDrop.h"
#include "Control/Icons.h"
#include "Control/KivaraUi.h"
#include "Control/Layout.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/MessageEntry.h"
#include "Control/Transcript.h"
#include "Control/TranscriptExport.h"
#include "Control/frmOptions.h"
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

using namespace kivaraui;

namespace {

// What assistive technology calls a room's widgets and says they do.
constexpr QStringView RoomButtonDescription = u"Brings this room to the front";
constexpr QStringView ListName = u"Participants";
constexpr QStringView ListDescription =
    u"The people in the room in front; the menu key or Shift+F10 opens the menu of the one chosen";
constexpr QStringView TranscriptName = u"Transcript";
constexpr QStringView TranscriptDescription =
    u"The lines of the room in front; the menu key or Shift+F10 opens its menu";

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

void Kivara::roomOpened(int position)
{
    Room* room = &rooms().at(position);
    const QString tag = room->tag;
    RoomView view;
    view.button = new QPushButton(RoomCaption(tag), ui->fraRooms);
    view.button->setAcceptDrops(true);
    view.button->setIcon(ProductIcon());
    view.button->installEventFilter(this);
    view.button->setAccessibleDescription(RoomButtonDescription.toString());
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
    list->setAccessibleName(ListName.toString());
    list->setAccessibleDescription(ListDescription.toString());
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(0);
    list->header()->setSectionResizeMode(ColName, QHeaderView::Stretch);
    const bool details = m_roomDetails;
    for (int c = ColAvailability; c < ColumnCount; ++c)
        list->header()->resizeSection(c, details ? list->columnWidth(ColName) : 0);
    m_fileDrop->watch(list);
    list->installEventFilter(this);
    list->setVisible(ReadFlag(Deliverable::Quillon, settings::ShowUsers));
    ui->stkLists->addWidget(list);

    view.transcript = new QTextEdit(ui->stkTranscripts);
    PrepareTranscript(view.transcript, &room->transcript);
    m_transcriptView->watch(view.transcript);
    view.transcript->setFont(ui->txtSend->font());
    view.transcript->setAccessibleName(TranscriptName.toString());
    view.transcript->setAccessibleDescription(TranscriptDescription.toString());
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
            [this](const QString& name) { OwnRowEdited(profile().ChatName, name); });
    QPushButton* button = view.button;
    connect(button, &QPushButton::clicked, this, [this, button] {
        for (size_t i = 0; i < m_roomViews.size(); ++i) {
            if (m_roomViews[i].button == button) SwitchRoom(int(i));
        }
    });

    m_roomViews.insert(m_roomViews.begin() + position, view);
    renumberRooms();
    // A room alone needs no button.
    applyRoomButtons();
}

void Kivara::roomClosing(int position)
{
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
    renumberRooms();
}

void Kivara::roomCaptionChanged(int position, bool inFront)
{
    const QString caption = RoomCaption(rooms().at(position).tag);
    roomView(position).button->setText(caption);
    if (inFront) showPanel(1, caption);
}

void Kivara::roomMarked(int position)
{
    if (!rooms().valid(position) || position == rooms().current) return;
    QPushButton* button = roomView(position).button;
    if (!button->text().contains(u'*')) button->setText(u"* "_s + button->text() + u" *"_s);
}

void Kivara::conversationCleared()
{
    rooms().publicRoom().transcript.clear();
    ui->txtSend->clear();
}

void Kivara::renumberRooms()
{
    for (size_t i = 0; i < m_roomViews.size(); ++i) {
        const QString n = QString::number(i);
        m_roomViews[i].button->setObjectName(u"cmdMain_"_s + n);
        m_roomViews[i].list->setObjectName(u"lstMain_"_s + n);
        m_roomViews[i].transcript->setObjectName(u"txtMain_"_s + n);
    }
}

void Kivara::applyRoomButtons()
{
    const bool several = m_roomViews.size() > 1;
    ui->fraRooms->setVisible(several);
    for (size_t i = 0; i < m_roomViews.size(); ++i)
        m_roomViews[i].button->setVisible(several && int(i) != rooms().current);
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
    return roomView(rooms().valid(rooms().current) ? rooms().current : 0).list;
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
    if (!rooms().valid(position)) return;
    const int p = rooms().current;
    Room& next = rooms().at(position);
    rooms().current = position;
    rooms().currentTag = next.tag;
    const RoomView& nextView = roomView(position);
    ui->stkTranscripts->setCurrentWidget(nextView.transcript);
    ui->stkLists->setCurrentWidget(nextView.list);
    // The previous room's button takes the slot of the one now in front.
    if (rooms().valid(p) && p != position) {
        QPushButton* prev = roomView(p).button;
        const int slot = ui->layRooms->indexOf(nextView.button);
        ui->layRooms->removeWidget(prev);
        ui->layRooms->insertWidget(qMax(0, qMin(slot, ui->layRooms->count() - 1)), prev);
    }
    applyRoomButtons();
    ShowRoomName();
    roomView(position).button->setText(panelText(1));
    for (const RoomView& view : m_roomViews)
        view.button->raise();
    focusEntry();
}

void Kivara::DropParticipantOnRoom(int position, const QString& name)
{
    if (!rooms().valid(position) || name.isEmpty()) return;
    Room& target = rooms().at(position);
    const Participant dragged = rooms().currentRoom().findRow(name);
    if (dragged.isNull()) return;
    // 1-2. The target room's list, to the dragged participant.
    QStringList fields{QString(msg::RoomList), target.tag};
    for (int n = 1; n <= target.rowCount(); ++n)
        fields += target.row(n).record().fields();
    SendToParticipant(chatSocket(), rooms(), rooms().current, name, fields.join(FieldSeparator));
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

} // namespace kv::control
