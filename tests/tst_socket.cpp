// The socket endpoint between loopback addresses of this suite's block
// (127.20.<case>.x): datagrams, the port-in-use error, the local address, and
// TCP streams with accept by request id, refusal and unreachable hosts.
#include "Platform/Events.h"
#include "Platform/HostLookup.h"
#include "Platform/Socket.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <thread>

#include <memory>

using namespace Qt::StringLiterals;
using kv::platform::Socket;
using kv::platform::WaitUntil;
namespace SocketError = kv::platform::SocketError;

namespace {

constexpr int WaitMs = 20000;

QString address(int testCase, int host)
{
    return u"127.20.%1.%2"_s.arg(testCase).arg(host);
}

// This process acts as the computer at that address from now on.
void beComputer(const QString& ip)
{
    qputenv("KIVARA_LOCAL_IP", ip.toLatin1());
}

struct Received {
    QList<QByteArray> datagrams;
    QStringList senders;
};

void collectDatagrams(Socket& socket, Received& into)
{
    QObject::connect(&socket, &Socket::DataArrival, &socket, [&socket, &into] {
        into.datagrams.append(socket.GetData());
        into.senders.append(socket.RemoteHostIP());
    });
}

// Where a socket sends or connects to; from: the computer it then sends or connects from.
void aim(Socket& socket, const QString& host, int port, const QString& from = {})
{
    if (!from.isEmpty()) beComputer(from);
    socket.setRemoteHost(host);
    socket.setRemotePort(port);
}

// Binds a datagram socket, or starts a stream socket listening, on a local port of computer ip.
int openAt(Socket& socket, const QString& ip, int port, bool listen = false)
{
    beComputer(ip);
    socket.setLocalPort(port);
    return listen ? socket.Listen() : socket.Bind();
}

} // namespace

class TestSocket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void localAddressAndNames();
    void datagramBurstAndYieldingHandlers();
    void datagramErrorsAndPortInUse();
    void connectionsAcceptedDroppedOrFailed();
};

void TestSocket::cleanup()
{
    beComputer(u"127.0.0.1"_s);
}

void TestSocket::localAddressAndNames()
{
    beComputer(address(1, 2));
    QCOMPARE(Socket::LocalIP(), address(1, 2));
    beComputer(address(1, 3)); // read at each call
    QCOMPARE(Socket::LocalIP(), address(1, 3));
    qunsetenv("KIVARA_LOCAL_IP");
    QCOMPARE(QHostAddress(Socket::LocalIP()).protocol(), QAbstractSocket::IPv4Protocol);

    // Without the variable: the interface of the default route of lowest metric that is up.
    const QByteArray header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const struct {
        QByteArray rows;
        QString interfaceName, gateway;
    } tables[] = {
        {"wlan0\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
         "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
         "eth0\t000200C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
         u"eth0"_s, u"192.0.2.1"_s},
        {"eth1\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n" // down
         "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         QString(), QString()},
        {"garbage\n\teth0\t00000000\tzz\t0003\t0\t0\t0\t00000000\nshort line\n", QString(), QString()},
    };
    for (const auto& t : tables) {
        const Socket::DefaultRoute route = Socket::DefaultRouteOf(header + t.rows);
        QCOMPARE(route.interfaceName, t.interfaceName);
        if (!t.gateway.isEmpty()) QCOMPARE(route.gateway.toString(), t.gateway);
    }

    // A resolver that takes its time for one name, knows another and never answers a third.
    namespace HostLookup = kv::platform::HostLookup;
    static const QString peer = address(13, 3);
    HostLookup::setResolver([](const QString& name) -> HostLookup::Answer {
        if (name == u"slow-pc"_s) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return QHostAddress(peer);
        }
        if (name == u"silent-pc"_s) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            return QHostAddress(peer);
        }
        return std::nullopt;
    });
    Socket receiver(Socket::Protocol::Udp);
    QCOMPARE(openAt(receiver, peer, 8086), 0);
    Received got;
    collectDatagrams(receiver, got);
    Socket listener(Socket::Protocol::Tcp);
    QCOMPARE(openAt(listener, peer, 0, true), 0);

    beComputer(address(13, 2));
    // Datagrams to a name wait for its answer and go out in order; the call returns at once.
    Socket udp(Socket::Protocol::Udp);
    aim(udp, u"SLOW-PC"_s, 8086);
    QElapsedTimer clock;
    clock.start();
    for (const char* text : {"one", "two", "three"})
        QCOMPARE(udp.SendData(QByteArray(text)), 0);
    QVERIFY(clock.elapsed() < 800); // not waiting for the resolver's second
    QVERIFY(WaitUntil([&] { return got.datagrams.size() == 3; }, WaitMs));
    QCOMPARE(got.datagrams, (QList<QByteArray>{"one", "two", "three"}));
    QCOMPARE(HostLookup::known(u"slow-pc"_s).value_or(QHostAddress()).toString(),
             peer); // kept for the session

    // A connection by name passes through "resolving"; an unknown name ends in an error event.
    for (const auto& [host, expected] : {std::pair{u"slow-pc"_s, 0},
                                         {u"nobody-pc"_s, SocketError::HostNotFound},
                                         {u"silent-pc"_s, SocketError::HostNotFound}}) {
        HostLookup::forgetAll();
        Socket caller(Socket::Protocol::Tcp);
        int error = 0;
        connect(&caller, &Socket::Error, &caller, [&](int number) { error = number; });
        aim(caller, host, listener.LocalPort());
        clock.restart();
        QCOMPARE(caller.Connect(), 0);
        QCOMPARE(caller.State(), short(Socket::sckResolvingHost));
        QVERIFY(WaitUntil([&] { return caller.State() == Socket::sckConnected || error != 0; }, WaitMs));
        QCOMPARE(error, expected);
        QVERIFY2(clock.elapsed() < HostLookup::LookupBoundMs + 1000, qPrintable(host));
    }
    // Closed while resolving: the late answer starts nothing.
    Socket closing(Socket::Protocol::Tcp);
    aim(closing, u"slow-pc"_s, listener.LocalPort());
    HostLookup::forgetAll();
    QCOMPARE(closing.Connect(), 0);
    closing.Close();
    QVERIFY(!WaitUntil([&] { return closing.State() != Socket::sckClosed; }, 800));
    HostLookup::setResolver({});
}

