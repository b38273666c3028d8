// The inbound dispatcher: every message that reaches the control, from the
// network or passed in by the monitor, and what it does to rooms, rows,
// transcripts, the call state and the contact shown on the form.
#include "Control/Session/ChatSession.h"

#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/Log.h"
#include "Control/Session/Transcript.h"
#include "Platform/HostLookup.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Shared/ContactRecords.h"
#include "Shared/Log.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"

#include <QDir>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

// A message's fields; reading one that is not there ends the handler (effects before it stay).
struct MissingField {
    qsizetype index; // the first field wanted and not there
};
class Fields {
public:
    explicit Fields(const QStringList& fields) : m_fields(fields) {}
    QString operator[](qsizetype i) const
    {
        if (i < 0 || i >= m_fields.size()) throw MissingField{i};
        return m_fields.at(i);
    }
    qsizetype size() const { return m_fields.size(); }
    // Field i and all after it, joined again: a last field whose text held a "|".
    QString rest(qsizetype i) const
    {
        if (i < 0 || i >= m_fields.size()) throw MissingField{i};
        return m_fields.sliced(i).join(FieldSeparator);
    }
    const QStringList& all() const { return m_fields; }
    // The user record at fields first .. first+7.
    UserRecord record(qsizetype first) const
    {
        const std::optional<UserRecord> r = UserRecord::fromFields(m_fields, first);
        if (!r) throw MissingField{m_fields.size()};
        return *r;
    }

private:
    const QStringList& m_fields;
};

namespace {

namespace text {
constexpr QStringView Unavailable = u"The contact you are calling has responded, but is unavailable.";
constexpr QStringView StatusPrefix = u"\r\rStatus: ";
constexpr QStringView LeaveMessageQuestion = u"\r\rWould you like to leave a message ?";
constexpr QStringView EnteredRoom =
    u" has entered your chat room.\r\n\r\nDo you want to add this Contact to your '";
constexpr QStringView EnteredRoomEnd = u"' folder ?";
constexpr QStringView ChangedName = u"changed Chat Name to '";
constexpr QStringView AddedYou = u"has added you to their Kivara folder.";
constexpr QStringView RequestedPeerslip = u"has requested your Peerslip.";
constexpr QStringView LeftChat = u"left the chat.";
// Availability texts of a refusal room list.
constexpr QStringView CannotTalk = u"I cannot talk now.  Please call back later.";
} // namespace text

constexpr int MaxPrivateRooms = 32;

// Why a message changed nothing, as its debug line says.
namespace drop {
constexpr const char* Stranger = "sender in no call here";
constexpr const char* Ignored = "sender is ignored";
constexpr const char* NotCalling = "no call being placed";
} // namespace drop

// Where a message came from, for a debug line: the datagram's source, or this computer for one passed in.
QString Origin(const QString& sender)
{
    return sender.isEmpty() ? u"this computer"_s : sender;
}

namespace mode {
constexpr short RoomList = 3, GetUserSimple = 5, PubChat = 7, PriChat = 8;
}

// Contact user properties the control writes.
namespace prop {
constexpr QStringView QuillonName = u"QuillonName";
constexpr QStringView UserStatus = u"UserStatus";
constexpr QStringView LocalHost = u"LocalHost";
constexpr QStringView SerialNumber = u"SerialNumber";
} // namespace prop

// Addresses that arrive in messages are used only as dotted IPv4 literals:
// anything else would be looked up by name, which a datagram must never cause.
QString NetAddress(const QString& text)
{
    static const QRegularExpression dotted(u"^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"_s);
    const QRegularExpressionMatch m = dotted.match(text);
    if (!m.hasMatch()) return QString();
    for (int i = 1; i <= 4; ++i)
        if (m.captured(i).toInt() > 255) return QString();
    return text;
}

UserRecord Sanitized(UserRecord r)
{
    r.ipAddress = NetAddress(r.ipAddress);
    return r;
}

bool IsRefusal(const QString& availability)
{
    return availability == availability::Unavailable.toString() ||
           availability == availability::OutOfOffice.toString() ||
           availability == text::CannotTalk.toString();
}

} // namespace

