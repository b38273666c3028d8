// The tray monitor's call port: each input is a short exchange played into a
// freshly loaded monitor (127.130.2.2) from a caller at 127.130.2.3; "#<digit>"
// picks its answering mode (ringing, declining at once, asking, away). The
// monitor must stay loaded and must not be left inside its unavailable prompt.
#include "fuzz/FuzzSupport.h"

#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Platform/Sound.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "Vigilo/Monitor/frmTray.h"
#include "testing/Desk.h"

#include <QPointer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::vigilo;

namespace {

const QString MonitorIp = u"127.130.2.2"_s;
const QString CallerIp = u"127.130.2.3"_s;
const QString StrangerIp = u"127.130.2.4"_s;

struct Mode {
    QString availability;
    QString autoIgnore;
};
const Mode Modes[] = {{u"Available"_s, u"0"_s},
                      {u"Unavailable"_s, u"1"_s},
                      {u"Unavailable"_s, u"0"_s},
                      {u"Out of Office"_s, u"0"_s}};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Start(MonitorIp);
    WriteSetting(settings::FirstRun, u"0"_s);
    if (SaveProfile(test::UserProfile(u"Fuzzy"_s, MonitorIp, u"KV-FUZZ"_s), QString()) != 0)
        fuzz::Fail(u"the profile could not be saved"_s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Input input = fuzz::SplitInput(data, size);
    const Mode& mode = Modes[input.state < 0 ? 0 : std::size_t(input.state) % std::size(Modes)];
    // The contact form has no chat control here: every hand-off takes its failure path too.
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
    platform::Prompt::install(std::make_unique<platform::ScriptedPrompt>(u"msgbox is calling => No\n"_s));
    platform::Sound::install(std::make_unique<platform::RecordingSound>());
    platform::Shell::install(std::make_unique<platform::RecordingShell>());
    WriteSetting(settings::AutoIgnore, mode.autoIgnore);

    MonitorTimings timings;
    timings.ringMs = 5;
    timings.pollMs = 3600000;
    timings.socketCloseWaitMs = 20;
    {
        auto tray = std::make_unique<frmTray>(timings);
        if (!tray->Load(QString())) fuzz::Fail(u"the monitor did not load"_s);
        tray->ApplyStatus(mode.availability);
        QPointer<frmTray> alive(tray.get());
        for (const fuzz::Datagram& d : input.datagrams) {
            tray->HandleDatagram(fuzz::ConfineAddresses(d.bytes), d.fromStranger ? StrangerIp : CallerIp);
            if (!alive) fuzz::Fail(u"the monitor deleted itself"_s);
        }
        if (tray->isUnloaded()) fuzz::Fail(u"a datagram unloaded the monitor"_s);
        if (tray->inUnavailablePrompt()) fuzz::Fail(u"the unavailable prompt was left marked open"_s);
    }
    // The window side holds the forms it opened; let them go while the store is still there.
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
    fuzz::Settle();
    return 0;
}
