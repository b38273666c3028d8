#include "Control/Kivara.h"

#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/FileSend.h"
#include "Control/Icons.h"
#include "Control/Layout.h"
#include "Control/MessageEntry.h"
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

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTimer>
#include <QStyledItemDelegate>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;

namespace {

// Texts the user sees, exactly as the product shows them.
namespace text {
constexpr QStringView NoNetworkAtStart =
    u"You are not connected to the network or Internet.\r\rYou must connect to the "
    u"network to chat with your Kivara Contacts.";
constexpr QStringView ProfileCreated = u"Your Kivara Profile was successfully created.";
constexpr QStringView ProfileNotFound =
    u"Your Kivara Profile was not found.\r\rYou must create a profile before "
    u"using Kivara for Microsoft Outlook.";
constexpr QStringView SessionInProgress =
    u"A chat session is already in progress.\r\rPlease close the chat session and try again.";
constexpr QStringView NoNetworkPanel = u"No network services were detected.  Connect to network.";
constexpr QStringView Offline = u"Offline";
constexpr QStringView WaitingForCall = u"Waiting for call...";
constexpr QStringView Connecting = u"Connecting...";
constexpr QStringView Connected = u"Connected";
constexpr QStringView PlaceCall = u"&Place Call";
constexpr QStringView PlaceCallAtLoad = u"Place &Call";
constexpr QStringView EndCall = u"&End Call";
constexpr QStringView EnterChatName = u"Enter new Chat name:";
constexpr QStringView DisconnectQuestion = u"Disconnect '";
constexpr QStringView Disconnected = u"disconnected ";
constexpr QStringView ChoseYourself = u"You have chosen yourself.\r\rWould you like to edit your profile ?";
constexpr QStringView CloseRoomQuestion = u"Close ";
constexpr QStringView CloseRoomQuestionEnd = u"'s private room ?";
constexpr QStringView CloseDisconnects = u"\r\rClosing this private room will disconnect the call.";
constexpr QStringView RoomNotFound = u"Private room not found.";
constexpr QStringView InCallQuestion =
    u"You are currently in a call.  If you exit, you will be diconnected.\r\rExit now?";
constexpr QStringView AddedTo = u" has been added to ";
constexpr QStringView AddedToEnd = u" room.";
constexpr QStringView NowChattingIn = u"Now chatting in ";
constexpr QStringView PrivateRoomOpened = u"'s private room...\r\n";
constexpr QStringView FilePortBusy = u"Files cannot be sent: port %1 is not available.";
constexpr QStringView SendingFile = u"Sending file ";
constexpr QStringView FileOffered = u"Offering %1 to %2...\r\n";
constexpr QStringView FileQueued = u"%1 will be offered to %2 next.\r\n";
constexpr QStringView SelectFileTitle = u"Select file to send...";
constexpr QStringView SelectFileFilter = u"All Files (*.*)|*.*|Kivara Peerslip (*.kvp)|*.kvp";
constexpr QStringView Downloads = u"Downloads";
constexpr QStringView FloppyCaptionEnd = u" Floppy (A)";
} // namespace text

// DataSend modes.
namespace mode {
constexpr short Hello = 0, RoomList = 3, Leave = 4, GetUserSimple = 5, PubChat = 7, PriChat = 8, Status = 9,
                NickName = 10, GetUserProfile = 11, DumpUser = 12, FilePrep = 14, NoFile = 18, GiveUp = 19,
                Update = 20;
}

// The availability menu's captions, in order ("-" is its separator).
const QStringList& StatusCaptions()
{
    static const QStringList captions = {availability::Available.toString(),
                                         availability::Unavailable.toString(),
                                         u"-"_s,
                                         availability::BeRightBack.toString(),
                                         availability::OnThePhone.toString(),
                                         availability::SteppedOut.toString(),
                                         availability::OutOfOffice.toString()};
    return captions;
}

const QStringList& UserMenuCaptions()
{
    static const QStringList captions = {u"&Change Chat Name..."_s, u"-"_s, u"Send &E-Mail..."_s,
                                         u"Send &File..."_s,        u"-"_s, u"View &Peerslip..."_s,
                                         u"&Add to Contacts"_s,     u"-"_s, u"I&gnore Contact"_s,
                                         u"Dis&connect Contact"_s,  u"-"_s, u"&Open Private Room"_s,
                                         u"&Close Private Room"_s,  u"-"_s, u"&Show Room Details"_s};
    return captions;
}

QMenu* makeMenu(QWidget* owner, const QString& name, const QStringList& captions)
{
    auto* menu = new QMenu(owner);
    menu->setObjectName(name);
    for (int i = 0; i < captions.size(); ++i) {
        QAction* a = captions[i] == u"-"_s ? menu->addSeparator() : menu->addAction(captions[i]);
        a->setObjectName(name + u'_' + QString::number(i));
    }
    return menu;
}

QAction* item(QMenu* menu, int index)
{
    const QList<QAction*> actions = menu->actions();
    return index >= 0 && index < actions.size() ? actions[index] : nullptr;
}

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

// ---- Lifecycle ---------------------------------------------------------------

Kivara::Kivara(QWidget* parent, const KivaraTimings& timings)
    : QWidget(parent), ui(std::make_unique<Ui::Kivara>()), m_timings(timings)
{
    ui->setupUi(this);
    setWindowIcon(ProductIcon());
    m_wskChat = new Socket(Socket::Protocol::Udp, this);
    m_wskChat->setObjectName(u"wskChat"_s);
    m_wskProbe = new Socket(Socket::Protocol::Tcp, this);
    m_wskProbe->setObjectName(u"wskProbe"_s);
    m_fileSend = new FileSend(m_timings.fileOfferMs, this);
    connect(m_fileSend, &FileSend::statusText, this, [this](const QString& text) { setPanel(1, text); });
    connect(m_fileSend, &FileSend::cancelButtonVisible, ui->cmdCancel, &QWidget::setVisible);
    connect(m_fileSend, &FileSend::roomNameRestored, this, &Kivara::ShowRoomName);
    // Queued: the offer may end inside a send that is still unwinding.
    connect(m_fileSend, &FileSend::offerEnded, this, &Kivara::offerNextFile, Qt::QueuedConnection);
    m_fileDrop = new FileDrop(
        [this](const QString& name, const QString& path) { DataSend(mode::FilePrep, name, path); }, this);
    m_tmrMain = new QTimer(this);
    m_tmrMain->setObjectName(u"tmrMain"_s);
    m_tmrMain->setInterval(m_timings.mainTimerMs);

    connect(m_wskChat, &Socket::DataArrival, this, &Kivara::onChatDatagram);
    connect(m_wskChat, &Socket::Error, this, &Kivara::onChatError);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &Kivara::CancelCall);
    connect(m_tmrMain, &QTimer::timeout, this, &Kivara::onMainTimer);
    ui->txtSend->installEventFilter(this);
    ui->txtSend->viewport()->installEventFilter(this);
    ui->txtSend->setContextMenuPolicy(Qt::NoContextMenu);
    ui->picSplit->setStretchFactor(0, 3);
    ui->picSplit->setStretchFactor(1, 1);
    m_layout = new LayoutKeeper(this, ui->picSplit);