int ChatSession::DataRcvd(const QStringList& vData, bool bPassed)
{
    if (vData.isEmpty()) return 0;
    // Only a message read from the network has a sender to check; one passed by a host is local.
    const QString sender = m_fromNetwork ? m_datagramSender : QString();
    if (!m_profileLoaded) {
        qCDebug(lcControl, "message from %s ignored: no profile loaded yet", qUtf8Printable(Origin(sender)));
        return 0;
    }
    try {
        dispatch(Fields(vData), bPassed, sender);
    } catch (const MissingField& missing) {
        // A short message ends its handler where the field is missing.
        qCDebug(lcControl, "%s from %s stopped at missing field %lld", qUtf8Printable(vData.first()),
                qUtf8Printable(Origin(sender)), qlonglong(missing.index));
    }
    return 0;
}

bool ChatSession::knownHost(const QString& sender) const
{
    if (sender.isEmpty()) return true;
    // The party called may have been named by its computer name: compare with the address it resolved to.
    for (const QString& called : {m_wskChat->RemoteHost(), m_state.remoteHost}) {
        if (sender == called) return true;
        const platform::HostLookup::Answer address = platform::HostLookup::known(called);
        if (address && sender == address->toString()) return true;
    }
    for (int i = 0; i < m_rooms.count(); ++i) {
        const Room& room = m_rooms.at(i);
        for (int n = 2; n <= room.rowCount(); ++n)
            if (room.row(n).address() == sender) return true;
    }
    return false;
}

Participant ChatSession::otherRow(const Room& room, const QString& name) const
{
    const Participant p = room.findRow(name);
    if (p.index() == 0) return Participant();
    return p;
}

bool ChatSession::removeOther(Room& room, const QString& name)
{
    const Participant p = otherRow(room, name);
    if (p.isNull()) return false;
    room.participants.remove(p);
    return true;
}

void ChatSession::UpdateShownContact(const QString& match, bool alsoEmpty,
                                const QList<std::pair<QString, QString>>& userProperties,
                                const QList<std::pair<QString, QString>>& members)
{
    const outlook::Item item = m_view->shownItem();
    if (!item) return;
    const outlook::UserProperties props = item.UserProperties();
    if (!props) return;
    const outlook::UserProperty serial = props.Find(prop::SerialNumber.toString());
    const QString shown = serial ? serial.Value().toString() : QString();
    if (shown != match && !(alsoEmpty && shown.isEmpty())) return;
    for (const auto& [name, value] : userProperties)
        if (const outlook::UserProperty p = props.Find(name)) p.setValue(value);
    for (const auto& [name, value] : members) {
        if (name == u"Body"_s)
            item.setBody(value);
        else if (name == u"Email1Address"_s)
            item.setEmail1Address(value);
    }
}

// What every handler is told about a message besides its fields.
struct Arrival {
    bool passed;    // handed in by a host rather than read from the network
    QString sender; // the datagram's source address; empty for a message passed in
    bool found;     // the sender has a row in the public list, looked up once on arrival
};

namespace {
// The one line a message that changed nothing leaves: its word, where it came from and why; never its text.
void LogIgnored(const Fields& f, const Arrival& a, const char* why)
{
    qCDebug(lcControl, "%s from %s ignored: %s", qUtf8Printable(f.all().first()),
            qUtf8Printable(Origin(a.sender)), why);
}
} // namespace

void ChatSession::dispatch(const Fields& f, bool bPassed, const QString& sender)
{
    using Handler = void (ChatSession::*)(const Fields&, const Arrival&);
    struct Entry {
        QLatin1StringView word;
        Handler handler;
    };
    // MESSAGE (the monitor's to store) and DONEHELLO are not listed: like any unknown word, they are ignored.
    static constexpr Entry handlers[] = {
        {msg::Hello, &ChatSession::onHello},       {msg::HelloWait, &ChatSession::onHelloWait},
        {msg::GiveUp, &ChatSession::onGiveUp},     {msg::RoomList, &ChatSession::onRoomList},
        {msg::Enter, &ChatSession::onEnter},       {msg::PubChat, &ChatSession::onPubChat},
        {msg::PriChat, &ChatSession::onPriChat},   {msg::Status, &ChatSession::onStatus},
        {msg::NickName, &ChatSession::onNickName}, {msg::Update, &ChatSession::onUpdate},
        {msg::GetUser, &ChatSession::onGetUser},   {msg::SaveUser, &ChatSession::onSaveUser},
        {msg::ShowUser, &ChatSession::onShowUser}, {msg::FilePrep, &ChatSession::onFilePrep},
        {msg::NoFile, &ChatSession::onNoFile},     {msg::Leave, &ChatSession::onLeave},
        {msg::DumpUser, &ChatSession::onDumpUser}, {msg::LeaveMsg, &ChatSession::onLeaveMsg},
    };
    const QString name = f[0];
    const auto entry = std::find_if(std::begin(handlers), std::end(handlers),
                                    [&](const Entry& e) { return name == e.word; });
    if (entry == std::end(handlers)) {
        qCDebug(lcControl).nospace() << "message " << name.left(MaxLoggedWord) << " from "
                                     << qUtf8Printable(Origin(sender)) << " ignored: no handler for its word";
        return;
    }
    const bool found = f.size() > 1 && !otherRow(m_rooms.publicRoom(), f.all().at(1)).isNull();
    (this->*entry->handler)(f, Arrival{bPassed, sender, found});
}

