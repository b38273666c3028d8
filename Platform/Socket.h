#pragma once
// A socket endpoint shaped like the socket control the product was designed
// against: properties set before an operation, events as signals delivered on
// the owner's thread. One instance is either UDP or TCP for its whole life.
#include "Platform/Ansi.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>

class QUdpSocket;
class QTcpSocket;
class QTcpServer;

namespace kv::platform {

// Error numbers as the socket control reports them.
namespace SocketError {
inline constexpr int MessageTooBig = 10040;
inline constexpr int AddressInUse = 10048;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int NoBufferSpace = 10055;
inline constexpr int NotConnected = 10057;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
inline constexpr int WrongProtocolOrState = 40006;
inline constexpr int InvalidArgument = 40014;
inline constexpr int InvalidOperation = 40020;
} // namespace SocketError

class Socket : public QObject {
    Q_OBJECT
public:
    enum class Protocol { Tcp = 0, Udp = 1 };
    // Values of State, as the socket control numbers and names them (the event
    // names Connected, Closed and Error are taken by the signals).
    enum StateValue : short {
        sckClosed = 0, sckOpen = 1, sckListening = 2, sckConnectionPending = 3, sckResolvingHost = 4,
        sckHostResolved = 5, sckConnecting = 6, sckConnected = 7, sckClosing = 8, sckError = 9
    };

    // The socket control's text for an error number.
    static QString ErrorDescription(int number);

    explicit Socket(Protocol protocol, QObject* parent = nullptr);
    ~Socket() override;

    Protocol protocol() const { return m_protocol; }

    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString& host) { m_remoteHost = host; }
    int RemotePort() const { return m_remotePort; }
    void setRemotePort(int port) { m_remotePort = port; }
    int LocalPort() const;
    void setLocalPort(int port) { m_localPort = port; }
    // The machine's address: KIVARA_LOCAL_IP when set; else the IPv4 address of the
    // interface that carries the default route (read from the kernel, nothing sent);
    // else the first of an interface that is up and not a container or virtual
    // bridge; else 127.0.0.1. Read anew each time, so a changed network is seen.
    static QString LocalIP() { return LocalAddressChoice().address; }
    // Names of container and virtual bridge interfaces begin so.
    static constexpr QStringView BridgePrefixes[] = {u"docker", u"br-",    u"virbr", u"veth",
                                                     u"lxc",    u"podman", u"cni"};
    // Where the machine's address came from, in LocalIP's order.
    enum class LocalIPSource { Configured, DefaultRoute, FirstUp, Loopback };
    struct LocalAddress {
        QString address;
        QString interfaceName; // empty when configured or the loopback fallback
        LocalIPSource source = LocalIPSource::Loopback;
    };
    static LocalAddress LocalAddressChoice();
    struct DefaultRoute {
        QString interfaceName; // empty: no default route
        QHostAddress gateway;
    };
    // The default route of lowest metric in a routing table as the kernel lists it (/proc/net/route).
    static DefaultRoute DefaultRouteOf(const QByteArray& routeTable);
    // After a datagram arrived: its sender. For a connected stream: the peer.
    QString RemoteHostIP() const { return m_remoteHostIP; }
    short State() const;

    // UDP: binds LocalPort on the local address. Returns 0, or the error number
    // (AddressInUse when another socket has the port); the caller decides how to report it.
    int Bind();
    // TCP: listens on LocalPort. Returns 0 or the error number.
    int Listen();
    // TCP: takes over the pending connection announced by ConnectionRequest, on
    // a closed socket (or on the listener itself, which then stops listening).
    // InvalidArgument for an id that is unknown, already accepted, or whose
    // listener has closed.
    int Accept(int requestId);
    // TCP: connects to RemoteHost:RemotePort. Returns 0 when the request is under
    // way (the outcome arrives as Connected or Error), or the error number when it
    // failed at once (unresolvable name, no route, network unreachable).
    int Connect();
    // UDP: one datagram to RemoteHost:RemotePort. TCP: the bytes on the connection.
    // Text is sent as ANSI (Windows-1252) bytes. Returns 0 or the error number.
    int SendData(const QByteArray& bytes);
    int SendData(const QString& text) { return SendData(ToAnsi(text)); }
    // UDP: the whole pending datagram (sets RemoteHostIP to its sender), empty
    // when none is pending. TCP: all bytes received and not yet taken.
    QByteArray GetData();
    // Releases the port or connection at once; State reads sckClosed afterwards.
    // Bytes already handed to SendData still go out before the connection closes.
    void Close();

Q_SIGNALS:
    // Events are delivered from the event loop, never from inside the call
    // that caused them, so handlers may yield and be re-entered.
    // UDP: one per datagram. TCP: data is waiting (bytesTotal = all unread bytes).
    void DataArrival(qint64 bytesTotal);
    void Error(int number, const QString& description);
    // A listening socket has a pending connection; Accept(requestId) takes it.
    void ConnectionRequest(int requestId);
    void Connected();
    // The peer closed the connection; State reads sckClosing until Close().
    void Closed();
    // bytesSent: bytes handed to the network since the previous SendProgress.
    // bytesRemaining: bytes still waiting to be sent.
    void SendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void SendComplete();

private:
    struct Impl;
    Protocol m_protocol;
    QString m_remoteHost;
    int m_remotePort = 0;
    int m_localPort = 0;
    QString m_remoteHostIP;
    std::unique_ptr<Impl> d;
    friend struct Impl;
};

} // namespace kv::platform
