// The chat session's inbound datagrams: each input is a short exchange played
// into the headless session (127.130.1.2, made once and set back before each
// input: only its own row, then Bob at 127.130.1.3 in a call with it);
// "#<digit>" picks another starting call state. The session's
// view answers the admission and message dialogs by the caller's name. After
// every datagram the view shows exactly the session's rooms; afterwards row 1
// of every room is still the local user and no room lists a name twice.
#include "fuzz/FuzzSupport.h"

#include "Control/Session/ChatSession.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Prompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"

#include <QPointer>
#include <QTimer>
#include <QSet>

#include <memory>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::control;

namespace {

const QString ControlIp = u"127.130.1.2"_s;
const QString ParticipantIp = u"127.130.1.3"_s;
const QString StrangerIp = u"127.130.1.4"_s;
const QString OwnName = u"Ann"_s;

// Starting call states a "#<digit>" picks from; without one the control is connected.
constexpr CallState StartStates[] = {CallState::Connected,      CallState::Idle,     CallState::Calling,
                                     CallState::WaitingToEnter, CallState::Incoming, CallState::NoAnswer};

void CheckRooms(ChatSession& s)
{
    for (int i = 0; i < s.rooms().count(); ++i) {
        const Room& room = s.rooms().at(i);
        if (room.rowCount() < 1 || room.row(1).name() != OwnName)
            fuzz::Fail(u"room %1 lost the local user's row"_s.arg(i));
        QSet<QString> seen;
        for (int n = 1; n <= room.rowCount(); ++n) {
            const QString name = room.row(n).name();
            if (seen.contains(name)) fuzz::Fail(u"room %1 lists %2 twice"_s.arg(i).arg(name));
            seen.insert(name);
        }
    }
}

// The window's part, kept to what the session's rooms need; the dialogs answer
// by the party's name, so inputs reach every branch after them.
class View : public SilentView {
public:
    int rooms = 1; // the public room has its widgets from the start
    void roomOpened(int position) override
    {
        if (position != rooms) fuzz::Fail(u"room %1 opened where room %2 was due"_s.arg(position).arg(rooms));
        ++rooms;
    }
    void roomClosing(int position) override
    {
        if (position < 1 || position >= rooms) fuzz::Fail(u"closing room %1 of %2"_s.arg(position).arg(rooms));
        --rooms;
    }
    void switchRoom(int position) override { m_switchTo = position; }
    std::optional<short> askAdmission(const QString& caller) override
    {
        static constexpr short Answers[] = {ChoiceEnter, ChoiceRefuse, ChoicePrivate, ChoiceGaveUp};
        return Answers[caller.isEmpty() ? 0 : caller.at(0).unicode() % std::size(Answers)];
    }
    std::optional<LeftMessage> askLeftMessage(const QString& callee) override
    {
        if (callee.size() % 2) return std::nullopt;
        return LeftMessage{u"Subject"_s, u"Body"_s};
    }
    // The switch a real view makes: the room in front and its tag.
    void applySwitch(RoomTable& table)
    {
        if (m_switchTo < 0 || !table.valid(m_switchTo)) return;
        table.current = m_switchTo;
        table.currentTag = table.at(m_switchTo).tag;
        m_switchTo = -1;
    }

private:
    int m_switchTo = -1;
};

View* view = nullptr;
ChatSession* session = nullptr;

// The session as each input finds it: no private room, only the own row and
// Bob in the public room, empty transcripts, the starting call state.
void SetBack(CallState start)
{
    RoomTable& rooms = session->rooms();
    for (int position = rooms.highest(); position >= 1; --position)
        session->ClosePrivateRoom(rooms.at(position).tag);
    view->applySwitch(rooms);
    Room& pub = rooms.publicRoom();
    pub.keepOnlyOwnRow();
    pub.transcript.clear();
    rooms.current = 0;
    rooms.currentTag = PublicTag.toString();
    Participant bob = pub.addRow(u"Bob"_s, u"3_0"_s);
    bob.setDetails(UserRecord{u"Bob"_s, u"Available"_s, QString(), ParticipantIp, QString(), u"KV-BOB"_s,
                              QString(), u"3"_s});
    session->setCallStatus(start);
    session->setRemoteHost(start != CallState::Idle ? ParticipantIp : QString());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Start(ControlIp);
    if (SaveProfile(test::UserProfile(OwnName, ControlIp, u"KV-ANN"_s), QString()) != 0)
        fuzz::Fail(u"the profile could not be saved"_s);
    // Every wait the handlers may start ends at once.
    KivaraTimings timings;
    timings.mainTimerMs = 50;
    timings.helloIntervalMs = 4;
    timings.privateRoomWaitMs = 0;
    timings.callLoopBoundMs = 100;
    view = new View;
    session = new ChatSession(*view, timings);
    // Not prepare(): its network check connects out, and no datagram depends on it.
    session->profileReady(session->loadProfile());
    if (session->openPorts() != 0) fuzz::Fail(u"the chat port could not be bound"_s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Input input = fuzz::SplitInput(data, size);
    // Renewed now and then, so that what they record stays small.
    static int runs = 0;
    if (runs++ % 256 == 0) {
        platform::Prompt::install(std::make_unique<platform::ScriptedPrompt>(
            u"msgbox continue to wait => No\nmsgbox leave a message => Yes\n"_s));
        platform::Shell::install(std::make_unique<platform::RecordingShell>());
    }
    const CallState start = input.state < 0 ? CallState::Connected
                                            : StartStates[std::size_t(input.state) % std::size(StartStates)];
    SetBack(start);
    for (const fuzz::Datagram& d : input.datagrams) {
        session->HandleDatagram(fuzz::ConfineAddresses(d.bytes), d.fromStranger ? StrangerIp : ParticipantIp);
        view->applySwitch(session->rooms());
        if (view->rooms != session->rooms().count())
            fuzz::Fail(u"the view shows %1 rooms of %2"_s.arg(view->rooms).arg(session->rooms().count()));
    }
    CheckRooms(*session);
    fuzz::Settle();
    return 0;
}