void ChatSession::onHelloWait(const Fields& f, const Arrival& a)
{
    if (m_state.callStatus != CallState::Calling && m_state.callStatus != CallState::WaitingToEnter)
        return LogIgnored(f, a, drop::NotCalling);
    SetCallStatus(CallState::WaitingToEnter, f[1]);
}

void ChatSession::onGiveUp(const Fields& f, const Arrival& a)
{
    if (!a.found) return LogIgnored(f, a, "caller not in the public room");
    const QString caller = f[1];
    m_view->closeAdmissionOf(caller);
    removeOther(m_rooms.publicRoom(), caller);
    if (Alone(0)) {
        SetCallStatus(CallState::Idle);
        closeFormWhenAloneFromTray();
    }
}

void ChatSession::onEnter(const Fields& f, const Arrival& a)
{
    if (!knownHost(a.sender)) return LogIgnored(f, a, drop::Stranger);
    const UserRecord r = Sanitized(f.record(1));
    if (r.chatName.isEmpty() || r.chatName == m_profile.ChatName) return;
    Room& pub = m_rooms.publicRoom();
    Participant row = otherRow(pub, r.chatName);
    if (row.isNull()) row = pub.addRow(r.chatName, r.iconCode + OtherIconSuffix.toString());
    row.setName(r.chatName);
    row.setDetails(r);
}

void ChatSession::onPubChat(const Fields& f, const Arrival& a)
{
    const QString from = f[1];
    const Participant row = otherRow(m_rooms.publicRoom(), from);
    int position = 0;
    if (!row.isNull()) {
        if (row.isIgnored()) return LogIgnored(f, a, drop::Ignored);
    } else {
        position = m_rooms.FindRoom(from);
        if (position < 1) return LogIgnored(f, a, "sender in no room here");
        const Participant inRoom = otherRow(m_rooms.at(position), from);
        if (!inRoom.isNull() && inRoom.isIgnored()) return LogIgnored(f, a, drop::Ignored);
    }
    const QString colour = f[2];
    const QString line = f.rest(field::PubChatLine);
    const QColor shownColour =
        m_state.useOthers ? m_state.othersColor : ColorFromSetting(colour.toLongLong());
    showChatLine(m_rooms.at(position), from, shownColour, line);
    PlayAlert(0);
    m_view->roomMarked(position);
}

void ChatSession::onStatus(const Fields& f, const Arrival&)
{
    const QString who = f[1];
    const QString availability = f[2];
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant row = otherRow(m_rooms.at(i), who);
        if (row.isNull() || row.availability() == availability) continue;
        if (row.isIgnored()) {
            row.setSavedAvailability(availability);
        } else {
            row.setAvailability(availability);
            row.setDimmed(availability != availability::Available.toString());
        }
        PlayAlert(0);
        showNoticeLine(m_rooms.at(i), who, StatusNotice(availability));
        UpdateShownContact(
            row.serial(), false,
            {{prop::QuillonName.toString(), who}, {prop::UserStatus.toString(), availability}});
    }
}

