#include "fuzz/FuzzSupport.h"

#include "Shared/Protocol.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace kv::fuzz {

Input SplitInput(const uint8_t* data, std::size_t size)
{
    Input input;
    const QByteArrayView separator(DatagramSeparator);
    QByteArrayView all(data, qsizetype(size));
    if (all.size() >= 2 && all[0] == '#' && all[1] >= '0' && all[1] <= '9' &&
        (all.size() == 2 || all.sliced(2).startsWith(separator))) {
        input.state = all[1] - '0';
        all = all.sliced(std::min<qsizetype>(all.size(), 2 + separator.size()));
    }
    while (!all.isEmpty() && input.datagrams.size() < MaxDatagrams) {
        const qsizetype end = all.indexOf(separator);
        Datagram d;
        d.bytes = (end < 0 ? all : all.first(end)).toByteArray();
        all = end < 0 ? QByteArrayView() : all.sliced(end + separator.size());
        if (d.bytes.startsWith(StrangerMark)) {
            d.fromStranger = true;
            d.bytes.remove(0, 1);
        }
        input.datagrams.append(d);
    }
    return input;
}

QByteArray ConfineAddresses(const QByteArray& datagram)
{
    // Four dotted decimal parts is the only address form the product takes
    // from a datagram; any other form reaching a socket is a finding (see NetGuard.cpp).
    static const QRegularExpression dotted(u"\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}"_s);
    const bool scrambled = IsScrambledDatagram(datagram);
    const QString text = UnframeDatagram(datagram);
    QString out;
    qsizetype last = 0;
    bool changed = false;
    QRegularExpressionMatchIterator it = dotted.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured().startsWith(u"127."_s)) continue;
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += QString::fromUtf16(ConfinedAddress);
        last = m.capturedEnd();
        changed = true;
    }
    if (!changed) return datagram;
    out += QStringView(text).mid(last);
    return scrambled ? FrameDatagram(out) : PlainDatagram(out);
}

namespace {
std::unique_ptr<test::SimComputer>& computer()
{
    static std::unique_ptr<test::SimComputer> c;
    return c;
}
} // namespace

void Start(const QString& localIp)
{
    if (computer()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    computer() = std::make_unique<test::SimComputer>(localIp, u"KV-FUZZ"_s);
    computer()->activate();
    static int argc = 1;
    static char name[] = "kvfuzz";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: widgets of the last run may still be queued for deletion.
    new QApplication(argc, argv);
    computer()->installForms();
    // The folders go at exit; the application object is left to the system.
    std::atexit([] { computer().reset(); });
}

void Settle(int maxMs)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } while (clock.elapsed() < maxMs);
}

void Fail(const QString& what)
{
    std::fprintf(stderr, "fuzz: %s\n", qPrintable(what));
    std::abort();
}

} // namespace kv::fuzz
