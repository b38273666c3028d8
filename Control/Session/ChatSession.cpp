#include "Control/Session/ChatSession.h"

#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/History.h"
#include "Control/Session/MessageEntry.h"
#include "Control/Session/Texts.h"
#include "Control/Session/Transcript.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"

#include <QDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;
using namespace session;

ChatSession::ChatSession(SessionView& view, const KivaraTimings& timings, QObject* parent)
    : QObject(parent), m_view(&view), m_timings(timings)
{
    m_wskChat = new Socket(Socket::Protocol::Udp, this);
    m_wskChat->setObjectName(u"wskChat"_s);
    m_wskProbe = new Socket(Socket::Protocol::Tcp, this);
    m_wskProbe->setObjectName(u"wskProbe"_s);
    m_fileSend = new FileSend(m_timings.fileOfferMs, this);
    connect(m_fileSend, &FileSend::statusText, this,
            [this](const QString& text) { m_view->showPanel(1, text); });
    connect(m_fileSend, &FileSend::cancelButtonVisible, this,
            [this](bool visible) { m_view->showCancel(visible); });
    connect(m_fileSend, &FileSend::roomNameRestored, this, &ChatSession::ShowRoomName);
    // Queued: the offer may end inside a send that is still unwinding.
    connect(m_fileSend, &FileSend::offerEnded, this, &ChatSession::offerNextFile, Qt::QueuedConnection);
    m_tmrMain = new QTimer(this);
    m_tmrMain->setObjectName(u"tmrMain"_s);
    m_tmrMain->setInterval(m_timings.mainTimerMs);
    connect(m_wskChat, &Socket::DataArrival, this, &ChatSession::onChatDatagram);
    connect(m_wskChat, &Socket::Error, this, &ChatSession::onChatError);
    connect(m_tmrMain, &QTimer::timeout, this, &ChatSession::onMainTimer);
    m_tmrRing = new QTimer(this);
    m_tmrRing->setInterval(m_timings.helloIntervalMs);
    connect(m_tmrRing, &QTimer::timeout, this, &ChatSession::ring);
    m_tmrCallBound = new QTimer(this);
    m_tmrCallBound->setSingleShot(true);
    m_tmrCallBound->setInterval(m_timings.callLoopBoundMs);
    connect(m_tmrCallBound, &QTimer::timeout, this, [this] {
        if (m_state.callStatus == CallState::Calling || m_state.callStatus == CallState::WaitingToEnter)
            giveUpUnanswered();
        stopPlacing();
    });
    m_rooms.append(std::make_unique<Room>(PublicTag.toString()));
    m_rooms.currentTag = PublicTag.toString();
    m_state.confirmContactSaves = true;
}

void ChatSession::prepare()
{
    m_sessionEnded = false;
    if (NetworkAbsent(*m_wskProbe) != 0) {
        MsgBox(text::NoNetworkAtStart.toString(), MsgButtons::OK, MsgIcon::Information);
        SetNetworkState(1);
    }
    m_state.installDir = ReadSetting(Deliverable::Quillon, settings::InstallDir);
    m_state.service = ReadSetting(Deliverable::Quillon, settings::Service);
    m_state.folder = ReadSetting(Deliverable::Quillon, settings::Folder);
    m_rooms.current = 0;
    m_rooms.currentTag = PublicTag.toString();
}

bool ChatSession::loadProfile()
{
    return !LoadProfile(Deliverable::Quillon, m_profile);
}

void ChatSession::profileReady(bool haveProfile)
{
    m_profileLoaded = true;
    if (!haveProfile) return;
    Room& pub = m_rooms.publicRoom();
    pub.participants.truncate(0);
    pub.addRow(m_profile.ChatName, QString::number(m_profile.ChatType) + OwnIconSuffix.toString());
    pub.participants.setOwnRowEditable(true);
}

void ChatSession::keepAddressCurrent()
{
    // Without a profile there is nothing to keep current (and no file to rewrite).
    const QString localIp = Socket::LocalIP();
    if (localIp == m_profile.IPAddress) return;
    m_profile.IPAddress = localIp;
    m_profile.LocalPort = ChatDatagramPort;
    SaveProfile(m_profile, m_profile.ChatName);
}