    buildMenus();
    buildStatusBar();
    Initialize();
}

Kivara::~Kivara()
{
    Terminate();
    // The rooms go before the widgets that show them.
    for (const RoomView& view : m_roomViews)
        detachRoomView(view);
}

void Kivara::detachRoomView(const RoomView& view)
{
    view.list->setModel(nullptr);
    view.transcript->setDocument(nullptr);
}

void Kivara::Initialize()
{
    // Status-bar panels are made in buildStatusBar; the public room with its transcript and list here.
    createRoom(PublicTag.toString());
    m_roomViews.front().button->setVisible(false);
    SwitchRoom(0);
    m_rooms.currentTag = PublicTag.toString();
    if (QAction* floppy = item(m_mnuSendTo, 0))
        floppy->setText(u"3"_s + QChar(189) + text::FloppyCaptionEnd.toString());
    m_state.confirmContactSaves = true;
    setPanel(2, availability::Available.toString(), picture::Available.toString());
}

void Kivara::Terminate()
{
    if (!m_sessionEnded) LeaveOnClose();
    m_sessionEnded = true;
    closeWaitChatSocket();
    m_fileSend->Close();
    m_objParent = nullptr;
    m_inspector.reset();
    if (m_store) m_store->Release();
}

void Kivara::LeaveOnClose()
{
    // As /quit does, so that peers drop the row rather than keep sending to a
    // closed form. Nothing here yields: the control is going away.
    if (m_state.callStatus == call::Calling || m_state.callStatus == call::WaitingToEnter) sendGiveUp();
    for (int position = m_rooms.highest(); position >= 1; --position)
        DataSend(mode::Leave, m_rooms.at(position).tag, QString::number(position));
    if (m_rooms.publicRoom().rowCount() > 1) DataSend(mode::Leave, PublicTag.toString(), u"0"_s);
}

outlook::Item Kivara::shownItem() const
{
    if (m_inspector) return m_inspector->CurrentItem();
    // A host that reaches the control by name hands it the form's item through objParent.
    QVariant item;
    if (m_objParent && QMetaObject::invokeMethod(m_objParent, "CurrentItem", Q_RETURN_ARG(QVariant, item)))
        return item.value<outlook::Item>();
    return {};
}

bool Kivara::CloseParentForm()
{
    if (m_inspector) return m_inspector->Close(outlook::olSave);
    if (m_objParent) return QMetaObject::invokeMethod(m_objParent, "Close", Q_ARG(int, outlook::olSave));
    return false;
}

void Kivara::closeWaitChatSocket()
{
    m_wskChat->Close();
    // Bound: socketCloseWaitMs; Close releases the port at once, so this normally returns at the first check.
    platform::WaitUntil([this] { return m_wskChat->State() == Socket::sckClosed; },
                        m_timings.socketCloseWaitMs);
}

// ---- Widgets -----------------------------------------------------------------

void Kivara::buildMenus()
{
    m_mnuFile =
        makeMenu(this, u"mnuFile"_s,
                 {text::PlaceCallAtLoad.toString(), u"-"_s, u"&Save"_s, u"Save &As..."_s, u"-"_s,
                  u"Print Set&up..."_s, u"&Print..."_s, u"-"_s, u"Se&nd To"_s, u"-"_s, u"&Options..."_s});
    m_mnuSendTo = makeMenu(this, u"mnuSendTo"_s, {u"3x &Floppy (A)"_s, u"&Outlook Recipient"_s});
    item(m_mnuFile, 8)->setMenu(m_mnuSendTo);
    item(m_mnuFile, 2)->setShortcut(QKeySequence(u"Ctrl+S"_s));
    item(m_mnuFile, 6)->setShortcut(QKeySequence(u"Ctrl+P"_s));
    m_mnuEdit = makeMenu(this, u"mnuEdit"_s, {u"&Copy"_s, u"-"_s, u"Select A&ll"_s});
    item(m_mnuEdit, 0)->setShortcut(QKeySequence(u"Ctrl+C"_s));
    item(m_mnuEdit, 2)->setShortcut(QKeySequence(u"Ctrl+A"_s));
    // The shortcuts work while the focus is anywhere in the control; the entry
    // box keeps its own copy and select-all while it has the focus.
    for (QAction* a : {item(m_mnuFile, 2), item(m_mnuFile, 6), item(m_mnuEdit, 0), item(m_mnuEdit, 2)}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }
    m_transcriptView = new TranscriptView({[this] { focusEntry(); },
                                           [this](const QPoint& at) {
                                               m_mnuEdit->setDefaultAction(item(m_mnuEdit, 0));
                                               m_mnuEdit->popup(at);
                                           },
                                           [this](const QPoint& at) {
                                               m_mnuFile->setDefaultAction(item(m_mnuFile, 0));
                                               m_mnuFile->popup(at);
                                           }},
                                          this);
    m_mnuUser = makeMenu(this, u"mnuUser"_s, UserMenuCaptions());
    item(m_mnuUser, 8)->setCheckable(true);
    item(m_mnuUser, 14)->setCheckable(true);
    m_mnuPrivate = makeMenu(this, u"mnuPrivate"_s, {u"&Close room"_s});
    m_mnuStatus = makeMenu(this, u"mnuStatus"_s, StatusCaptions());
    for (QAction* a : m_mnuStatus->actions())
        a->setCheckable(!a->isSeparator());
    item(m_mnuStatus, 0)->setChecked(true);
    m_mnuSendEdit =
        makeMenu(this, u"mnuSendEdit"_s, {u"Cu&t"_s, u"&Copy"_s, u"&Paste"_s, u"-"_s, u"&Delete"_s});
    for (int i = 0; i < m_mnuSendEdit->actions().size(); ++i)
        item(m_mnuSendEdit, i)->setObjectName(u"mnuSE_"_s + QString::number(i));
    item(m_mnuSendEdit, 0)->setShortcut(QKeySequence(u"Ctrl+X"_s));
    item(m_mnuSendEdit, 2)->setShortcut(QKeySequence(u"Ctrl+V"_s));

    auto wire = [this](QMenu* menu, void (Kivara::*handler)(short)) {
        const QList<QAction*> actions = menu->actions();
        for (int i = 0; i < actions.size(); ++i) {
            if (actions[i]->isSeparator() || actions[i]->menu()) continue;
            connect(actions[i], &QAction::triggered, this,
                    [this, handler, i] { (this->*handler)(short(i)); });
        }
    };
    wire(m_mnuFile, &Kivara::FileMenu_Click);
    wire(m_mnuSendTo, &Kivara::SendToTarget_Click);
    wire(m_mnuEdit, &Kivara::EditMenu_Click);
    wire(m_mnuUser, &Kivara::UserMenu_Click);
    wire(m_mnuPrivate, &Kivara::PrivateMenu_Click);
    wire(m_mnuStatus, &Kivara::StatusMenu_Click);
    // Checkable items toggle their own mark when triggered; the handlers then set it as it must be.

    QTextEdit* box = ui->txtSend;
    connect(item(m_mnuSendEdit, 0), &QAction::triggered, box, &QTextEdit::cut);
    connect(item(m_mnuSendEdit, 1), &QAction::triggered, box, &QTextEdit::copy);
    connect(item(m_mnuSendEdit, 2), &QAction::triggered, box, &QTextEdit::paste);
    connect(item(m_mnuSendEdit, 4), &QAction::triggered, box,
            [box] { box->textCursor().removeSelectedText(); });
}

