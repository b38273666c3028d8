#include "Platform/Socket.h"

#include "Platform/HostLookup.h"
#include "Platform/Log.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

constexpr const char* LocalIpVariable = "KIVARA_LOCAL_IP";
// The kernel's IPv4 routing table: a line per route.
constexpr QStringView RouteTableFile = u"/proc/net/route";
constexpr qint64 RouteTableBytes = qint64(256) * 1024;
// Room for a burst of datagrams while the UI thread is busy elsewhere.
constexpr int DatagramReceiveBufferBytes = 4 * 1024 * 1024;
// Datagrams kept for an owner that does not take them; beyond either bound the
// newest are dropped, as a full buffer would. The count holds a burst of chat
// lines that the sender produces far faster than a transcript takes them; the
// bytes bound what large datagrams may hold.
constexpr std::size_t MaxQueuedDatagrams = 65536;
constexpr qint64 MaxQueuedBytes = qint64(16) * 1024 * 1024;
// How long one posted event may go on handing datagrams to their handler.
constexpr int DeliveryBudgetMs = 5;
// Datagrams held for a name whose lookup is under way (a call's HELLOs, a few lines).
constexpr std::size_t MaxWaitingDatagrams = 256;
// How long a closed connection may keep flushing bytes already sent before it is cut.
constexpr int CloseLingerMs = 30000;
// Bytes a stream connection takes from the network before its owner reads them;
// beyond this the sender is held back, so a slow reader never buffers a whole file.
constexpr qint64 StreamReadBufferBytes = qint64(1) << 20;

// A connection announced by ConnectionRequest and not yet accepted.
struct PendingConnection {
    QPointer<QTcpSocket> socket;
    const Socket* listener = nullptr;
};

std::map<int, PendingConnection>& pendingConnections()
{
    static std::map<int, PendingConnection> table;
    return table;
}

int nextRequestId()
{
    static int id = 0;
    if (++id <= 0)
        id = 1;
    return id;
}

QString ipv4Text(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

// The address every socket of this computer binds to and sends from.
std::optional<QHostAddress> configuredLocalAddress()
{
    const QString text = qEnvironmentVariable(LocalIpVariable).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(text))
        return std::nullopt;
    return address;
}

// The system caps the requested size at its configured maximum; a privileged
// process may go beyond it, which the attempt below does where allowed.
void enlargeReceiveBuffer(QUdpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, DatagramReceiveBufferBytes);
#ifdef SO_RCVBUFFORCE
    if (socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt() < DatagramReceiveBufferBytes) {
        const int size = DatagramReceiveBufferBytes;
        (void)::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &size,
                           sizeof size);
    }
#endif
}

QHostAddress bindAddress()
{
    return configuredLocalAddress().value_or(QHostAddress(QHostAddress::AnyIPv4));
}

int errorNumber(const QAbstractSocket* socket)
{
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError: return SocketError::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError: return SocketError::ConnectionReset;
    case QAbstractSocket::HostNotFoundError: return SocketError::HostNotFound;
    case QAbstractSocket::SocketTimeoutError: return SocketError::TimedOut;
    case QAbstractSocket::DatagramTooLargeError: return SocketError::MessageTooBig;
    case QAbstractSocket::AddressInUseError: return SocketError::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError: return SocketError::AddressNotAvailable;
    case QAbstractSocket::SocketResourceError: return SocketError::NoBufferSpace;
    case QAbstractSocket::UnsupportedSocketOperationError: return SocketError::InvalidOperation;
    case QAbstractSocket::NetworkError:
        // Qt folds "network unreachable" and "host unreachable" into one code; only its text tells them apart.
        if (socket->errorString().contains(u"Host unreachable"_s, Qt::CaseInsensitive))
            return SocketError::HostUnreachable;
        return SocketError::NetworkUnreachable;
    default: return SocketError::ConnectionAborted;
    }
}