void ChatSession::onNickName(const Fields& f, const Arrival&)
{
    const QString oldName = f[1];
    const QString newName = f[2];
    if (newName.isEmpty() || oldName == newName || newName == m_profile.ChatName) return;
    QString serial;
    bool renamed = false;
    for (int i = 0; i < m_rooms.count(); ++i) {
        Room& room = m_rooms.at(i);
        Participant row = otherRow(room, oldName);
        // A name already listed there is not given to a second row.
        if (row.isNull() || !room.findRow(newName).isNull()) continue;
        row.setName(newName);
        showNoticeLine(room, oldName, text::ChangedName.toString() + newName + u"'."_s);
        serial = row.serial();
        renamed = true;
    }
    const int position = m_rooms.FindRoom(oldName);
    if (position >= 1 && m_rooms.FindRoom(newName) < 0) {
        Room& room = m_rooms.at(position);
        const bool wasCurrentTag = m_rooms.currentTag == room.tag;
        room.rename(newName);
        if (wasCurrentTag) m_rooms.currentTag = newName;
        m_view->roomCaptionChanged(position, wasCurrentTag);
    }
    if (renamed) UpdateShownContact(serial, false, {{prop::QuillonName.toString(), newName}});
    PlayAlert(0);
}

void ChatSession::onUpdate(const Fields& f, const Arrival&)
{
    const UserRecord r = Sanitized(f.record(1));
    if (r.chatName == m_profile.ChatName) return;
    for (int i = 0; i < m_rooms.count(); ++i) {
        Participant row = otherRow(m_rooms.at(i), r.chatName);
        if (row.isNull()) continue;
        row.setName(r.chatName);
        row.setDetails(r);
    }
    // The room found carries this name already; its caption is shown afresh (a mark on its button goes).
    const int position = m_rooms.FindRoom(r.chatName);
    if (position >= 1) m_view->roomCaptionChanged(position, position == m_rooms.current);
    UpdateShownContact(r.serialNum, true,
                       {{prop::QuillonName.toString(), r.chatName},
                        {prop::UserStatus.toString(), r.availability},
                        {prop::LocalHost.toString(), r.ipAddress},
                        {prop::SerialNumber.toString(), r.serialNum}},
                       {{u"Email1Address"_s, r.email}, {u"Body"_s, r.comment}});
}

void ChatSession::onGetUser(const Fields& f, const Arrival&)
{
    const QString requester = f[1];
    const QString kind = f[2];
    const int cur = m_rooms.valid(m_rooms.current) ? m_rooms.current : 0;
    if (kind == word::Simple) {
        SendToParticipant(*m_wskChat, m_rooms, cur, requester, BuildSaveUser(ProfileFieldString(m_profile)));
        if (f[4] == word::Normal) showNoticeLine(m_rooms.at(cur), requester, text::AddedYou.toString());
    } else if (kind == word::Profile) {
        showNoticeLine(m_rooms.at(cur), requester, text::RequestedPeerslip.toString());
        SendToParticipant(*m_wskChat, m_rooms, cur, requester, BuildShowUser(ProfileFieldString(m_profile)));
    }
}

void ChatSession::onShowUser(const Fields& f, const Arrival&)
{
    ShowUser(f.all());
}

void ChatSession::onFilePrep(const Fields& f, const Arrival& a)
{
    // The receiver connects to the computer that offered, never to an address the offer names.
    QStringList offer = f.all();
    if (!a.sender.isEmpty() && offer.size() > field::FilePrepAddress)
        offer[field::FilePrepAddress] = a.sender;
    if (ShowFile(offer) != 0) LogIgnored(f, a, "offer incomplete, or the opener did not start");
}

void ChatSession::onNoFile(const Fields& f, const Arrival&)
{
    m_fileSend->OnNoFile(f[1]);
    m_state.sendFilePath.clear();
    m_state.sendFileSize = 0;
}

void ChatSession::onLeave(const Fields& f, const Arrival& a)
{
    const QString who = f[1];
    const QString room = f[2];
    if (room == word::PublicRoom) {
        if (a.found && removeOther(m_rooms.publicRoom(), who))
            showNoticeLine(m_rooms.currentRoom(), who, text::LeftChat.toString());
        ClosePrivateRoom(who);
        if (Alone(0) && m_state.callStatus == CallState::Connected) SetCallStatus(CallState::Idle);
    } else {
        ClosePrivateRoom(room);
    }
    PlayAlert(0);
}

void ChatSession::onDumpUser(const Fields& f, const Arrival& a)
{
    const QString remover = f[1];
    const QString removed = f[2];
    if (removed == m_profile.ChatName) {
        if (a.found) removeOther(m_rooms.publicRoom(), remover);
    } else {
        removeOther(m_rooms.publicRoom(), removed);
    }
    if (Alone(0) && m_state.callStatus == CallState::Connected) SetCallStatus(CallState::Idle);
    PlayAlert(0);
}