void Kivara::buildStatusBar()
{
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QWidget(ui->sbrMain);
        panel->setObjectName(u"sbrPanel_"_s + QString::number(i + 1));
        auto* lay = new QHBoxLayout(panel);
        lay->setContentsMargins(4, 0, 4, 0);
        lay->setSpacing(4);
        m_panelPicture[i] = new QLabel(panel);
        m_panelPicture[i]->setObjectName(u"imgPanel_"_s + QString::number(i + 1));
        m_panelPicture[i]->setFixedSize(16, 16);
        m_panelPicture[i]->setVisible(i > 0);
        m_panelText[i] = new QLabel(panel);
        m_panelText[i]->setObjectName(u"lblPanel_"_s + QString::number(i + 1));
        lay->addWidget(m_panelPicture[i]);
        lay->addWidget(m_panelText[i], 1);
        if (i == 0)
            ui->sbrMain->addWidget(panel, 1);
        else
            ui->sbrMain->addPermanentWidget(panel);
        if (i == 1) {
            panel->setCursor(Qt::PointingHandCursor);
            panel->setToolTip(u"Click to change your availability"_s);
            panel->installEventFilter(this);
        }
    }
}

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

void Kivara::setPanel(int panel, const QString& text, const QString& picture)
{
    if (panel < 1 || panel > 3) return;
    const int i = panel - 1;
    m_panelText[i]->setText(text);
    if (!picture.isNull()) {
        m_panelPictureName[i] = picture;
        m_panelPicture[i]->setPixmap(StatusPicture(picture));
    }
}

QString Kivara::panelText(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panelText[panel - 1]->text() : QString();
}

QString Kivara::panelPicture(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panelPictureName[panel - 1] : QString();
}

void Kivara::focusEntry()
{
    if (ui->txtSend->isVisible()) ui->txtSend->setFocus();
}

// ---- Session start -------------------------------------------------------------