// Failures that a connect request reports before it returns; anything else arrives as an Error event.
bool failsAtOnce(int number)
{
    return number == SocketError::NetworkUnreachable || number == SocketError::HostUnreachable ||
           number == SocketError::HostNotFound || number == SocketError::AddressNotAvailable ||
           number == SocketError::AddressInUse || number == SocketError::InvalidOperation ||
           number == SocketError::NoBufferSpace;
}

// Detaches a Qt socket from its owner and releases it. A stream that still has
// bytes to send is closed gracefully, within a bounded time.
void dispose(QAbstractSocket* socket)
{
    if (!socket)
        return;
    socket->disconnect();
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(CloseLingerMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
        return;
    }
    socket->abort();
    socket->deleteLater();
}

} // namespace

struct Socket::Impl {
    Socket* q;
    QUdpSocket* udp = nullptr;
    QTcpSocket* tcp = nullptr;
    QTcpServer* server = nullptr;
    short state = sckClosed;
    // Bumped whenever the underlying socket changes, so events posted for an old one are dropped.
    quint64 generation = 0;

    // UDP: datagrams taken from the network, waiting for GetData, and DataArrival events owed.
    std::deque<QNetworkDatagram> datagrams;
    qint64 queuedBytes = 0;
    int owedArrivals = 0;
    bool deliveryPosted = false;

    // TCP: what was handed to SendData and what SendProgress has reported.
    qint64 sendQueued = 0;
    qint64 sendReported = 0;
    bool progressPosted = false;
    bool reportingProgress = false;
    bool dataPosted = false;
    // Set while connectToHost runs: a failure inside the request is Connect()'s to report.
    bool connectingNow = false;

    // UDP: datagrams to a name whose lookup is under way, in the order they were sent.
    struct WaitingDatagram {
        QString host;
        quint16 port;
        QByteArray bytes;
    };
    std::deque<WaitingDatagram> waitingSends;
    qint64 waitingBytes = 0;

    explicit Impl(Socket* owner) : q(owner) {}

    void post(std::function<void()> fn)
    {
        const quint64 gen = generation;
        QMetaObject::invokeMethod(
            q, [this, gen, fn = std::move(fn)] {
                if (gen == generation)
                    fn();
            },
            Qt::QueuedConnection);
    }

    void postError(int number)
    {
        post([this, number] { Q_EMIT q->Error(number, ErrorDescription(number)); });
    }

    // ---- UDP ---------------------------------------------------------------

    QUdpSocket* makeUdp()
    {
        ++generation;
        udp = new QUdpSocket(q);
        QObject::connect(udp, &QUdpSocket::readyRead, q, [this] { drainDatagrams(); });
        return udp;
    }

    int bindUdp(const QHostAddress& address, quint16 port)
    {
        if (!udp)
            makeUdp();
        // Without DontShareAddress Linux would let a second socket bind the same port.
        if (!udp->bind(address, port, QAbstractSocket::DontShareAddress)) {
            const int number = errorNumber(udp);
            qCDebug(lcSocket, "UDP bind to %s:%d failed: %s", qUtf8Printable(address.toString()), port,
                    qUtf8Printable(ErrorDescription(number)));
            dispose(udp);
            udp = nullptr;
            ++generation;
            return number;
        }
        enlargeReceiveBuffer(udp);
        state = sckOpen;
        return 0;
    }

    // Takes every waiting datagram off the socket at once (so the kernel buffer
    // never fills while handlers run) and owes one DataArrival per datagram.
    void drainDatagrams()
    {
        while (udp && udp->hasPendingDatagrams()) {
            QNetworkDatagram datagram = udp->receiveDatagram();
            if (!datagram.isValid())
                break;
            const qint64 size = datagram.data().size();
            if (datagrams.size() >= MaxQueuedDatagrams || queuedBytes + size > MaxQueuedBytes) {
                qCDebug(lcSocket, "datagram from %s:%d dropped: %zu datagrams wait unread",
                        qUtf8Printable(ipv4Text(datagram.senderAddress())), datagram.senderPort(),
                        datagrams.size());
                continue;
            }
            queuedBytes += size;
            datagrams.push_back(std::move(datagram));
            ++owedArrivals;
        }
        if (owedArrivals > 0 && !deliveryPosted) {
            deliveryPosted = true;
            post([this] { deliverDatagrams(); });
        }
    }