int ChatSession::openPorts()
{
    m_wskChat->Close(); // releases the port at once
    m_wskChat->setLocalPort(ChatDatagramPort);
    if (m_wskChat->Bind() != 0) {
        // Another chat control of this computer holds the port.
        MsgBox(text::SessionInProgress.toString(), MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    // Chat works without the file listener, but nobody could fetch a file offered.
    if (m_fileSend->Listen() != 0) m_view->showPanel(1, text::FilePortBusy.toString().arg(FileTransferPort));
    return 0;
}

ChatSession::~ChatSession()
{
    end();
}

outlook::Item SilentView::shownItem() const
{
    return {};
}

void ChatSession::release(std::unique_ptr<ChatSession> session)
{
    session->end();
    static SilentView none;
    session->m_view = &none;
    if (session->m_running == 0) return;
    session->m_released = true;
    (void)session.release(); // the last running handler deletes it
}

MsgResult ChatSession::MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon)
{
    if (m_sessionEnded) return MsgResult::Cancel;
    const MsgResult answer = platform::MsgBox(text, buttons, icon);
    // Ended while asking: whatever was answered, the session has nobody to act for.
    return m_sessionEnded ? MsgResult::Cancel : answer;
}

void ChatSession::end()
{
    if (m_sessionEnded) return;
    LeaveOnClose();
    m_sessionEnded = true;
    // No call outlives its session; stored without an event, as nobody hears it now.
    m_state.callStatus = CallState::Idle;
    stopPlacing();
    m_privateAdmissions.clear();
    m_wskChat->Close(); // releases the port at once
    m_fileSend->Close();
    if (m_store) m_store->Release();
    if (m_history) m_history->flush();
}

void ChatSession::SetCallStatus(CallState state, const QString& text)
{
    if (m_state.networkState == 1) return;
    storeCallState(state);
    // The party's name for the waiting and incoming texts; the address called for the calling one.
    m_view->showCallStatus(state, state == CallState::Calling ? m_wskChat->RemoteHost() : text);
    switch (state) {
    case CallState::Idle:
    case CallState::Connected:
        m_tmrMain->stop();
        break;
    case CallState::Calling:
        m_tmrMain->start();
        break;
    case CallState::Incoming:
        PlayAlert(1);
        break;
    default:
        break;
    }
    // Nothing yields here: the view repaints once the handler that changed the state returns.
    Q_EMIT callStatusChanged(m_state.callStatus);
}

void ChatSession::SetNetworkState(short state)
{
    m_state.networkState = state;
    if (state == 1) m_view->showOffline();
}

void ChatSession::PlayAlert(int kind)
{
    if (kind == 1 && m_state.useCallSound)
        m_view->playSound(m_state.callFile);
    else if (kind == 0 && m_state.useAttnSound)
        m_view->playSound(m_state.attnFile);
}

void ChatSession::onChatDatagram()
{
    const QByteArray datagram = m_wskChat->GetData();
    if (datagram.isEmpty()) return;
    // The sender is read now: handlers that yield let further datagrams change the socket's.
    HandleDatagram(datagram, m_wskChat->RemoteHostIP());
}

void ChatSession::HandleDatagram(const QByteArray& datagram, const QString& sender)
{
    const bool wasFromNetwork = m_fromNetwork;
    const QString previousSender = m_datagramSender;
    m_fromNetwork = true;
    m_datagramSender = sender;
    const Running running(*this);
    DataRcvd(ReadDatagram(datagram), false);
    m_fromNetwork = wasFromNetwork;
    m_datagramSender = previousSender;
}

void ChatSession::onChatError(int number, const QString& description)
{
    m_view->showPanel(1, QString::number(number) + u':' + description);
    m_view->beep();
}

int ChatSession::DataPass(const QString& sDataPass)
{
    const QStringList fields = ParseDatagram(sDataPass);
    if (fields.isEmpty()) return 0;
    // Passed in by the monitor of this computer, not read from the network.
    const bool wasFromNetwork = m_fromNetwork;
    m_fromNetwork = false;
    const Running running(*this);
    const int result = DataRcvd(fields, true);
    m_fromNetwork = wasFromNetwork;
    return result;
}

bool ChatSession::Alone(short nRoom) const
{
    if (m_rooms.count() != 1 || !m_rooms.valid(nRoom)) return false;
    return m_rooms.at(nRoom).rowCount() == 1;
}

bool ChatSession::refuseChatName(const QString& name)
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

int ChatSession::ChangeUserName(const QString& sNewName)
{
    const Running running(*this);
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

void ChatSession::renameOwnRows(const QString& name)
{
    // Every room, not only the one in front: the others would go on showing the old name.
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant own = m_rooms.at(i).row(1);
        if (!own.isNull()) own.setName(name);
    }
}

void ChatSession::OwnRowEdited(QString oldName, QString newName)
{
    const Running running(*this);
    // The list shows the new name only once it is taken.
    if (newName.isEmpty() || newName == oldName || refuseChatName(newName)) return;
    m_profile.ChatName = newName;
    SaveProfile(m_profile, oldName);
    m_state.shownChatName = newName;
    renameOwnRows(newName);
    DataSend(mode::NickName, oldName + FieldSeparator + newName);
}

StoreAccess& ChatSession::store()
{
    if (!m_store) m_store = std::make_unique<StoreAccess>(Deliverable::Quillon);
    return *m_store;
}

QString ChatSession::UserProfile(short nIndex, const QString& sUserName) const
{
    static const QString unknown = u"Unknown"_s;
    if (nIndex < 0 || nIndex >= UserRecord::FieldCount) return unknown;
    if (sUserName.isEmpty() || sUserName == m_profile.ChatName) return ownRecord().fields().at(nIndex);
    const Participant p = m_rooms.publicRoom().findRow(sUserName);
    if (p.isNull()) return unknown;
    return p.record().fields().at(nIndex);
}

void ChatSession::setRemoteHost(const QString& host)
{
    m_state.remoteHost = host;
    m_wskChat->setRemoteHost(host);
}

void ChatSession::setRemotePort(int port)
{
    m_state.remotePort = port;
    m_wskChat->setRemotePort(port);
}

void ChatSession::SetStatus(const QString& sStatus)
{
    // 1.-2. The availability menu's check mark and the panel
    m_view->showAvailability(sStatus);
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

int ChatSession::ShowUser(const QStringList& vData)
{
    const QString text = vData.join(FieldSeparator);
    const bool started =
        platform::Shell::current().start(SystemFolder() + u"/dorvan"_s, {text}, QDir::homePath());
    return started ? 0 : -1;
}

int ChatSession::CancelFileTransfer()
{
    const Running running(*this);
    if (MsgBox(sendtext::CancelQuestion.toString(), MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes)
        return -1;
    // Cancelling means these files too, not only the one offered.
    m_fileQueue.clear();
    m_fileSend->Cancel();
    m_view->showCancel(m_fileSend->busy());
    m_view->showPanel(1, sendtext::Cancelled.toString());
    return 0;
}

void ChatSession::LeaveOnClose()
{
    // As /quit does, so that peers drop the row rather than keep sending to a
    // closed form. Nothing here yields: the control is going away.
    if (m_state.callStatus == CallState::Calling || m_state.callStatus == CallState::WaitingToEnter)
        sendGiveUp();
    for (int position = m_rooms.highest(); position >= 1; --position)
        DataSend(mode::Leave, m_rooms.at(position).tag, QString::number(position));
    if (m_rooms.publicRoom().rowCount() > 1) DataSend(mode::Leave, PublicTag.toString(), u"0"_s);
}

void ChatSession::reloadProfile()
{
    LoadProfile(Deliverable::Quillon, m_profile);
    updateOwnRows();
}

void ChatSession::announceChatName()
{
    if (!m_state.shownChatName.isEmpty() && m_state.shownChatName != m_profile.ChatName)
        DataSend(mode::NickName, m_state.shownChatName + FieldSeparator + m_profile.ChatName);
    m_state.shownChatName = m_profile.ChatName;
}

void ChatSession::readPreferences()
{
    m_state.myColor = ColorFromSetting(ReadSetting(Deliverable::Quillon, settings::MyColor).toLongLong());
    m_state.useOthers = ReadFlag(Deliverable::Quillon, settings::UseOthers);
    m_state.othersColor =
        ColorFromSetting(ReadSetting(Deliverable::Quillon, settings::OthersColor).toLongLong());
    m_state.useCallSound = ReadFlag(Deliverable::Quillon, settings::UseCallSnd);
    m_state.callFile = ReadSetting(Deliverable::Quillon, settings::CallFile);
    m_state.useAttnSound = ReadFlag(Deliverable::Quillon, settings::UseAttnSnd);
    m_state.attnFile = ReadSetting(Deliverable::Quillon, settings::AttnFile);
    m_state.keepHistory = ReadFlag(Deliverable::Quillon, settings::KeepHistory);
}

std::shared_ptr<History> ChatSession::history()
{
    if (!m_history) m_history = History::user();
    return m_history;
}

void ChatSession::showChatLine(Room& room, const QString& name, const QColor& color, const QString& text)
{
    AppendChatLine(room.transcript, name, color, text);
    if (m_state.keepHistory) history()->add(RoomCaption(room.tag), name, text);
}

void ChatSession::showNoticeLine(Room& room, const QString& name, const QString& text)
{
    AppendNoticeLine(room.transcript, name, text);
    if (m_state.keepHistory) history()->add(RoomCaption(room.tag), u"["_s + name + u"]"_s, text);
}

void ChatSession::updateOwnRows()
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

bool ChatSession::RunCommandLine(const QString& text)
{
    const Running running(*this);
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

short ChatSession::OpenPrivateRoom(const QStringList& vData)
{
    const std::optional<UserRecord> other = UserRecord::fromFields(vData, field::Record);
    if (!other || other->chatName.isEmpty()) return -1;
    // Tags are unique: a room already open with that party is the answer.
    const int existing = m_rooms.FindRoom(other->chatName);
    if (existing >= 1) return short(existing);
    Room& room = m_rooms.append(std::make_unique<Room>(other->chatName));
    const int position = m_rooms.count() - 1;
    m_view->roomOpened(position);
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
    ShowRoomName();
    m_view->switchRoom(position);
    return short(position);
}

int ChatSession::ClosePrivateRoom(const QString& tag)
{
    const int position = m_rooms.FindRoom(tag);
    if (position < 1) return -1;
    const bool wasCurrent = position == m_rooms.current;
    m_view->roomClosing(position);
    m_rooms.take(position);
    // The room in front stays in front; when it was the one closed, the room before it comes forward.
    int next = m_rooms.current;
    if (wasCurrent)
        next = position - 1;
    else if (m_rooms.current > position)
        next = m_rooms.current - 1;
    m_rooms.current = -1;
    m_view->switchRoom(next);
    if (m_rooms.count() == 1 && Alone(0)) SetCallStatus(CallState::Idle);
    return 0;
}

int ChatSession::Disconnect(bool bPrompt)
{
    const Running running(*this);
    if (bPrompt && m_state.callStatus == CallState::Connected &&
        MsgBox(text::InCallQuestion.toString(), MsgButtons::YesNo, MsgIcon::Information) != MsgResult::Yes)
        return -1;
    if (m_state.callStatus != CallState::Idle) DataSend(mode::GiveUp);
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
    if (m_state.callStatus != CallState::Idle) {
        DataSend(mode::Leave, PublicTag.toString(), u"0"_s);
        m_rooms.publicRoom().keepOnlyOwnRow();
        // Out of the call: otherwise the control would go on showing "Connected"
        // and offer only "&End Call", never a new call.
        if (m_state.callStatus != CallState::NotStarted && m_state.callStatus != CallState::NoProfile)
            SetCallStatus(CallState::Idle);
    }
    return 0;
}

void ChatSession::LeaveRoom(int position)
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
    const CallState status = m_state.callStatus;
    if (m_rooms.count() == 1 && status != CallState::NotStarted && status != CallState::NoProfile &&
        status != CallState::Idle)
        SetCallStatus(CallState::Idle);
}

void ChatSession::ShowRoomName()
{
    m_view->showPanel(1,
                      m_rooms.current == 0 ? PublicRoomCaption.toString() : RoomCaption(m_rooms.currentTag));
}

void ChatSession::ToggleIgnore(Participant row)
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

void ChatSession::RequestPrivateRoom(const QString& name)
{
    // The request goes to the party's row in the public room. The current tag
    // names the party only while the public room is in front: in a private room
    // it must keep naming that room's party, or its lines would go astray.
    if (m_rooms.current == 0) m_rooms.currentTag = name;
    SendToParticipant(
        *m_wskChat, m_rooms, 0, name,
        BuildPriChat(ownRecord(), qint32(ColorToSetting(m_state.myColor)), QString(word::OpenPrivate)));
}

} // namespace kv::control