int Kivara::ChatInit()
{
    m_sessionEnded = false;
    // 1. Network
    if (NetworkAbsent(*m_wskProbe) != 0) {
        MsgBox(text::NoNetworkAtStart.toString(), MsgButtons::OK, MsgIcon::Information);
        SetNetworkState(1);
    }
    // 2. Settings
    m_state.installDir = ReadSetting(Deliverable::Quillon, settings::InstallDir);
    m_state.service = ReadSetting(Deliverable::Quillon, settings::Service);
    m_state.folder = ReadSetting(Deliverable::Quillon, settings::Folder);
    // 3. Rooms
    m_rooms.current = 0;
    m_rooms.currentTag = PublicTag.toString();
    platform::DoEvents();
    // 4. Profile, created on first use. Bound: a dialog that reports success
    // while the profile still reads incomplete is not shown more than this often.
    constexpr int MaxProfileRounds = 5;
    bool haveProfile = !LoadProfile(Deliverable::Quillon, m_profile);
    for (int round = 0; !haveProfile && round < MaxProfileRounds; ++round) {
        const QString answer = frmOptions::Run(frmOptions::Mode::NewUser, Socket::LocalIP(), this);
        if (answer != frmOptions::Success.toString()) break;
        MsgBox(text::ProfileCreated.toString(), MsgButtons::OK, MsgIcon::Information);
        haveProfile = !LoadProfile(Deliverable::Quillon, m_profile);
    }
    m_profileLoaded = true;
    if (haveProfile) {
        // 5. Own row
        Room& pub = m_rooms.publicRoom();
        pub.participants.truncate(0);
        pub.addRow(m_profile.ChatName, QString::number(m_profile.ChatType) + OwnIconSuffix.toString());
        pub.participants.setOwnRowEditable(true);
        // 6.
        RefreshSettings();
        SetCallStatus(call::Idle);
        // 7. Address. Without a profile there is nothing to keep current (and no file to rewrite).
        const QString localIp = Socket::LocalIP();
        if (localIp != m_profile.IPAddress) {
            m_profile.IPAddress = localIp;
            m_profile.LocalPort = ChatDatagramPort;
            SaveProfile(m_profile, m_profile.ChatName);
        }
    } else {
        SetCallStatus(call::NoProfile);
        MsgBox(text::ProfileNotFound.toString(), MsgButtons::OK, MsgIcon::Information);
    }
    // 8. Socket
    closeWaitChatSocket();
    m_wskChat->setLocalPort(ChatDatagramPort);
    if (m_wskChat->Bind() != 0) {
        // 9. Another chat control of this computer holds the port.
        MsgBox(text::SessionInProgress.toString(), MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    // 10. File listener. Chat works without it, but nobody could fetch a file offered.
    if (m_fileSend->Listen() != 0) setPanel(1, text::FilePortBusy.toString().arg(FileTransferPort));
    return 0;
}

int Kivara::RefreshSettings()
{
    if (m_profileLoaded && !m_profile.ChatName.isEmpty()) {
        LoadProfile(Deliverable::Quillon, m_profile);
        // 1. Own rows in every room
        const QString localIp = Socket::LocalIP();
        if (localIp != m_state.shownLocalIp) m_state.shownLocalIp = localIp;
        updateOwnRows();
        // 2. Availability
        const QString checked = [this] {
            for (QAction* a : m_mnuStatus->actions())
                if (a->isChecked()) return a->text();
            return QString();
        }();
        if (!m_profile.UserStatus.isEmpty() && m_profile.UserStatus != checked)
            SetStatus(m_profile.UserStatus);
        // 3. Chat name
        if (!m_state.shownChatName.isEmpty() && m_state.shownChatName != m_profile.ChatName)
            DataSend(mode::NickName, m_state.shownChatName + FieldSeparator + m_profile.ChatName);
        m_state.shownChatName = m_profile.ChatName;
    }
    // 4. Fonts
    applyFonts();
    // 5. Colours and sounds
    m_state.myColor = ColorFromSetting(ReadSetting(Deliverable::Quillon, settings::MyColor).toLongLong());
    m_state.useOthers = ReadFlag(Deliverable::Quillon, settings::UseOthers);
    m_state.othersColor =
        ColorFromSetting(ReadSetting(Deliverable::Quillon, settings::OthersColor).toLongLong());
    m_state.useCallSound = ReadFlag(Deliverable::Quillon, settings::UseCallSnd);
    m_state.callFile = ReadSetting(Deliverable::Quillon, settings::CallFile);
    m_state.useAttnSound = ReadFlag(Deliverable::Quillon, settings::UseAttnSnd);
    m_state.attnFile = ReadSetting(Deliverable::Quillon, settings::AttnFile);
    ui->txtSend->setTextColor(m_state.myColor);
    // 6. View settings
    ui->sbrMain->setVisible(ReadSetting(Deliverable::Quillon, settings::StatusBar) == u"1"_s);
    const bool showUsers = ReadSetting(Deliverable::Quillon, settings::ShowUsers) == u"1"_s;
    ui->stkLists->setVisible(showUsers);
    for (int i = 0; i < m_rooms.count(); ++i)
        roomView(i).list->setVisible(showUsers);
    m_layout->relayout();
    // 7. Announce
    if (m_profileLoaded && !m_profile.ChatName.isEmpty()) DataSend(mode::Update);
    return 0;
}

void Kivara::updateOwnRows()
{
    UserRecord own = ownRecord();
    own.ipAddress = Socket::LocalIP();
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant row = m_rooms.at(i).row(1);
        if (row.isNull()) continue;
        row.setName(own.chatName);
        row.setDetails(own);
    }
}

void Kivara::applyFonts()
{
    QFont font = ui->txtSend->font();
    font.setFamily(ReadSetting(Deliverable::Quillon, settings::FontName));
    const int size = ReadSetting(Deliverable::Quillon, settings::FontSize).toInt();
    if (size > 0) font.setPointSize(size);
    for (int i = 0; i < m_rooms.count(); ++i) {
        QTextEdit* tr = roomView(i).transcript;
        tr->setFont(font);
        tr->document()->setDefaultFont(font);
        tr->moveCursor(QTextCursor::End);
        roomView(i).list->setFont(font);
    }
    ui->txtSend->setFont(font);
}

// ---- Call state display --------------------------------------------------------

void Kivara::SetCallStatus(short code, const QString& text)
{
    if (m_state.networkState == 1) return;
    m_state.callStatus = code;
    QAction* callItem = item(m_mnuFile, 0);
    switch (code) {
    case call::Idle:
        // A file offer or transfer outlives the call; so does its cancel.
        ui->cmdCancel->setVisible(m_fileSend->busy());
        setPanel(1, PublicRoomCaption.toString());
        setPanel(3, text::WaitingForCall.toString(), picture::Waiting.toString());
        callItem->setText(text::PlaceCall.toString());
        m_tmrMain->stop();
        break;
    case call::WaitingToEnter:
        setPanel(1, u"Waiting to enter "_s + text + u"'s Public room..."_s);
        platform::DoEvents();
        break;
    case call::Calling:
        ui->cmdCancel->setVisible(true);
        ui->cmdCancel->raise();
        setPanel(1, u"Calling "_s + m_wskChat->RemoteHost() + u"..."_s);
        setPanel(3, text::Connecting.toString(), picture::Connected.toString());
        m_tmrMain->start();
        break;
    case call::Connected:
        ui->cmdCancel->setVisible(m_fileSend->busy());
        setPanel(3, text::Connected.toString(), picture::Connected.toString());
        callItem->setText(text::EndCall.toString());
        m_tmrMain->stop();
        break;
    case call::Incoming:
        setPanel(1, u"Incoming call from "_s + text + u"..."_s);
        platform::DoEvents();
        PlayAlert(1);
        break;
    default:
        break;
    }
    Q_EMIT CallStatus(m_state.callStatus);
    platform::DoEvents();
}

void Kivara::SetNetworkState(short state)
{
    m_state.networkState = state;
    if (state == 1) {
        setPanel(1, text::NoNetworkPanel.toString());
        setPanel(3, text::Offline.toString(), picture::Offline.toString());
        item(m_mnuFile, 0)->setText(text::PlaceCall.toString());
    }
}

void Kivara::PlayAlert(int kind)
{
    if (kind == 1 && m_state.useCallSound)
        platform::Sound::current().play(m_state.callFile);
    else if (kind == 0 && m_state.useAttnSound)
        platform::Sound::current().play(m_state.attnFile);
}

// ---- Network -------------------------------------------------------------------

void Kivara::onChatDatagram()
{
    const QByteArray datagram = m_wskChat->GetData();
    if (datagram.isEmpty()) return;
    // The sender is read now: handlers that yield let further datagrams change the socket's.
    HandleDatagram(datagram, m_wskChat->RemoteHostIP());
}

void Kivara::HandleDatagram(const QByteArray& datagram, const QString& sender)
{
    const bool wasFromNetwork = m_fromNetwork;
    const QString previousSender = m_datagramSender;
    m_fromNetwork = true;
    m_datagramSender = sender;
    QPointer<Kivara> self(this);
    DataRcvd(ReadDatagram(datagram), false);
    if (!self) return;
    m_fromNetwork = wasFromNetwork;
    m_datagramSender = previousSender;
}

void Kivara::onChatError(int number, const QString& description)
{
    setPanel(1, QString::number(number) + u':' + description);
    platform::Sound::current().beep();
}

int Kivara::DataPass(const QString& sDataPass)
{
    const QStringList fields = ParseDatagram(sDataPass);
    if (fields.isEmpty()) return 0;
    // Passed in by the monitor of this computer, not read from the network.
    const bool wasFromNetwork = m_fromNetwork;
    m_fromNetwork = false;
    QPointer<Kivara> self(this);
    const int result = DataRcvd(fields, true);
    if (self) m_fromNetwork = wasFromNetwork;
    return result;
}

UserRecord Kivara::ownRecord() const
{
    UserRecord r;
    r.chatName = m_profile.ChatName;
    r.availability = m_profile.UserStatus;
    r.email = m_profile.Email;
    r.ipAddress = m_profile.IPAddress;
    r.comment = m_profile.Comment;
    r.serialNum = m_profile.SerialNum;
    r.iconCode = QString::number(m_profile.ChatType);
    return r;
}

int Kivara::DataSend(short nSendMode, const QString& sData, const QString& sData2)
{
    Socket& sock = *m_wskChat;
    const QString own = m_profile.ChatName;
    const int cur = m_rooms.valid(m_rooms.current) ? m_rooms.current : 0;
    const qint32 myColor = qint32(ColorToSetting(m_state.myColor));
    switch (nSendMode) {
    case mode::Hello:
        SendToPeerMonitor(sock, BuildHello(ownRecord()));
        break;
    case mode::RoomList:
        sendRoomList();
        break;
    case mode::Leave:
        sendLeave(sData, sData2);
        break;
    case mode::GetUserSimple:
        SendToParticipant(sock, m_rooms, cur, sData,
                          BuildGetUserSimple(own, sData, sData2 == QString(word::Silent)));
        break;
    case mode::PubChat:
        if (sData.trimmed().isEmpty()) return 0;
        // Public lines go to the public room's participants even while a private room is in front.
        BroadcastToRoom(sock, m_rooms, 0, BuildPubChat(own, myColor, sData));
        AppendChatLine(m_rooms.at(cur).transcript, own, m_state.myColor, sData);
        break;
    case mode::PriChat:
        if (sData.trimmed().isEmpty()) return 0;
        SendToParticipant(sock, m_rooms, cur, m_rooms.currentTag, BuildPriChat(ownRecord(), myColor, sData));
        if (sData != QString(word::OpenPrivate))
            AppendChatLine(m_rooms.at(cur).transcript, own, m_state.myColor, sData);
        break;
    case mode::Status:
        BroadcastToAllRooms(sock, m_rooms, BuildStatus(own, m_profile.UserStatus));
        AppendNoticeLine(m_rooms.publicRoom().transcript, own,
                         StatusNotice(m_profile.UserStatus));
        break;
    case mode::NickName: {
        const qsizetype bar = sData.indexOf(FieldSeparator);
        const QString oldName = bar < 0 ? sData : sData.left(bar);
        const QString newName = bar < 0 ? QString() : sData.mid(bar + 1);
        BroadcastToAllRooms(sock, m_rooms, BuildNickName(oldName, newName));
        break;
    }
    case mode::GetUserProfile:
        SendToParticipant(sock, m_rooms, cur, sData, BuildGetUserProfile(own, sData));
        break;
    case mode::DumpUser:
        // Row 1 is the user's own, whatever a command line names.
        if (sData.isEmpty() || sData == own || !confirmDumpUser(sData)) return 0;
        DataSend(mode::PubChat, text::Disconnected.toString() + sData);
        BroadcastToRoom(sock, m_rooms, 0, BuildDumpUser(own, sData));
        m_rooms.publicRoom().removeRow(sData);
        ShowRoomName();
        break;
    case mode::FilePrep:
        return prepareFileOffer(cur, sData, sData2.trimmed());
    case mode::NoFile:
        SendToParticipant(sock, m_rooms, cur, sData, BuildNoFile(own));
        break;
    case mode::GiveUp:
        SendToParticipant(sock, m_rooms, cur, QString(), BuildGiveUp(own));
        break;
    case mode::Update:
        BroadcastToAllRooms(sock, m_rooms, BuildUpdate(ownRecord()));
        break;
    default:
        break;
    }
    return 0;
}

void Kivara::sendRoomList()
{
    // The admitted caller enters the public room, whichever room is in front.
    QList<UserRecord> entries;
    const Room& room = m_rooms.publicRoom();
    for (int n = 1; n <= room.rowCount(); ++n)
        entries.append(room.row(n).record());
    SendToParticipant(*m_wskChat, m_rooms, 0, QString(), BuildRoomList(entries));
}

void Kivara::sendLeave(const QString& tag, const QString& position)
{
    const QString own = m_profile.ChatName;
    if (tag == PublicTag.toString()) {
        // The farewell line goes first, while others are there to read it.
        const QString farewell = ReadSetting(Deliverable::Quillon, settings::LeaveMsg);
        if (m_rooms.publicRoom().rowCount() >= 2 && !farewell.trimmed().isEmpty())
            DataSend(mode::PubChat, farewell);
        BroadcastToRoom(*m_wskChat, m_rooms, 0, BuildLeave(own, QString(word::PublicRoom)));
        return;
    }
    bool ok = false;
    int at = position.toInt(&ok);
    if (!ok || !m_rooms.valid(at) || m_rooms.at(at).tag != tag) at = m_rooms.FindRoom(tag);
    if (at < 1) return;
    SendToParticipant(*m_wskChat, m_rooms, at, tag, BuildLeave(own, own));
}

int Kivara::prepareFileOffer(int position, const QString& name, QString path)
{
    if (path.isEmpty()) {
        platform::FileDialogRequest request;
        request.title = text::SelectFileTitle.toString();
        request.filter = text::SelectFileFilter.toString();
        request.initialDir = m_state.installDir + text::Downloads.toString();
        path = platform::Prompt::current().openFile(request).trimmed();
        if (path.isEmpty()) return -1;
    }
    // One offer at a time (the receiver's connection names no file): the rest wait their turn.
    if (m_fileSend->offerPending()) {
        m_fileQueue.push_back({m_rooms.at(position).tag, name, path});
        AppendPlainText(m_rooms.at(position).transcript,
                        text::FileQueued.toString().arg(FileNameOfPath(path).trimmed(), name));
        return 0;
    }
    return offerFile(position, name, path);
}

int Kivara::offerFile(int position, const QString& name, const QString& path)
{
    const Participant target = m_rooms.at(position).findRow(name);
    const std::optional<OfferedFile> offer =
        m_fileSend->Offer(path, target.isNull() ? QString() : target.address());
    if (!offer) return -1;
    const QString title = offer->title;
    m_state.sendFilePath = path;
    m_state.sendFileSize = offer->size;
    if (SendToParticipant(*m_wskChat, m_rooms, position, name,
                          BuildFilePrep(m_profile.ChatName, title, offer->size, Socket::LocalIP())) != 0) {
        m_fileSend->Withdraw();
        return -1;
    }
    ui->cmdCancel->setVisible(true);
    ui->cmdCancel->raise();
    AppendPlainText(m_rooms.at(position).transcript, text::FileOffered.toString().arg(title, name));
    setPanel(1, text::SendingFile.toString() + title + u" to "_s + name + u"..."_s);
    return 0;
}

void Kivara::offerNextFile()
{
    while (!m_fileQueue.empty() && !m_fileSend->offerPending()) {
        const QueuedFile next = m_fileQueue.front();
        m_fileQueue.pop_front();
        // The room may have closed meanwhile; its files go nowhere.
        const int position = next.tag == PublicTag.toString() ? 0 : m_rooms.FindRoom(next.tag);
        if (m_rooms.valid(position)) offerFile(position, next.name, next.path);
    }
}

bool Kivara::confirmDumpUser(const QString& name)
{
    return MsgBox(text::DisconnectQuestion.toString() + name + u"' ?"_s, MsgButtons::YesNo,
                  MsgIcon::Question) == MsgResult::Yes;
}

// ---- Members of the interface ----------------------------------------------------

bool Kivara::Alone(short nRoom)
{
    if (m_rooms.count() != 1 || !m_rooms.valid(nRoom)) return false;
    return m_rooms.at(nRoom).rowCount() == 1;
}

bool Kivara::refuseChatName(const QString& name)
{
    if (!IsValidChatName(name)) {
        MsgBox(ChatNameSeparatorText.toString(), MsgButtons::OK, MsgIcon::Information);
        return true;
    }
    // Nobody in that room could tell two rows of one name apart.
    for (int i = 0; i < m_rooms.count(); ++i) {
        if (otherRow(m_rooms.at(i), name).isNull()) continue;
        MsgBox(ChatNameInUseBefore.toString() + name + ChatNameInUseAfter.toString(), MsgButtons::OK,
               MsgIcon::Information);
        return true;
    }
    return false;
}

int Kivara::ChangeUserName(const QString& sNewName)
{
    QString newName = sNewName;
    if (newName.isEmpty())
        newName = platform::Prompt::current().inputBox(text::EnterChatName.toString(),
                                                       platform::ProductTitle.toString(), QString());
    if (newName.isEmpty() || newName == m_profile.ChatName) return 0;
    if (refuseChatName(newName)) return -1;
    const QString oldName = m_profile.ChatName;
    m_profile.ChatName = newName;
    SaveProfile(m_profile, oldName);
    m_state.shownChatName = newName;
    renameOwnRows(newName);
    DataSend(mode::NickName, oldName + FieldSeparator + newName);
    return 0;
}

void Kivara::renameOwnRows(const QString& name)
{
    // Every room, not only the one in front: the others would go on showing the old name.
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant own = m_rooms.at(i).row(1);
        if (!own.isNull()) own.setName(name);
    }
}

