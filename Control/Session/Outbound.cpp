// What the chat control sends: DataSend and its modes, and the file offers one at a time.
#include "Control/Session/ChatSession.h"

#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/Texts.h"
#include "Control/Session/Transcript.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;
using namespace session;

UserRecord ChatSession::ownRecord() const
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

int ChatSession::DataSend(short nSendMode, const QString& sData, const QString& sData2)
{
    const Running running(*this);
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
        showChatLine(m_rooms.at(cur), own, m_state.myColor, sData);
        break;
    case mode::PriChat:
        if (sData.trimmed().isEmpty()) return 0;
        SendToParticipant(sock, m_rooms, cur, m_rooms.currentTag, BuildPriChat(ownRecord(), myColor, sData));
        if (sData != QString(word::OpenPrivate)) showChatLine(m_rooms.at(cur), own, m_state.myColor, sData);
        break;
    case mode::Status:
        BroadcastToAllRooms(sock, m_rooms, BuildStatus(own, m_profile.UserStatus));
        showNoticeLine(m_rooms.publicRoom(), own, StatusNotice(m_profile.UserStatus));
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

void ChatSession::sendRoomList()
{
    // The admitted caller enters the public room, whichever room is in front.
    QList<UserRecord> entries;
    const Room& room = m_rooms.publicRoom();
    for (int n = 1; n <= room.rowCount(); ++n)
        entries.append(room.row(n).record());
    SendToParticipant(*m_wskChat, m_rooms, 0, QString(), BuildRoomList(entries));
}

void ChatSession::sendLeave(const QString& tag, const QString& position)
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

int ChatSession::prepareFileOffer(int position, const QString& name, QString path)
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

int ChatSession::offerFile(int position, const QString& name, const QString& path)
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
    m_view->showCancel(true);
    AppendPlainText(m_rooms.at(position).transcript, text::FileOffered.toString().arg(title, name));
    m_view->showPanel(1, text::SendingFile.toString() + title + u" to "_s + name + u"..."_s);
    return 0;
}

void ChatSession::offerNextFile()
{
    while (!m_fileQueue.empty() && !m_fileSend->offerPending()) {
        const QueuedFile next = m_fileQueue.front();
        m_fileQueue.pop_front();
        // The room may have closed meanwhile; its files go nowhere.
        const int position = next.tag == PublicTag.toString() ? 0 : m_rooms.FindRoom(next.tag);
        if (m_rooms.valid(position)) offerFile(position, next.name, next.path);
    }
}

bool ChatSession::confirmDumpUser(const QString& name)
{
    return MsgBox(text::DisconnectQuestion.toString() + name + u"' ?"_s, MsgButtons::YesNo,
                  MsgIcon::Question) == MsgResult::Yes;
}

} // namespace kv::control