    // DataArrival for each datagram owed, for up to DeliveryBudgetMs per posted
    // event, so a burst does not cost an event-loop pass per datagram while
    // input and painting still get their turn. The next delivery is posted
    // before each arrival, so that a handler that yields (a modal dialog, a
    // wait) still sees the datagrams behind it. Datagrams are taken off the
    // socket only in its readyRead: Qt switches its read notifier off when it
    // finds a readable socket already emptied, and nothing would turn it on again.
    void deliverDatagrams()
    {
        deliveryPosted = false;
        const QPointer<Socket> alive(q);
        const quint64 gen = generation;
        QElapsedTimer budget;
        budget.start();
        while (owedArrivals > 0 && budget.elapsed() < DeliveryBudgetMs) {
            --owedArrivals;
            if (owedArrivals > 0 && !deliveryPosted) {
                deliveryPosted = true;
                post([this] { deliverDatagrams(); });
            }
            if (!datagrams.empty())
                Q_EMIT q->DataArrival(datagrams.front().data().size());
            if (!alive || gen != generation)
                return; // the handler closed or rebound the socket
        }
    }

    // ---- TCP ---------------------------------------------------------------

    void adoptTcp(QTcpSocket* socket)
    {
        ++generation;
        tcp = socket;
        tcp->setParent(q);
        tcp->setReadBufferSize(StreamReadBufferBytes);
        sendQueued = sendReported = 0;
        dataPosted = progressPosted = false;
        QObject::connect(tcp, &QTcpSocket::connected, q, [this] {
            state = sckConnected;
            q->m_remoteHostIP = ipv4Text(tcp->peerAddress());
            post([this] { Q_EMIT q->Connected(); });
        });
        QObject::connect(tcp, &QTcpSocket::readyRead, q, [this] { postData(); });
        QObject::connect(tcp, &QTcpSocket::bytesWritten, q, [this] { postProgress(); });
        QObject::connect(tcp, &QTcpSocket::disconnected, q, [this] { peerClosed(); });
        QObject::connect(tcp, &QTcpSocket::errorOccurred, q, [this](QAbstractSocket::SocketError error) {
            if (connectingNow)
                return; // Connect() decides how a failure inside the request is reported
            if (error == QAbstractSocket::RemoteHostClosedError)
                return; // the disconnected signal reports it as Closed
            if (state == sckConnected && tcp->state() == QAbstractSocket::ConnectedState)
                return; // a passing error on a live connection
            state = sckError;
            postError(errorNumber(tcp));
        });
    }

    void postData()
    {
        if (dataPosted)
            return;
        dataPosted = true;
        post([this] { deliverData(); });
    }

    // Runs from the event loop, so Qt's readyRead has returned and data arriving
    // while the handler yields posts the next delivery.
    void deliverData()
    {
        dataPosted = false;
        if (tcp && tcp->bytesAvailable() > 0)
            Q_EMIT q->DataArrival(tcp->bytesAvailable());
    }

    void postProgress()
    {
        if (progressPosted)
            return;
        progressPosted = true;
        post([this] { reportProgress(); });
    }