void Kivara::OwnRowEdited(QString oldName, QString newName)
{
    // The list shows the new name only once it is taken.
    if (newName.isEmpty() || newName == oldName || refuseChatName(newName)) return;
    m_profile.ChatName = newName;
    SaveProfile(m_profile, oldName);
    m_state.shownChatName = newName;
    renameOwnRows(newName);
    DataSend(mode::NickName, oldName + FieldSeparator + newName);
}

int Kivara::EMailContact(const QString& sRecipients)
{
    return MailPeerslip(store(), sRecipients);
}

StoreAccess& Kivara::store()
{
    if (!m_store) m_store = std::make_unique<StoreAccess>(Deliverable::Quillon);
    return *m_store;
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

QString Kivara::PeerslipFile() const
{
    return m_profileLoaded ? PeerslipPath(m_profile.ChatName) : QString();
}

void Kivara::ShowAbout()
{
    openOptions(int(frmOptions::Mode::About));
}

void Kivara::openOptions(int dialogMode)
{
    QPointer<Kivara> self(this);
    frmOptions::Run(frmOptions::Mode(dialogMode), Socket::LocalIP(), this,
                    [self](const QString& name) { return self && self->refuseChatName(name); });
    if (!self) return;
    RefreshSettings();
    focusEntry();
}

QString Kivara::UserProfile(short nIndex, const QString& sUserName)
{
    static const QString unknown = u"Unknown"_s;
    if (nIndex < 0 || nIndex >= UserRecord::FieldCount) return unknown;
    if (sUserName.isEmpty() || sUserName == m_profile.ChatName) return ownRecord().fields().at(nIndex);
    const Participant p = m_rooms.publicRoom().findRow(sUserName);
    if (p.isNull()) return unknown;
    return p.record().fields().at(nIndex);
}

void Kivara::setRemoteHost(const QString& host)
{
    m_state.remoteHost = host;
    m_wskChat->setRemoteHost(host);
}

void Kivara::setRemotePort(int port)
{
    m_state.remotePort = port;
    m_wskChat->setRemotePort(port);
}

int Kivara::SendSession(const QString& sRecipients, const QString& sFileName)
{
    return MailTranscript(sRecipients, sFileName);
}

void Kivara::SetStatus(const QString& sStatus)
{
    // 1. The check mark
    int checkedIndex = -1;
    const QList<QAction*> items = m_mnuStatus->actions();
    for (QAction* item : items) {
        item->setCheckable(!item->isSeparator());
        item->setChecked(false);
    }
    for (int i = 0; i < items.size(); ++i) {
        if (!items[i]->isSeparator() && items[i]->text() == sStatus) {
            items[i]->setChecked(true);
            checkedIndex = i;
            break;
        }
    }
    // 2. The panel
    setPanel(2, sStatus, checkedIndex == 0 ? picture::Available.toString() : picture::Away.toString());
    // 3. Own rows everywhere
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant own = m_rooms.at(i).row(1);
        if (!own.isNull()) own.setAvailability(sStatus);
    }
    // 4. The profile (only one that exists: an empty one would leave a nameless Peerslip behind)
    m_profile.UserStatus = sStatus;
    m_state.shownStatus = sStatus;
    if (!m_profile.ChatName.isEmpty()) SaveProfile(m_profile, m_profile.ChatName);
    // 5. Announce
    DataSend(mode::Status);
}

