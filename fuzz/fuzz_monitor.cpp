// The tray monitor's call port without its window: each input is a short
// exchange played into the monitor's headless call port (127.130.2.2, bound
// once) from a caller at 127.130.2.3; "#<digit>" picks its answering mode
// (ringing, declining at once, asking, away), held by the port alone: no
// availability is stored for it to adopt (tst_vigilo covers that), so an
// input costs no registry write. After every datagram the port must not ring
// on, must not be inside its unavailable prompt, and must only have handed on
// calls with a whole record from where they came; every call it rang has
// ended; every left message it took is in the store, or it said it could not
// be stored; and its port is still bound.
#include "fuzz/FuzzSupport.h"

#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"
#include "Shared/modUser.h"
#include "Vigilo/Monitor/CallPort.h"
#include "Vigilo/Monitor/MonitorStore.h"
#include "testing/Desk.h"

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
    bool autoIgnore;
};
const Mode Modes[] = {{u"Available"_s, false},
                      {u"Unavailable"_s, true},
                      {u"Unavailable"_s, false},
                      {u"Out of Office"_s, false}};

// The unavailable question is answered No; the call port asks nothing else.
class DecliningPrompt : public platform::Prompt {
public:
    platform::MsgResult msgBox(const platform::MsgBoxRequest& request) override
    {
        if (!request.text.contains(u" is calling, but your status"_s))
            fuzz::Fail(u"an unexpected message box"_s);
        return platform::MsgResult::No;
    }
    QString inputBox(const QString&, const QString&, const QString&) override { unexpected(); }
    QString openFile(const platform::FileDialogRequest&) override { unexpected(); }
    QStringList openFiles(const platform::FileDialogRequest&) override { unexpected(); }
    QString saveFile(const platform::FileDialogRequest&) override { unexpected(); }
    QString chooseFolder(const QString&, const QString&) override { unexpected(); }
    platform::PrintAnswer print(const platform::PrintRequest&) override { unexpected(); }
    void formShown(QWidget*) override { unexpected(); }

private:
    [[noreturn]] static void unexpected() { fuzz::Fail(u"the call port opened a dialog"_s); }
};

// The window as the call port sees it: parked in the tray, taking every call
// at once (the hand-off returns without a form), and checking what it is asked.
class Window : public CallPortWindow {
public:
    CallPort* port = nullptr;
    int rang = 0;
    int ended = 0;
    int failures = 0;
    bool parked() const override { return true; }
    void park() override {}
    void applyStatus(const QString& text) override { port->profile().UserStatus = text; }
    void callRinging() override { ++rang; }
    void playRing() override {}
    void callShown(const QString&) override {}
    void handOff(const QStringList& fields, const QString& source) override
    {
        if (fields.size() < 1 + UserRecord::FieldCount)
            fuzz::Fail(u"a call without a whole record was handed on"_s);
        if (source != CallerIp && source != StrangerIp) fuzz::Fail(u"a call was handed on from elsewhere"_s);
        if (!port->ringing()) fuzz::Fail(u"a call was handed on without ringing"_s);
    }
    void callEnded() override {}
    void handOffReturned(bool) override { ++ended; }
    void notify(NoticeKind kind, const QString&) override
    {
        if (kind == NoticeKind::Failure) ++failures;
    }
};

struct Monitor {
    MonitorStore store;
    Window window;
    CallPort port{store, window, 5};
    Monitor() { window.port = &port; }
};
Monitor* monitor = nullptr;

// The items of the Messages folder; a folder the port let go of is looked up again.
int LeftMessages()
{
    MonitorStore& store = monitor->store;
    if (!store.HoldsMessages() && store.OpenMessages() != 0) return -1;
    return store.messagesFolder().Items().Count();
}

void SetMode(const Mode& mode)
{
    monitor->port.profile().UserStatus = mode.availability;
    monitor->port.setAutoIgnore(mode.autoIgnore);
}

// A MESSAGE with the writer's whole record is one the port must take.
bool WholeMessage(const QByteArray& datagram)
{
    const QStringList fields = ReadDatagram(datagram);
    return fields.value(field::Name) == msg::Message && fields.size() >= 1 + UserRecord::FieldCount;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Start(MonitorIp);
    // The contact form has no chat control here, and the call port opens none.
    outlook::WindowSide::install(std::make_shared<outlook::HeadlessWindowSide>());
    platform::Prompt::install(std::make_unique<DecliningPrompt>());
    if (SaveProfile(test::UserProfile(u"Fuzzy"_s, MonitorIp, u"KV-FUZZ"_s), QString()) != 0)
        fuzz::Fail(u"the profile could not be saved"_s);
    monitor = new Monitor;
    if (LoadProfile(Deliverable::Vigilo, monitor->port.profile())) fuzz::Fail(u"no profile"_s);
    if (WriteSetting(u"Profile"_s, u"UserStatus"_s, QString()) != 0)
        fuzz::Fail(u"the registry is not writable"_s);
    if (monitor->store.Connect() != 0) fuzz::Fail(u"the store did not connect"_s);
    if (LeftMessages() < 0 && monitor->store.CreateMessages() != 0) fuzz::Fail(u"no Messages folder"_s);
    if (monitor->port.Bind() != 0) fuzz::Fail(u"the call port did not bind"_s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Input input = fuzz::SplitInput(data, size);
    SetMode(Modes[input.state < 0 ? 0 : std::size_t(input.state) % std::size(Modes)]);
    CallPort& port = monitor->port;
    Window& window = monitor->window;
    port.ResetCall();
    window.rang = window.ended = window.failures = 0;
    int taken = 0;
    int leftBefore = -1;
    for (const fuzz::Datagram& d : input.datagrams) {
        const QByteArray datagram = fuzz::ConfineAddresses(d.bytes);
        if (WholeMessage(datagram)) {
            if (leftBefore < 0) leftBefore = LeftMessages();
            ++taken;
        }
        port.HandleDatagram(datagram, d.fromStranger ? StrangerIp : CallerIp);
        if (port.ringing()) fuzz::Fail(u"the port rings on after the hand-off"_s);
        if (port.inUnavailablePrompt()) fuzz::Fail(u"the unavailable prompt was left marked open"_s);
    }
    if (window.rang != window.ended) fuzz::Fail(u"a call rang and never ended"_s);
    if (taken > 0 && LeftMessages() != leftBefore + taken - window.failures)
        fuzz::Fail(u"a left message was neither stored nor reported"_s);
    if (port.socket().State() != platform::Socket::sckOpen) fuzz::Fail(u"the call port was closed"_s);
    fuzz::Settle();
    return 0;
}