void ChatSession::onHello(const Fields& f, const Arrival& a)
{
    const QString caller = f[1];
    const QString own = m_profile.ChatName;
    if (caller.isEmpty()) return;
    if (caller == own) {
        refuseOwnName(f);
        return;
    }
    SetCallStatus(CallState::Incoming, caller);
    const UserRecord r = Sanitized(f.record(1));
    if (!a.found) {
        if (Alone(0)) m_view->conversationCleared();
        Participant row = m_rooms.publicRoom().addRow(caller, r.iconCode + OtherIconSuffix.toString());
        row.setDetails(r);
        row.setDimmed(r.availability != availability::Available.toString());
    }
    addressCaller(r.ipAddress);
    if (!a.passed) SendToParticipant(*m_wskChat, m_rooms, 0, QString(), BuildHelloWait(own));
    const std::optional<short> choice = m_view->askAdmission(caller);
    if (!choice) return;
    if (*choice == ChoicePrivate)
        admitPrivately(r, a.found);
    else if (answerCaller(*choice, r, own))
        welcomeCaller(r, a.found);
}

void ChatSession::welcomeCaller(const UserRecord& r, bool found)
{
    if (!offerAutoContact(r.chatName, found)) return;
    UpdateShownContact(r.serialNum, true,
                       {{prop::QuillonName.toString(), r.chatName},
                        {prop::UserStatus.toString(), r.availability},
                        {prop::LocalHost.toString(), r.ipAddress},
                        {prop::SerialNumber.toString(), r.serialNum}});
    m_view->focusEntry();
}

void ChatSession::refuseOwnName(const Fields& f)
{
    // A caller with the local user's own name cannot be told apart from the own row;
    // refused at once, so the caller is not left waiting for an answer.
    const UserRecord r = Sanitized(f.record(1));
    UserRecord refusal = ownRecord();
    refusal.availability = text::CannotTalk.toString();
    addressCaller(r.ipAddress);
    SendToParticipant(*m_wskChat, m_rooms, 0, QString(), BuildRoomList({refusal}));
}

void ChatSession::addressCaller(const QString& host)
{
    // Replies go to the caller, whatever other sends addressed in the meantime.
    if (!host.isEmpty()) m_wskChat->setRemoteHost(host);
    m_wskChat->setRemotePort(ChatDatagramPort);
}

bool ChatSession::answerCaller(short choice, const UserRecord& caller, const QString& own)
{
    switch (choice) {
    case ChoiceEnter:
        if (m_profile.UserStatus == availability::Unavailable.toString())
            SetStatus(availability::Available.toString());
        addressCaller(caller.ipAddress);
        DataSend(mode::RoomList);
        BroadcastToRoom(*m_wskChat, m_rooms, 0, BuildEnter(caller));
        SetCallStatus(CallState::Connected);
        return true;
    case ChoiceRefuse:
        refuseCaller(caller, own);
        return false;
    default:
        removeOther(m_rooms.publicRoom(), caller.chatName);
        if (Alone(0)) SetCallStatus(CallState::Idle);
        return false;
    }
}

void ChatSession::refuseCaller(const UserRecord& caller, const QString& own)
{
    const QString takes = ReadSetting(Deliverable::Quillon, settings::Messages);
    addressCaller(caller.ipAddress);
    SendToParticipant(*m_wskChat, m_rooms, 0, QString(), u"LEAVEMSG|"_s + own + FieldSeparator + takes);
    removeOther(m_rooms.publicRoom(), caller.chatName);
    if (Alone(0)) {
        SetCallStatus(CallState::Idle);
        closeFormWhenAloneFromTray();
    }
}

void ChatSession::admitPrivately(const UserRecord& caller, bool found)
{
    const QString name = caller.chatName;
    m_rooms.currentTag = name;
    const Participant row = otherRow(m_rooms.publicRoom(), name);
    SendToParticipant(
        *m_wskChat, m_rooms, 0, name,
        BuildPriChat(ownRecord(), qint32(ColorToSetting(m_state.myColor)), QString(word::OpenPrivate)));
    if (row.isNull()) {
        addressCaller(caller.ipAddress);
        SendToParticipant(
            *m_wskChat, m_rooms, 0, QString(),
            BuildPriChat(ownRecord(), qint32(ColorToSetting(m_state.myColor)), QString(word::OpenPrivate)));
    }
    removeOther(m_rooms.publicRoom(), name);
    SetCallStatus(CallState::Connected);
    if (m_rooms.FindRoom(name) >= 1) {
        welcomeCaller(caller, found);
        return;
    }
    // The room opens when the caller's own OPENPRI arrives. Bound: the caller's
    // supervision gives up after the same interval, so nothing comes later.
    m_privateAdmissions.append({caller, found});
    QTimer::singleShot(m_timings.privateRoomWaitMs, this, [this, name] { privateAdmissionExpired(name); });
}