int Kivara::ShowUser(const QStringList& vData)
{
    const QString text = vData.join(FieldSeparator);
    const bool started =
        platform::Shell::current().start(SystemFolder() + u"/dorvan"_s, {text}, QDir::homePath());
    return started ? 0 : -1;
}

int Kivara::CancelFileTransfer()
{
    if (MsgBox(sendtext::CancelQuestion.toString(), MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes)
        return -1;
    // Cancelling means these files too, not only the one offered.
    m_fileQueue.clear();
    m_fileSend->Cancel();
    ui->cmdCancel->setVisible(m_fileSend->busy());
    setPanel(1, sendtext::Cancelled.toString());
    return 0;
}

int Kivara::SaveSession(QString sFileName, bool bPrompt)
{
    return SaveTranscript(*roomView(m_rooms.current).transcript, m_lastSavedPath, sFileName, bPrompt);
}

QPrinter& Kivara::printer()
{
    if (!m_printer) m_printer = std::make_unique<QPrinter>();
    return *m_printer;
}

void Kivara::setAppearance(short n)
{
    m_state.appearance = n;
    ui->linBorder_0->setVisible(n != 0);
    ui->linBorder_1->setVisible(n != 0);
}

// ---- Menus ---------------------------------------------------------------------

void Kivara::FileMenu_Click(short Index)
{
    switch (Index) {
    case 0:
        if (item(m_mnuFile, 0)->text() == text::PlaceCall.toString())
            Connect(RemoteHost(), RemotePort());
        else
            Disconnect(false);
        break;
    case 2:
        SaveSession(m_lastSavedPath, false);
        break;
    case 3:
        if (!m_lastSavedPath.isEmpty())
            SaveSession(m_lastSavedPath, true);
        else
            SaveSession(QString(), false);
        break;
    case 5: {
        platform::PrintRequest setup;
        setup.title = item(m_mnuFile, 5)->text().remove(u'&');
        setup.setup = true;
        setup.printer = &printer();
        platform::Prompt::current().print(setup);
        break;
    }
    case 6:
        PrintTranscript(*roomView(m_rooms.current).transcript, printer());
        break;
    case 10:
        openOptions(int(frmOptions::Mode::Normal));
        break;
    default:
        break;
    }
    focusEntry();
}

void Kivara::EditMenu_Click(short Index)
{
    QTextEdit* transcript = roomView(m_rooms.current).transcript;
    if (Index == 0) {
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        // The selection as plain text; a paragraph break reads as a line break.
        clipboard->setText(transcript->textCursor().selection().toPlainText());
    } else if (Index == 2) {
        transcript->selectAll();
    }
    focusEntry();
}

void Kivara::SendToTarget_Click(short Index)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString temp = TranscriptTempCopy(*roomView(m_rooms.current).transcript);
    if (!temp.isEmpty()) {
        if (Index == 0) {
            CopyToFloppy(temp);
        } else if (Index == 1) {
            SendSession(selectedAddresses().trimmed(), temp);
        }
        // The mail holds its own copy of the bytes; the temporary file has served.
        QFile::remove(temp);
    }
    QApplication::restoreOverrideCursor();
    focusEntry();
}

