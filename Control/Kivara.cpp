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

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;
using namespace kivaraui;


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