    // Progress is computed from what the connection has flushed, so bytes written
    // while a handler yields are reported on the next round rather than lost.
    void reportProgress()
    {
        progressPosted = false;
        if (reportingProgress)
            return;
        QPointer<Socket> guard(q);
        const quint64 gen = generation;
        reportingProgress = true;
        while (guard && gen == generation && tcp) {
            const qint64 remaining = tcp->bytesToWrite();
            const qint64 flushed = sendQueued - remaining;
            const qint64 sent = flushed - sendReported;
            if (sent <= 0)
                break;
            sendReported = flushed;
            const bool complete = remaining == 0;
            if (complete)
                sendQueued = sendReported = 0;
            Q_EMIT q->SendProgress(sent, remaining);
            if (complete && guard && gen == generation)
                Q_EMIT q->SendComplete();
        }
        if (guard && gen == generation)
            reportingProgress = false;
    }

    void peerClosed()
    {
        if (state != sckConnected)
            return;
        state = sckClosing;
        // Bytes that arrived before the close are announced first.
        if (tcp && tcp->bytesAvailable() > 0)
            postData();
        post([this] { Q_EMIT q->Closed(); });
    }

    // Starts a connection to a resolved address. Returns 0 while it is under way,
    // or the number of a failure raised at once (the socket is closed again then).
    int connectTo(const QHostAddress& address, quint16 port, int localPort)
    {
        adoptTcp(new QTcpSocket(q));
        const std::optional<QHostAddress> local = configuredLocalAddress();
        if (local || localPort != 0) {
            if (!tcp->bind(local.value_or(QHostAddress(QHostAddress::AnyIPv4)), static_cast<quint16>(localPort))) {
                const int number = errorNumber(tcp);
                closeAll();
                return number;
            }
        }
        state = sckConnecting;
        connectingNow = true;
        tcp->connectToHost(address, port);
        connectingNow = false;
        if (tcp->state() == QAbstractSocket::UnconnectedState) {
            const int number = errorNumber(tcp);
            if (failsAtOnce(number)) {
                closeAll();
                return number;
            }
            // A refusal the system reported early is still an outcome of the attempt, not of the request.
            state = sckError;
            postError(number);
        }
        return 0;
    }

    // ---- UDP to names --------------------------------------------------------

    // Sends (or, without an address, drops) the datagrams that waited for host's lookup.
    void sendWaiting(const QString& host, const HostLookup::Answer& address)
    {
        for (auto it = waitingSends.begin(); it != waitingSends.end();) {
            if (it->host != host) {
                ++it;
                continue;
            }
            if (!address)
                qCDebug(lcSocket, "datagram to %s:%d dropped: the name was not found", qUtf8Printable(host),
                        it->port);
            else if (udp && udp->writeDatagram(it->bytes, *address, it->port) != it->bytes.size())
                qCDebug(lcSocket, "datagram to %s:%d not sent: %s", qUtf8Printable(host), it->port,
                        qUtf8Printable(ErrorDescription(errorNumber(udp))));
            waitingBytes -= it->bytes.size();
            it = waitingSends.erase(it);
        }
    }

    // ---- TCP listening -------------------------------------------------------

    void takePendingConnections()
    {
        while (server && server->hasPendingConnections()) {
            QTcpSocket* socket = server->nextPendingConnection();
            if (!socket)
                break;
            socket->setParent(nullptr);
            const int id = nextRequestId();
            pendingConnections()[id] = PendingConnection{socket, q};
            post([this, id] {
                if (pendingConnections().count(id))
                    Q_EMIT q->ConnectionRequest(id);
            });
        }
    }

    void dropPendingConnections()
    {
        auto& table = pendingConnections();
        for (auto it = table.begin(); it != table.end();) {
            if (it->second.listener == q) {
                dispose(it->second.socket.data());
                it = table.erase(it);
            } else {
                ++it;
            }
        }
    }

    // ---- both ----------------------------------------------------------------

    void closeAll()
    {
        ++generation;
        if (server) {
            server->close();
            server->disconnect();
            server->deleteLater();
            server = nullptr;
        }
        dropPendingConnections();
        dispose(udp);
        udp = nullptr;
        dispose(tcp);
        tcp = nullptr;
        datagrams.clear();
        queuedBytes = 0;
        waitingSends.clear();
        waitingBytes = 0;
        owedArrivals = 0;
        deliveryPosted = dataPosted = progressPosted = false;
        reportingProgress = false;
        sendQueued = sendReported = 0;
        state = sckClosed;
    }
};