std::optional<ChatSession::PrivateAdmission> ChatSession::takePrivateAdmission(const QString& name)
{
    const auto waiting = std::find_if(m_privateAdmissions.begin(), m_privateAdmissions.end(),
                                      [&](const PrivateAdmission& p) { return p.caller.chatName == name; });
    if (waiting == m_privateAdmissions.end()) return std::nullopt;
    PrivateAdmission taken = std::move(*waiting);
    m_privateAdmissions.erase(waiting);
    return taken;
}

void ChatSession::privateRoomOpened(const QString& name)
{
    if (const std::optional<PrivateAdmission> admitted = takePrivateAdmission(name))
        welcomeCaller(admitted->caller, admitted->found);
}

void ChatSession::privateAdmissionExpired(const QString& name)
{
    if (!takePrivateAdmission(name)) return;
    // The caller never answered: nobody is in a call with us through this request.
    if (m_rooms.currentTag == name) m_rooms.currentTag = m_rooms.currentRoom().tag;
    if (Alone(0)) {
        SetCallStatus(CallState::Idle);
        closeFormWhenAloneFromTray();
    }
}

bool ChatSession::offerAutoContact(const QString& caller, bool found)
{
    // Automatic contact: only for a caller who was new here while the user is available.
    if (m_profile.UserStatus != availability::Available.toString() || found) return true;
    const QString autoAdd = ReadSetting(Deliverable::Quillon, settings::AutoAdd);
    if (autoAdd == u"1"_s) {
        const MsgResult answer =
            MsgBox(caller + text::EnteredRoom.toString() + m_state.folder + text::EnteredRoomEnd.toString(),
                   MsgButtons::YesNo, MsgIcon::Question);
        if (answer != MsgResult::Yes) return false;
    }
    if (autoAdd == u"0"_s || autoAdd == u"1"_s) {
        // The contact made on entry is stored without questions.
        m_state.confirmContactSaves = false;
        DataSend(mode::GetUserSimple, caller, QString(word::Silent));
    }
    return true;
}

// ---- What the handlers show -------------------------------------------------------

void ChatSession::onRoomList(const Fields& f, const Arrival& a)
{
    // A room list comes from the party called or from a participant; a stranger's is dropped.
    if (!knownHost(a.sender)) return LogIgnored(f, a, drop::Stranger);
    const QString firstAvailability = f[3];
    if (IsRefusal(firstAvailability)) {
        // A refusal answers a call being placed; arriving late or unasked it changes nothing.
        if (m_state.callStatus != CallState::Calling && m_state.callStatus != CallState::WaitingToEnter)
            return LogIgnored(f, a, "refusal, but no call being placed");
        PlayAlert(0);
        SetCallStatus(CallState::Idle);
        MsgBox(text::Unavailable.toString() + text::StatusPrefix.toString() + firstAvailability,
               MsgButtons::OK, MsgIcon::Information);
        closeFormWhenAloneFromTray();
        return;
    }
    int position = m_rooms.FindRoom(f[2]);
    if (position < 1) position = 0;
    Room& room = m_rooms.at(position);
    {
        // Whole entries only: a trailing partial one is not a participant.
        for (const UserRecord& entry : RoomListEntries(f.all())) {
            const UserRecord e = Sanitized(entry);
            if (e.serialNum == m_profile.SerialNum) continue;
            if (e.chatName.isEmpty() || e.chatName == m_profile.ChatName) continue;
            Participant row = otherRow(room, e.chatName);
            if (row.isNull()) row = room.addRow(e.chatName, e.iconCode + OtherIconSuffix.toString());
            row.setDetails(e);
        }
    }
    const QString greeting = ReadSetting(Deliverable::Quillon, settings::EnterMsg);
    DataSend(mode::PubChat, greeting);
    SetCallStatus(CallState::Connected);
    UpdateShownContact(f[7], false,
                       {{prop::QuillonName.toString(), f[2]},
                        {prop::UserStatus.toString(), f[3]},
                        {prop::LocalHost.toString(), NetAddress(f[5])},
                        {prop::SerialNumber.toString(), f[7]}});
}