void TestSocket::datagramBurstAndYieldingHandlers()
{
    // Chat-sized datagrams, as many as arrive while a modal dialog holds the UI
    // thread; the count stays within what a system-capped receive buffer holds.
    constexpr int Count = 400;
    Socket receiver(Socket::Protocol::Udp);
    QCOMPARE(openAt(receiver, address(2, 3), 8086), 0);
    Received got;
    collectDatagrams(receiver, got);

    Socket sender(Socket::Protocol::Udp);
    aim(sender, address(2, 3), 8086, address(2, 2));
    QList<QByteArray> sent;
    // The whole burst goes out before this thread handles a single event.
    for (int i = 0; i < Count; ++i) {
        QByteArray d = QByteArray::number(i) + ':' + QByteArray(i % 120, static_cast<char>('a' + i % 26));
        if (i % 50 == 7)
            d = "1"; // a datagram that is only the framing mark
        if (i % 100 == 33)
            d = QByteArray(1400, '|');
        sent.append(d);
        QCOMPARE(sender.SendData(d), 0);
    }
    QVERIFY(WaitUntil([&] { return got.datagrams.size() >= Count; }, WaitMs));
    QCOMPARE(got.datagrams, sent);
    QCOMPARE(got.senders, QStringList(Count, address(2, 2)));
    QCOMPARE(receiver.GetData(), QByteArray()); // nothing more pending

    // The largest datagram arrives whole.
    const QByteArray big(65507, 'z');
    QCOMPARE(sender.SendData(big), 0);
    QVERIFY(WaitUntil([&] { return got.datagrams.size() > Count; }, WaitMs));
    QCOMPARE(got.datagrams.last(), big);

    // A handler that holds the UI thread in a nested loop (a message box, a wait)
    // still gets the datagrams and stream bytes that come in meanwhile.
    receiver.disconnect();
    QList<QByteArray> yielded;
    int nested = 0;
    bool inModal = false;
    connect(&receiver, &Socket::DataArrival, &receiver, [&] {
        const QByteArray d = receiver.GetData();
        yielded.append(d);
        if (inModal)
            ++nested;
        if (d == "first") {
            inModal = true;
            WaitUntil([&] { return yielded.size() >= 4; }, WaitMs);
            inModal = false;
        }
    });
    for (const char* d : {"first", "second", "third"})
        QCOMPARE(sender.SendData(QByteArray(d)), 0); // queued together, before any is handled
    QTimer::singleShot(50, &sender, [&] { sender.SendData(QByteArray("later")); });
    QVERIFY(WaitUntil([&] { return yielded.size() >= 4; }, WaitMs));
    QCOMPARE(yielded, (QList<QByteArray>{"first", "second", "third", "later"}));
    QCOMPARE(nested, 3);

    // A stream of datagrams that keeps coming while deliveries are under way
    // (each fortieth handler sends forty more and yields): arrivals never stop.
    constexpr int Stream = 8000;
    int streamed = 0, queued = 40;
    receiver.disconnect();
    connect(&receiver, &Socket::DataArrival, &receiver, [&] {
        receiver.GetData();
        if (++streamed % 40 == 0 && queued < Stream) {
            for (int i = 0; i < 40; ++i, ++queued)
                sender.SendData(QByteArray(200, 's'));
            kv::platform::DoEvents();
        }
    });
    for (int i = 0; i < 40; ++i)
        QCOMPARE(sender.SendData(QByteArray(200, 's')), 0);
    QVERIFY2(WaitUntil([&] { return streamed >= Stream; }, WaitMs), qPrintable(QString::number(streamed)));

    // The same for a stream: the last bytes arrive while the handler waits.
    Socket listener(Socket::Protocol::Tcp), stream(Socket::Protocol::Tcp);
    QCOMPARE(openAt(listener, address(2, 3), 8087, true), 0);
    connect(&listener, &Socket::ConnectionRequest, &listener, [&](int id) { stream.Accept(id); });
    QByteArray bytes;
    bool waited = false;
    connect(&stream, &Socket::DataArrival, &stream, [&] {
        bytes += stream.GetData();
        if (!waited) {
            waited = true;
            WaitUntil([&] { return bytes.size() >= 8; }, WaitMs);
        }
    });
    Socket caller(Socket::Protocol::Tcp);
    aim(caller, address(2, 3), 8087, address(2, 2));
    connect(&caller, &Socket::Connected, &caller, [&] {
        caller.SendData(QByteArray("1234"));
        QTimer::singleShot(50, &caller, [&] { caller.SendData(QByteArray("5678")); });
    });
    QCOMPARE(caller.Connect(), 0);
    QVERIFY(WaitUntil([&] { return bytes.size() >= 8; }, WaitMs));
    QCOMPARE(bytes, QByteArray("12345678"));
}