Socket::Socket(Protocol protocol, QObject* parent)
    : QObject(parent), m_protocol(protocol), d(std::make_unique<Impl>(this))
{
}

Socket::~Socket()
{
    d->closeAll();
}

QString Socket::ErrorDescription(int number)
{
    switch (number) {
    case SocketError::MessageTooBig: return u"The datagram is too large to fit into the buffer and is truncated"_s;
    case SocketError::AddressInUse: return u"Address in use"_s;
    case SocketError::AddressNotAvailable: return u"Address not available from the local machine"_s;
    case SocketError::NetworkUnreachable: return u"The network cannot be reached from this host at this time"_s;
    case SocketError::ConnectionAborted: return u"Connection is aborted due to timeout or other failure"_s;
    case SocketError::ConnectionReset: return u"The connection is reset by remote side"_s;
    case SocketError::NoBufferSpace: return u"No buffer space is available"_s;
    case SocketError::NotConnected: return u"Socket is not connected"_s;
    case SocketError::TimedOut: return u"Attempt to connect timed out"_s;
    case SocketError::ConnectionRefused: return u"Connection is forcefully rejected"_s;
    case SocketError::HostUnreachable: return u"No route to host"_s;
    case SocketError::HostNotFound: return u"Authoritative answer: Host not found"_s;
    case SocketError::WrongProtocolOrState:
        return u"Wrong protocol or connection state for the requested transaction or request"_s;
    case SocketError::InvalidArgument: return u"Invalid argument"_s;
    case SocketError::InvalidOperation: return u"Invalid operation at current state"_s;
    default: return u"Unexpected error"_s;
    }
}

int Socket::LocalPort() const
{
    if (d->udp && d->udp->state() == QAbstractSocket::BoundState)
        return d->udp->localPort();
    if (d->server && d->server->isListening())
        return d->server->serverPort();
    if (d->tcp && d->tcp->state() != QAbstractSocket::UnconnectedState)
        return d->tcp->localPort();
    return m_localPort;
}

Socket::DefaultRoute Socket::DefaultRouteOf(const QByteArray& routeTable)
{
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; numbers in hex
    // (the metric in decimal), addresses as their bytes in network order read as one number.
    enum Column { Iface = 0, Destination = 1, Gateway = 2, Flags = 3, Metric = 6, Mask = 7 };
    constexpr uint RouteUp = 0x1;
    DefaultRoute best;
    uint bestMetric = 0;
    for (const QByteArray& line : routeTable.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() <= Mask)
            continue;
        bool ok[5] = {};
        const uint destination = f[Destination].toUInt(&ok[0], 16);
        const uint mask = f[Mask].toUInt(&ok[1], 16);
        const uint flags = f[Flags].toUInt(&ok[2], 16);
        const uint metric = f[Metric].toUInt(&ok[3], 10);
        const uint gateway = f[Gateway].toUInt(&ok[4], 16);
        if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) || destination != 0 || mask != 0 ||
            !(flags & RouteUp))
            continue;
        if (!best.interfaceName.isEmpty() && metric >= bestMetric)
            continue;
        best.interfaceName = QString::fromLatin1(f[Iface]);
        best.gateway = QHostAddress(qFromBigEndian(gateway));
        bestMetric = metric;
    }
    return best;
}

