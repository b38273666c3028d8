// The monitor's call port alone in a program, so that the "layers" test sees
// what the core library pulls in: no widgets. It answers nothing; run, it
// only makes the port and ends.
#include "Vigilo/Monitor/CallPort.h"
#include "Vigilo/Monitor/MonitorStore.h"

#include <QCoreApplication>

namespace {
class NoWindow : public kv::vigilo::CallPortWindow {
public:
    bool parked() const override { return true; }
    void park() override {}
    void applyStatus(const QString&) override {}
    void callRinging() override {}
    void playRing() override {}
    void callShown(const QString&) override {}
    void handOff(const QStringList&, const QString&) override {}
    void callEnded() override {}
    void handOffReturned(bool) override {}
    void notify(kv::vigilo::NoticeKind, const QString&) override {}
};
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    kv::vigilo::MonitorStore store;
    NoWindow window;
    kv::vigilo::CallPort port(store, window, 1000);
    return port.datagramsHandled() == 0 ? 0 : 1;
}