void TestSocket::datagramErrorsAndPortInUse()
{
    beComputer(address(4, 2));
    Socket udp(Socket::Protocol::Udp);
    QCOMPARE(udp.GetData(), QByteArray());
    udp.setRemotePort(8086);
    QVERIFY(udp.SendData(u"x"_s) != 0); // no destination
    udp.setRemoteHost(address(4, 3));
    QCOMPARE(udp.SendData(QByteArray(70000, 'x')), SocketError::MessageTooBig);
    QCOMPARE(udp.Listen(), SocketError::WrongProtocolOrState);
    QCOMPARE(udp.Connect(), SocketError::WrongProtocolOrState);

    // An owner that closes its socket while handling a datagram stops the rest quietly.
    auto receiver = std::make_unique<Socket>(Socket::Protocol::Udp);
    QCOMPARE(openAt(*receiver, address(4, 3), 8086), 0);
    int arrivals = 0;
    connect(receiver.get(), &Socket::DataArrival, receiver.get(), [&] {
        ++arrivals;
        receiver->Close();
    });
    for (int i = 0; i < 5; ++i)
        QCOMPARE(udp.SendData(u"x"_s), 0);
    QVERIFY(WaitUntil([&] { return arrivals > 0; }, WaitMs));
    kv::platform::DoEvents();
    QCOMPARE(arrivals, 1);
    QCOMPARE(receiver->State(), short(Socket::sckClosed));

    auto first = std::make_unique<Socket>(Socket::Protocol::Udp);
    QCOMPARE(openAt(*first, address(5, 2), 8086), 0);
    QCOMPARE(first->Bind(), SocketError::WrongProtocolOrState); // already bound

    Socket second(Socket::Protocol::Udp);
    second.setLocalPort(8086);
    QCOMPARE(second.Bind(), SocketError::AddressInUse);
    QCOMPARE(second.State(), short(Socket::sckClosed));

    // Closing releases the port at once; so does destroying the owner.
    first->Close();
    QCOMPARE(second.Bind(), 0);
    second.Close();
    QCOMPARE(first->Bind(), 0);
    first.reset();
    QCOMPARE(second.Bind(), 0);

    Socket listener(Socket::Protocol::Tcp);
    QCOMPARE(openAt(listener, address(5, 2), 8087, true), 0);
    QCOMPARE(listener.State(), short(Socket::sckListening));
    Socket other(Socket::Protocol::Tcp);
    other.setLocalPort(8087);
    QCOMPARE(other.Listen(), SocketError::AddressInUse);
    listener.Close();
    QCOMPARE(other.Listen(), 0);
}