Socket::LocalAddress Socket::LocalAddressChoice()
{
    const QString configured = qEnvironmentVariable(LocalIpVariable).trimmed();
    if (!configured.isEmpty()) return {configured, QString(), LocalIPSource::Configured};
    // The address that traffic to other computers leaves from: that of the default route's interface.
    QFile table(RouteTableFile.toString());
    if (table.open(QIODevice::ReadOnly)) {
        const DefaultRoute route = DefaultRouteOf(table.read(RouteTableBytes));
        std::optional<QHostAddress> first;
        for (const QNetworkAddressEntry& e : QNetworkInterface::interfaceFromName(route.interfaceName).addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (e.ip().isInSubnet(route.gateway, e.prefixLength()))
                return {e.ip().toString(), route.interfaceName, LocalIPSource::DefaultRoute};
            if (!first)
                first = e.ip();
        }
        if (first) return {first->toString(), route.interfaceName, LocalIPSource::DefaultRoute};
    }
    // No default route: an interface that is up, leaving out container and virtual bridges.
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!(i.flags() & QNetworkInterface::IsUp) || (i.flags() & QNetworkInterface::IsLoopBack))
            continue;
        if (std::any_of(std::begin(BridgePrefixes), std::end(BridgePrefixes),
                        [&](QStringView p) { return i.name().startsWith(p); }))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol && !e.ip().isLoopback())
                return {e.ip().toString(), i.name(), LocalIPSource::FirstUp};
    }
    return {QHostAddress(QHostAddress::LocalHost).toString(), QString(), LocalIPSource::Loopback};
}

short Socket::State() const
{
    return d->state;
}

int Socket::Bind()
{
    if (m_protocol != Protocol::Udp || d->state != sckClosed)
        return SocketError::WrongProtocolOrState;
    if (m_localPort < 0 || m_localPort > 65535)
        return SocketError::InvalidArgument;
    return d->bindUdp(bindAddress(), static_cast<quint16>(m_localPort));
}

int Socket::Listen()
{
    if (m_protocol != Protocol::Tcp || d->state != sckClosed)
        return SocketError::WrongProtocolOrState;
    if (m_localPort < 0 || m_localPort > 65535)
        return SocketError::InvalidArgument;
    ++d->generation;
    d->server = new QTcpServer(this);
    if (!d->server->listen(bindAddress(), static_cast<quint16>(m_localPort))) {
        const QAbstractSocket::SocketError error = d->server->serverError();
        qCDebug(lcSocket, "TCP listen on %s:%d failed: %s", qUtf8Printable(bindAddress().toString()),
                m_localPort, qUtf8Printable(d->server->errorString()));
        d->server->deleteLater();
        d->server = nullptr;
        return error == QAbstractSocket::AddressInUseError ? SocketError::AddressInUse
                                                           : SocketError::AddressNotAvailable;
    }
    connect(d->server, &QTcpServer::newConnection, this, [this] { d->takePendingConnections(); });
    d->state = sckListening;
    return 0;
}

int Socket::Accept(int requestId)
{
    auto& table = pendingConnections();
    const auto it = table.find(requestId);
    if (m_protocol != Protocol::Tcp || it == table.end())
        return SocketError::InvalidArgument;
    const bool onListener = it->second.listener == this;
    if (d->state != sckClosed && !onListener)
        return SocketError::WrongProtocolOrState;
    QPointer<QTcpSocket> socket = it->second.socket;
    table.erase(it);
    if (onListener)
        d->closeAll(); // accepting on the listening socket ends its listening, as with the socket control
    if (!socket)
        return SocketError::ConnectionReset;
    d->adoptTcp(socket.data());
    m_remoteHostIP = ipv4Text(socket->peerAddress());
    m_remotePort = socket->peerPort();
    d->state = sckConnected;
    // Bytes or a close that came before the accept are announced now.
    if (socket->bytesAvailable() > 0)
        d->postData();
    if (socket->state() != QAbstractSocket::ConnectedState)
        d->peerClosed();
    return 0;
}