void ChatSession::onPriChat(const Fields& f, const Arrival& a)
{
    if (!knownHost(a.sender) && f.size() > 1 && f.all().at(1) != m_rooms.currentTag)
        return LogIgnored(f, a, drop::Stranger);
    const QString from = f[1];
    // A private room can never carry the public room's tag or the own name.
    if (from.isEmpty() || from == word::PublicRoomTag || from == m_profile.ChatName) return;
    int position = m_rooms.FindRoom(from);
    bool createdNow = false;
    Participant row;
    if (position < 1) {
        // However many names a party sends, the rooms stay a number a person can use.
        if (m_rooms.highest() >= MaxPrivateRooms) return LogIgnored(f, a, "private rooms at their limit");
        QStringList fields = f.all().mid(0, 9);
        if (fields.size() < 9) throw MissingField{fields.size()};
        fields[4] = NetAddress(fields[4]);
        if (OpenPrivateRoom(fields) < 1) return;
        // Opening yields: rooms may have come and gone meanwhile.
        position = m_rooms.FindRoom(from);
        if (position < 1) return;
        createdNow = true;
        row = otherRow(m_rooms.at(position), from);
    } else {
        row = otherRow(m_rooms.at(position), from);
    }
    const QString line = f.rest(field::PriChatLine);
    if (line != word::OpenPrivate) {
        if (!row.isNull() && row.isIgnored()) return LogIgnored(f, a, drop::Ignored);
        const QColor colour = m_state.useOthers ? m_state.othersColor : ColorFromSetting(f[9].toLongLong());
        Room& room = m_rooms.at(position);
        showChatLine(room, from, colour, line);
        PlayAlert(0);
        m_view->roomMarked(position);
    } else if (createdNow) {
        m_rooms.currentTag = from;
        DataSend(mode::PriChat, QString(word::OpenPrivate));
    }
    SetCallStatus(CallState::Connected);
    privateRoomOpened(from);
}

void ChatSession::onLeaveMsg(const Fields& f, const Arrival& a)
{
    const QString callee = f[1];
    const QString flag = f[2];
    // Only the party being called can refuse; offering a message to anyone else would be a stranger's prompt.
    if (m_state.callStatus != CallState::Calling && m_state.callStatus != CallState::WaitingToEnter)
        return LogIgnored(f, a, drop::NotCalling);
    if (flag == word::FlagOff) {
        SetCallStatus(CallState::Idle);
        MsgBox(text::Unavailable.toString(), MsgButtons::OK, MsgIcon::Information);
    } else if (flag == word::FlagOn) {
        SetCallStatus(CallState::Connected);
        const MsgResult answer = MsgBox(text::Unavailable.toString() + text::LeaveMessageQuestion.toString(),
                                        MsgButtons::YesNo, MsgIcon::Question);
        if (answer == MsgResult::Yes) {
            if (const std::optional<LeftMessage> left = m_view->askLeftMessage(callee)) {
                // To the monitor of the party that answered.
                const QString host = NetAddress(a.sender).isEmpty() ? m_state.remoteHost : a.sender;
                if (!host.isEmpty()) m_wskChat->setRemoteHost(host);
                SendToParticipantMonitor(*m_wskChat, m_rooms, 0, QString(),
                                         u"MESSAGE|"_s + ShortProfileFieldString(m_profile) + FieldSeparator +
                                             left->subject + FieldSeparator + left->body);
            }
        }
        SetCallStatus(CallState::Idle);
    }
}

void ChatSession::onSaveUser(const Fields& f, const Arrival&)
{
    SaveContact(store(), f.all(), m_state.confirmContactSaves, m_view->shownItem());
    m_state.confirmContactSaves = true;
}

int ChatSession::ShowFile(const QStringList& vData)
{
    // The opener receives the offer's six fields and the own chat name, as one argument.
    if (vData.size() < 6) return -1;
    const QString offer = vData.mid(0, 6).join(FieldSeparator) + FieldSeparator + m_profile.ChatName;
    const bool started = platform::Shell::current().start(SystemFolder() + u"/dorvan"_s, {offer}, QDir::homePath());
    return started ? 0 : -1;
}

} // namespace kv::control