void TestSocket::connectionsAcceptedDroppedOrFailed()
{
    Socket listener(Socket::Protocol::Tcp);
    QCOMPARE(openAt(listener, address(8, 3), 8087, true), 0);
    int request = 0;
    connect(&listener, &Socket::ConnectionRequest, &listener, [&](int id) { request = id; });

    Socket caller(Socket::Protocol::Tcp);
    aim(caller, address(8, 3), 8087, address(8, 2));
    bool closed = false;
    connect(&caller, &Socket::Closed, &caller, [&] { closed = true; });
    QCOMPARE(caller.Connect(), 0);
    QVERIFY(WaitUntil([&] { return request != 0 && caller.State() == Socket::sckConnected; }, WaitMs));

    listener.Close();
    Socket late(Socket::Protocol::Tcp);
    QCOMPARE(late.Accept(request), SocketError::InvalidArgument);
    QVERIFY(WaitUntil([&] { return closed; }, WaitMs)); // the caller sees its connection go

    // Accepting on the listening socket itself ends its listening, as the socket control does.
    QCOMPARE(openAt(listener, address(8, 3), 8087, true), 0);
    Socket caller2(Socket::Protocol::Tcp);
    aim(caller2, address(8, 3), 8087, address(8, 2));
    request = 0;
    QCOMPARE(caller2.Connect(), 0);
    QVERIFY(WaitUntil([&] { return request != 0; }, WaitMs));
    QCOMPARE(listener.Accept(request), 0);
    QCOMPARE(listener.State(), short(Socket::sckConnected));
    QCOMPARE(listener.RemoteHostIP(), address(8, 2));

    // A refused connection arrives as an error event.
    Socket refused(Socket::Protocol::Tcp);
    aim(refused, address(9, 3), 8087, address(9, 2)); // nobody listens there
    QList<int> errors;
    QString description;
    connect(&refused, &Socket::Error, &refused, [&](int number, const QString& text) {
        errors.append(number);
        description = text;
    });
    QCOMPARE(refused.Connect(), 0); // a refusal is not an error of the request itself
    QVERIFY(WaitUntil([&] { return !errors.isEmpty(); }, WaitMs));
    QCOMPARE(errors, QList<int>{SocketError::ConnectionRefused});
    QVERIFY(!description.isEmpty());
    QCOMPARE(refused.State(), short(Socket::sckError));
    QCOMPARE(refused.SendData(u"x"_s), SocketError::WrongProtocolOrState);
    refused.Close();
    // The socket can try again after an error.
    QCOMPARE(refused.Connect(), 0);
    QVERIFY(WaitUntil([&] { return errors.size() == 2; }, WaitMs));

    // An unreachable host fails at once, with and without a local address.
    for (const QString& local : {address(10, 2), QString()}) {
        beComputer(local); // empty: the address of the default route
        Socket probe(Socket::Protocol::Tcp);
        int errorEvents = 0;
        connect(&probe, &Socket::Error, &probe, [&] { ++errorEvents; });
        aim(probe, u"255.255.255.255"_s, 80);
        QCOMPARE(probe.Connect(), SocketError::NetworkUnreachable);
        QCOMPARE(probe.State(), short(Socket::sckClosed));
        kv::platform::DoEvents();
        QCOMPARE(errorEvents, 0); // reported once, by the request
    }
    Socket probe(Socket::Protocol::Tcp);
    probe.setRemoteHost(u"255.255.255.255"_s);
    QCOMPARE(probe.Connect(), SocketError::InvalidArgument); // no port set

    // "localhost" is a name, resolved locally; a listener takes a free port on 127.0.0.1.
    Socket host(Socket::Protocol::Tcp);
    QCOMPARE(openAt(host, u"127.0.0.1"_s, 0, true), 0);
    QVERIFY(host.LocalPort() > 0);
    bool requested = false;
    connect(&host, &Socket::ConnectionRequest, &host, [&] { requested = true; });
    Socket byName(Socket::Protocol::Tcp);
    aim(byName, u"localhost"_s, host.LocalPort());
    QCOMPARE(byName.Connect(), 0);
    QVERIFY(WaitUntil([&] { return requested && byName.State() == Socket::sckConnected; }, WaitMs));
    QCOMPARE(byName.RemoteHostIP(), u"127.0.0.1"_s);
}

KV_TEST_MAIN(TestSocket)
#include "tst_socket.moc"