int Socket::Connect()
{
    if (m_protocol != Protocol::Tcp)
        return SocketError::WrongProtocolOrState;
    if (d->state == sckError)
        d->closeAll();
    if (d->state != sckClosed)
        return SocketError::WrongProtocolOrState;
    if (m_remotePort <= 0 || m_remotePort > 65535 || m_localPort < 0 || m_localPort > 65535)
        return SocketError::InvalidArgument;
    const QString host = m_remoteHost.trimmed();
    if (host.isEmpty())
        return SocketError::HostNotFound;
    const auto port = static_cast<quint16>(m_remotePort);
    if (const HostLookup::Answer address = HostLookup::known(host))
        return d->connectTo(*address, port, m_localPort);

    // A name not answered yet: the connection starts once it is, so the interface never waits on the resolver.
    d->state = sckResolvingHost;
    const quint64 gen = ++d->generation;
    HostLookup::request(host, this, [this, gen, port, localPort = m_localPort](const HostLookup::Answer& address) {
        if (gen != d->generation || d->state != sckResolvingHost)
            return; // closed or reused meanwhile
        d->state = sckClosed;
        const int number = address ? d->connectTo(*address, port, localPort) : SocketError::HostNotFound;
        if (number != 0) {
            d->state = sckError;
            d->postError(number);
        }
    });
    return 0;
}

int Socket::SendData(const QByteArray& bytes)
{
    if (m_protocol == Protocol::Udp) {
        if (d->state != sckClosed && d->state != sckOpen)
            return SocketError::WrongProtocolOrState;
        if (m_remotePort <= 0 || m_remotePort > 65535)
            return SocketError::InvalidArgument;
        const QString host = m_remoteHost.trimmed();
        if (host.isEmpty())
            return SocketError::AddressNotAvailable;
        if (d->state == sckClosed) {
            // An unbound socket sends from this computer's address on a port of the system's choosing.
            if (const int number = d->bindUdp(bindAddress(), 0))
                return number;
        }
        const auto port = static_cast<quint16>(m_remotePort);
        if (const HostLookup::Answer address = HostLookup::known(host)) {
            if (d->udp->writeDatagram(bytes, *address, port) == bytes.size()) return 0;
            const int number = errorNumber(d->udp);
            qCDebug(lcSocket, "datagram to %s:%d not sent: %s", qUtf8Printable(host), port,
                    qUtf8Printable(ErrorDescription(number)));
            return number;
        }
        // To a name not answered yet: the datagram waits for the lookup, in a bounded queue as in a send buffer.
        if (d->waitingSends.size() >= MaxWaitingDatagrams ||
            d->waitingBytes + bytes.size() > MaxQueuedBytes) {
            qCDebug(lcSocket, "datagram to %s:%d not sent: %zu wait for the name's lookup",
                    qUtf8Printable(host), port, d->waitingSends.size());
            return SocketError::NoBufferSpace;
        }
        d->waitingSends.push_back({host, port, bytes});
        d->waitingBytes += bytes.size();
        HostLookup::request(host, this, [this, host](const HostLookup::Answer& address) { d->sendWaiting(host, address); });
        return 0;
    }
    if (d->state != sckConnected || !d->tcp)
        return SocketError::WrongProtocolOrState;
    if (bytes.isEmpty())
        return 0;
    if (d->tcp->write(bytes) != bytes.size())
        return errorNumber(d->tcp);
    d->sendQueued += bytes.size();
    return 0;
}

QByteArray Socket::GetData()
{
    if (m_protocol == Protocol::Udp) {
        if (d->datagrams.empty())
            return {};
        const QNetworkDatagram datagram = std::move(d->datagrams.front());
        d->datagrams.pop_front();
        d->queuedBytes -= datagram.data().size();
        m_remoteHostIP = ipv4Text(datagram.senderAddress());
        return datagram.data();
    }
    if (!d->tcp)
        return {};
    // Unlike readAll, a read of exactly what is buffered hands over the buffer's
    // block itself when the bytes sit in one, instead of copying them.
    return d->tcp->read(d->tcp->bytesAvailable());
}

void Socket::Close()
{
    d->closeAll();
}

} // namespace kv::platform