void Kivara::PrivateMenu_Click(short Index)
{
    if (Index == 0) ConfirmClosePrivateRoom(m_rooms.menuTag);
    focusEntry();
}

void Kivara::StatusMenu_Click(short Index)
{
    QAction* a = item(m_mnuStatus, Index);
    if (a && !a->isSeparator()) SetStatus(a->text());
    focusEntry();
}

void Kivara::PrepareUserMenu()
{
    const Participant p = selectedRow();
    const bool own = selectionIsOwnRow();
    const bool other = !p.isNull() && !own;
    for (int i = 0; i <= 13; ++i)
        item(m_mnuUser, i)->setVisible(false);
    item(m_mnuUser, 14)->setVisible(true);
    m_mnuUser->setDefaultAction(nullptr);
    if (own) {
        item(m_mnuUser, 0)->setVisible(true);
        item(m_mnuUser, 1)->setVisible(true);
        m_mnuUser->setDefaultAction(item(m_mnuUser, 0));
    } else if (other) {
        for (int i = 2; i <= 10; ++i)
            item(m_mnuUser, i)->setVisible(true);
        m_mnuUser->setDefaultAction(item(m_mnuUser, 5));
        const bool hasRoom = m_rooms.FindRoom(p.name()) >= 1;
        item(m_mnuUser, 11)->setVisible(!hasRoom);
        item(m_mnuUser, 12)->setVisible(hasRoom);
        item(m_mnuUser, 13)->setVisible(true);
        QAction* ignore = item(m_mnuUser, 8);
        ignore->setCheckable(true);
        ignore->setChecked(p.isIgnored());
    }
}

