// The chat control's inbound datagrams: each input is a short exchange played
// into a fresh control (127.130.1.2) that is in a call with Bob (127.130.1.3);
// "#<digit>" picks another starting call state. Afterwards row 1 of every room
// is still the local user and no room lists a name twice.
#include "fuzz/FuzzSupport.h"

#include "Control/Kivara.h"
#include "Platform/Prompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Platform/Sound.h"
#include "Shared/modUser.h"
#include "testing/Desk.h"

#include <QPointer>
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
constexpr short StartStates[] = {call::Connected,      call::Idle,     call::Calling,
                                 call::WaitingToEnter, call::Incoming, call::NoAnswer};

void CheckRooms(Kivara& k)
{
    for (int i = 0; i < k.rooms().count(); ++i) {
        const Room& room = k.rooms().at(i);
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Start(ControlIp);
    if (SaveProfile(test::UserProfile(OwnName, ControlIp, u"KV-ANN"_s), QString()) != 0)
        fuzz::Fail(u"the profile could not be saved"_s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Input input = fuzz::SplitInput(data, size);
    // Fresh each run, so that what one input recorded is not kept by the next.
    platform::Prompt::install(
        std::make_unique<platform::ScriptedPrompt>(u"form entering room => optEnter_1=checked; cmdFile_0\n"
                                                   "form Message Center => cmdFile_1\n"
                                                   "msgbox continue to wait => No\n"
                                                   "msgbox leave a message => No\n"_s));
    platform::Sound::install(std::make_unique<platform::RecordingSound>());
    platform::Shell::install(std::make_unique<platform::RecordingShell>());

    // Every wait the handlers may start ends almost at once.
    KivaraTimings timings;
    timings.mainTimerMs = 50;
    timings.helloPauseMs = 1;
    timings.admissionRingMs = 1;
    timings.admissionRefuseMs = 20;
    timings.socketCloseWaitMs = 20;
    timings.privateRoomWaitMs = 5;
    timings.callLoopBoundMs = 100;
    {
        auto k = std::make_unique<Kivara>(nullptr, timings);
        if (k->ChatInit() != 0) fuzz::Fail(u"ChatInit failed"_s);
        Participant bob = k->rooms().publicRoom().addRow(u"Bob"_s, u"3_0"_s);
        bob.setDetails(UserRecord{u"Bob"_s, u"Available"_s, QString(), ParticipantIp, QString(), u"KV-BOB"_s,
                                  QString(), u"3"_s});
        const short start = input.state < 0 ? call::Connected
                                            : StartStates[std::size_t(input.state) % std::size(StartStates)];
        k->setCallStatus(start);
        if (start != call::Idle) k->setRemoteHost(ParticipantIp);

        QPointer<Kivara> alive(k.get());
        for (const fuzz::Datagram& d : input.datagrams) {
            k->HandleDatagram(fuzz::ConfineAddresses(d.bytes), d.fromStranger ? StrangerIp : ParticipantIp);
            if (!alive) fuzz::Fail(u"the control deleted itself"_s);
        }
        CheckRooms(*k);
    }
    fuzz::Settle();
    return 0;
}