void Kivara::UserMenu_Click(short Index)
{
    Participant p = selectedRow();
    const bool own = selectionIsOwnRow();
    const QString name = p.name();
    auto chooseSelf = [this] {
        if (MsgBox(text::ChoseYourself.toString(), MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes)
            openOptions(int(frmOptions::Mode::Normal));
    };
    switch (Index) {
    case 0:
        if (own) ChangeUserName();
        break;
    case 2:
        EMailContact(selectedAddresses());
        break;
    case 3:
        if (!p.isNull() && !own) DataSend(mode::FilePrep, name);
        break;
    case 5:
        if (own)
            chooseSelf();
        else if (!p.isNull())
            DataSend(mode::GetUserProfile, name);
        break;
    case 6:
        if (own)
            chooseSelf();
        else if (!p.isNull())
            DataSend(mode::GetUserSimple, name, QString(word::Normal));
        break;
    case 8:
        if (!p.isNull() && !own) {
            ToggleIgnore(p);
            QAction* a = item(m_mnuUser, 8);
            a->setCheckable(true);
            a->setChecked(p.isIgnored());
        }
        break;
    case 9:
        if (!p.isNull() && !own) DataSend(mode::DumpUser, name);
        break;
    case 11:
        if (!p.isNull() && !own) RequestPrivateRoom(name);
        break;
    case 12:
        if (!p.isNull() && !own) ConfirmClosePrivateRoom(name);
        break;
    case 14:
        m_roomDetails = !m_roomDetails;
        item(m_mnuUser, 14)->setChecked(m_roomDetails);
        toggleRoomDetails(m_roomDetails);
        break;
    default:
        break;
    }
    focusEntry();
}

void Kivara::toggleRoomDetails(bool on)
{
    for (const RoomView& view : m_roomViews) {
        QTreeView* list = view.list;
        const int w = on ? list->columnWidth(ColName) : 0;
        list->header()->setSectionResizeMode(ColName, on ? QHeaderView::Interactive : QHeaderView::Stretch);
        for (int c = ColAvailability; c < ColumnCount; ++c)
            list->header()->resizeSection(c, w);
    }
}

void Kivara::ToggleIgnore(Participant row)
{
    if (row.isNull()) return;
    if (row.savedAvailability().isEmpty()) {
        const QString shown = row.availability();
        // An empty availability would read as "not ignored"; keep the row recoverable.
        row.setSavedAvailability(shown.isEmpty() ? availability::Available.toString() : shown);
        row.setAvailability(availability::Ignored.toString());
        row.setDimmed(true);
    } else {
        row.setAvailability(row.savedAvailability());
        row.setSavedAvailability(QString());
        row.setDimmed(false);
    }
}

void Kivara::ConfirmClosePrivateRoom(const QString& tag)
{
    QString question = text::CloseRoomQuestion.toString() + tag + text::CloseRoomQuestionEnd.toString();
    if (m_rooms.publicRoom().findRow(tag).isNull()) question += text::CloseDisconnects.toString();
    if (MsgBox(question, MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes) {
        const int position = m_rooms.FindRoom(tag);
        if (position < 1) {
            MsgBox(text::RoomNotFound.toString(), MsgButtons::OK, MsgIcon::Information);
        } else {
            DataSend(mode::Leave, tag, QString::number(position));
            ClosePrivateRoom(tag);
        }
    }
    focusEntry();
}

void Kivara::RequestPrivateRoom(const QString& name)
{
    // The request goes to the party's row in the public room. The current tag
    // names the party only while the public room is in front: in a private room
    // it must keep naming that room's party, or its lines would go astray.
    if (m_rooms.current == 0) m_rooms.currentTag = name;
    SendToParticipant(
        *m_wskChat, m_rooms, 0, name,
        BuildPriChat(ownRecord(), qint32(ColorToSetting(m_state.myColor)), QString(word::OpenPrivate)));
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

// ---- Message entry ---------------------------------------------------------------

void Kivara::SendEntry()
{
    const QString entry = ui->txtSend->toPlainText();
    if (entry.isEmpty()) {
        platform::Sound::current().beep();
        ui->txtSend->clear();
        return;
    }
    ui->txtSend->clear();
    if (RunCommandLine(entry)) return;
    DataSend(m_rooms.current == 0 ? mode::PubChat : mode::PriChat, entry);
}

bool Kivara::RunCommandLine(const QString& text)
{
    const std::optional<CommandLine> cmd = SplitCommandLine(text);
    if (!cmd) return false;
    const QString& arg = cmd->argument;
    Room& room = m_rooms.currentRoom();
    switch (CommandFor(cmd->word)) {
    case Command::CmdList:
        AppendChatLine(room.transcript, CommandListName.toString(), m_state.myColor, CommandListText());
        AppendPlainText(room.transcript, u"\r\n"_s);
        break;
    case Command::Help:
        platform::Shell::current().open(ReadSetting(Deliverable::Quillon, settings::InstallDir) +
                                        HelpPageName.toString());
        break;
    case Command::Private:
        RequestPrivateRoom(arg);
        break;
    case Command::Leave: {
        int position = arg.isEmpty() ? m_rooms.current : -1;
        for (int i = 0; position < 0 && i < m_rooms.count(); ++i)
            if (m_rooms.at(i).tag == arg) position = i;
        if (m_rooms.valid(position)) LeaveRoom(position);
        break;
    }
    case Command::Away:
        SetStatus(availability::BeRightBack.toString());
        break;
    case Command::Ignore:
        if (!arg.isEmpty()) ToggleIgnore(otherRow(room, arg));
        break;
    case Command::Kick:
        if (!arg.isEmpty()) DataSend(mode::DumpUser, arg);
        break;
    case Command::Nick:
        if (!arg.isEmpty()) ChangeUserName(arg);
        break;
    case Command::Whois:
        DataSend(mode::GetUserProfile, arg);
        break;
    case Command::None:
        break;
    }
    return true;
}

// ---- Events --------------------------------------------------------------------

bool Kivara::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->txtSend || watched == ui->txtSend->viewport()) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                SendEntry();
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
            const bool selected = ui->txtSend->textCursor().hasSelection();
            item(m_mnuSendEdit, 0)->setEnabled(selected);
            item(m_mnuSendEdit, 1)->setEnabled(selected);
            item(m_mnuSendEdit, 4)->setEnabled(selected);
            item(m_mnuSendEdit, 2)->setEnabled(!QApplication::clipboard()->text().isEmpty());
            m_mnuSendEdit->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            return true;
        }
        return false;
    }
    if (watched == m_panelText[1]->parentWidget() && event->type() == QEvent::MouseButtonRelease) {
        m_mnuStatus->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    if (auto* button = qobject_cast<QPushButton*>(watched)) {
        int k = -1;
        for (size_t i = 0; i < m_roomViews.size(); ++i)
            if (m_roomViews[i].button == button) k = int(i);
        if (k < 0 || !m_rooms.valid(k)) return false;
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
            if (button->text() != PublicRoomCaption.toString()) {
                m_rooms.menuTag = m_rooms.at(k).tag;
                m_mnuPrivate->popup(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            }
            return true;
        }
        if (event->type() == QEvent::DragEnter) {
            auto* drag = static_cast<QDragEnterEvent*>(event);
            if (drag->source() == currentList()) drag->acceptProposedAction();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const Participant p = selectedRow();
            if (drop->source() == currentList() && !p.isNull()) {
                drop->acceptProposedAction();
                DropParticipantOnRoom(k, p.name());
            }
            return true;
        }
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kv::control
