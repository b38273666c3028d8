#include "Vigilo/Monitor/NetworkCheck.h"

#include "Shared/Installed.h"
#include "Shared/Protocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUdpSocket>

#include <unistd.h>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace {
// ARPHRD_* values of /sys/class/net/<if>/type.
constexpr int LoopbackType = 772;
constexpr int TunnelTypes[] = {512 /* ppp */, 768 /* ipip */,   769 /* ip6 */, 776 /* sit */,
                               778 /* gre */, 823 /* ip6gre */, 65534 /* none: tun, wireguard */};
constexpr QStringView TunnelPrefixes[] = {u"tun", u"tap", u"wg", u"ppp"};

constexpr int BusTimeoutMs = 1000;
constexpr int ProbeWaitMs = 500;
constexpr QByteArrayView ProbeWord = "kivara-check";
constexpr QStringView FirewalldService = u"org.fedoraproject.FirewallD1";
constexpr QStringView FirewalldPath = u"/org/fedoraproject/FirewallD1";
constexpr QStringView FirewalldZone = u"org.fedoraproject.FirewallD1.zone";
constexpr QStringView ServiceName = u"kivara";

// %1: " --zone=" and the zone, or nothing for the default zone.
constexpr QStringView FirewalldOpen =
    u"sudo firewall-cmd --permanent%1 --add-service=kivara && sudo firewall-cmd --reload";
constexpr QStringView UfwOpen = u"sudo ufw allow Kivara";
constexpr QStringView NftablesOpen =
    u"sudo nft add rule inet filter input udp dport { 8085, 8086 } accept && "
    u"sudo nft add rule inet filter input tcp dport 8087 accept";

struct Port {
    bool udp;
    int number;
};
constexpr Port Ports[] = {{true, MonitorDatagramPort}, {true, ChatDatagramPort}, {false, FileTransferPort}};

QString ProtocolText(bool udp)
{
    return udp ? u"UDP"_s : u"TCP"_s;
}

std::optional<QByteArray> ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

bool HasPrefix(const QString& name, const auto& prefixes)
{
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](QStringView p) { return name.startsWith(p); });
}

// A link's text as written: QFile resolves it to a path, which "socket:[inode]" is not.
QString LinkText(const QString& path)
{
    char buffer[64];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return size > 0 ? QString::fromLatin1(buffer, size) : QString();
}

// The process holding the port, from the kernel's socket tables and each process's descriptors.
QString PortOwner(const QString& proc, const Port& port)
{
    const auto table = ReadFile(proc + (port.udp ? u"/net/udp"_s : u"/net/tcp"_s));
    if (!table) return {};
    QByteArray inode;
    for (const QByteArray& line : table->split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 10) continue;
        const QByteArray& local = fields.at(1);
        if (local.mid(local.indexOf(':') + 1).toInt(nullptr, 16) != port.number) continue;
        if (!port.udp && fields.at(3) != "0A") continue; // listening only
        inode = fields.at(9);
        break;
    }
    if (inode.isEmpty() || inode == "0") return {};
    const QString target = u"socket:["_s + QString::fromLatin1(inode) + u']';
    for (const QString& pid : QDir(proc).entryList({u"[0-9]*"_s}, QDir::Dirs)) {
        const QDir fds(proc + u'/' + pid + u"/fd"_s);
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
            if (LinkText(fds.filePath(fd)) == target) {
                const QString name =
                    QString::fromLocal8Bit(ReadFile(proc + u'/' + pid + u"/comm"_s).value_or(QByteArray()))
                        .trimmed();
                return u"%1 (pid %2)"_s.arg(name, pid);
            }
    }
    return {};
}

bool Bindable(const QHostAddress& address, const Port& port)
{
    if (port.udp) {
        QUdpSocket socket;
        return socket.bind(address, static_cast<quint16>(port.number), QAbstractSocket::DontShareAddress);
    }
    QTcpServer server;
    return server.listen(address, static_cast<quint16>(port.number));
}

// Whether ufw's own rules accept a protocol and port: "-A ufw-user-input ... -j ACCEPT" lines.
bool UfwAccepts(const QByteArray& rules, const Port& port)
{
    static const QRegularExpression portsPattern(u"--dports? (\\S+)"_s);
    for (const QByteArray& raw : rules.split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (!line.startsWith(u"-A ufw-user-input ") || !line.contains(u"-j ACCEPT")) continue;
        if (line.contains(u"-p ") && !line.contains(port.udp ? u"-p udp" : u"-p tcp")) continue;
        const QRegularExpressionMatch ports = portsPattern.match(line);
        if (!ports.hasMatch()) return true; // every port
        for (const QString& item : ports.captured(1).split(u',')) {
            const QStringList range = item.split(u':');
            if (range.first().toInt() <= port.number && port.number <= range.last().toInt()) return true;
        }
    }
    return false;
}

FirewallState Ufw(const NetworkCheckSources& sources)
{
    const auto config = ReadFile(sources.ufwConfig);
    if (!config) return QFile::exists(sources.ufwConfig) ? FirewallState::Unknown : FirewallState::NotInUse;
    static const QRegularExpression enabled(u"^ENABLED=\"?yes\"?\\s*$"_s,
                                            QRegularExpression::MultilineOption);
    if (!enabled.match(QString::fromLatin1(*config)).hasMatch()) return FirewallState::NotInUse;
    const auto rules = ReadFile(sources.ufwRules);
    if (!rules) return FirewallState::Unknown;
    return std::all_of(std::begin(Ports), std::end(Ports),
                       [&](const Port& p) { return UfwAccepts(*rules, p); })
               ? FirewallState::Admits
               : FirewallState::Blocks;
}

// The rule set the system loads at start; what runs now can only be read by root.
FirewallState Nftables(const NetworkCheckSources& sources)
{
    const auto config = ReadFile(sources.nftablesConfig);
    if (!config)
        return QFile::exists(sources.nftablesConfig) ? FirewallState::Unknown : FirewallState::NotInUse;
    const QString text = QString::fromLatin1(*config);
    if (!text.contains(u"hook input") || !text.contains(u"policy drop")) return FirewallState::NotInUse;
    const QStringList lines = text.split(u'\n');
    const bool admits = std::all_of(std::begin(Ports), std::end(Ports), [&](const Port& p) {
        const QRegularExpression rule(
            u"%1 dport.*\\b%2\\b.*accept"_s.arg(p.udp ? u"udp" : u"tcp").arg(p.number));
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString& l) { return rule.match(l).hasMatch(); });
    });
    return admits ? FirewallState::Admits : FirewallState::Blocks;
}

std::optional<QVariant> BusCall(const QDBusConnection& bus, QDBusMessage message)
{
    const QDBusMessage reply = bus.call(message, QDBus::Block, BusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    return reply.arguments().first();
}

bool NameHasOwner(const QDBusConnection& bus, QStringView name)
{
    if (!bus.isConnected()) return false;
    auto message = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                  u"org.freedesktop.DBus"_s, u"NameHasOwner"_s);
    message << name.toString();
    return BusCall(bus, message).value_or(false).toBool();
}

// The zone of the announced interface (the default zone when the interface is
// in none) admits the service, or each of its ports.
FirewallReport Firewalld(const QString& interfaceName)
{
    FirewallReport report{FirewalldName, FirewallState::NotInUse, {}};
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!NameHasOwner(bus, FirewalldService)) return report;
    const auto call = [&](const QString& method, const QVariantList& arguments) {
        auto message = QDBusMessage::createMethodCall(FirewalldService.toString(), FirewalldPath.toString(),
                                                      FirewalldZone.toString(), method);
        message.setArguments(arguments);
        return BusCall(bus, message);
    };
    if (!interfaceName.isEmpty())
        report.zone = call(u"getZoneOfInterface"_s, {interfaceName}).value_or(QString()).toString();
    report.state = [&] {
        const auto service = call(u"queryService"_s, {report.zone, ServiceName.toString()});
        if (!service) return FirewallState::Unknown;
        if (service->toBool()) return FirewallState::Admits;
        for (const Port& p : Ports) {
            const auto open =
                call(u"queryPort"_s, {report.zone, QString::number(p.number), ProtocolText(p.udp).toLower()});
            if (!open) return FirewallState::Unknown;
            if (!open->toBool()) return FirewallState::Blocks;
        }
        return FirewallState::Admits;
    }();
    return report;
}

// A datagram from the announced address to itself: a firewall on that address drops it.
bool SelfProbe(const QString& address)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(address), 0, QAbstractSocket::DontShareAddress)) return false;
    socket.writeDatagram(ProbeWord.toByteArray(), QHostAddress(address), socket.localPort());
    return socket.waitForReadyRead(ProbeWaitMs) && socket.receiveDatagram().data() == ProbeWord;
}

QString OpenCommand(const FirewallReport& firewall)
{
    if (firewall.name == FirewalldName)
        return FirewalldOpen.toString().arg(firewall.zone.isEmpty() ? QString()
                                                                    : u" --zone="_s + firewall.zone);
    return (firewall.name == UfwName ? UfwOpen : NftablesOpen).toString();
}

QString SourceText(platform::Socket::LocalIPSource source)
{
    switch (source) {
    case platform::Socket::LocalIPSource::Configured:
        return u"KIVARA_LOCAL_IP"_s;
    case platform::Socket::LocalIPSource::DefaultRoute:
        return u"default route"_s;
    case platform::Socket::LocalIPSource::FirstUp:
        return u"first interface that is up"_s;
    case platform::Socket::LocalIPSource::Loopback:
        return u"no other address"_s;
    }
    return {};
}
} // namespace

NetworkCheckSources::NetworkCheckSources()
    : firewalld(Firewalld),
      monitorRunning([] { return NameHasOwner(QDBusConnection::sessionBus(), installed::MonitorBusName); })
{}

InterfaceKind ClassifyInterface(const QString& name, const QString& sysClassNet)
{
    const QString dir = sysClassNet + u'/' + name;
    const int type = ReadFile(dir + u"/type"_s).value_or("1").trimmed().toInt();
    if (type == LoopbackType || name == u"lo") return InterfaceKind::Loopback;
    if (HasPrefix(name, TunnelPrefixes) || QFile::exists(dir + u"/tun_flags"_s) ||
        std::find(std::begin(TunnelTypes), std::end(TunnelTypes), type) != std::end(TunnelTypes))
        return InterfaceKind::Tunnel;
    if (HasPrefix(name, platform::Socket::BridgePrefixes) || QFileInfo::exists(dir + u"/bridge"_s))
        return InterfaceKind::Bridge;
    return InterfaceKind::Physical;
}

std::vector<PortReport> ProbePorts(const NetworkCheckSources& sources)
{
    std::vector<PortReport> reports;
    bool monitorRunning = false;
    bool asked = false;
    for (const Port& p : Ports) {
        PortReport report{p.udp, p.number, PortState::Free, {}};
        if (!Bindable(sources.portAddress, p)) {
            report.owner = PortOwner(sources.proc, p);
            if (report.owner.isEmpty() && !asked) {
                monitorRunning = sources.monitorRunning();
                asked = true;
            }
            const bool byMonitor =
                report.owner.isEmpty() ? monitorRunning : report.owner.startsWith(u"vigilo ");
            report.state = byMonitor ? PortState::Monitor : PortState::Other;
        }
        reports.push_back(report);
    }
    return reports;
}

std::vector<FirewallReport> DetectFirewalls(const NetworkCheckSources& sources, const QString& interfaceName)
{
    return {
        sources.firewalld(interfaceName), {UfwName, Ufw(sources), {}}, {NftablesName, Nftables(sources), {}}};
}

NetworkReport CheckNetwork(const NetworkCheckSources& sources)
{
    NetworkReport report;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                report.addresses.push_back(
                    {e.ip().toString(), i.name(), ClassifyInterface(i.name(), sources.sysClassNet)});
    report.announced = platform::Socket::LocalAddressChoice();
    report.ports = ProbePorts(sources);
    report.selfProbeArrived = SelfProbe(report.announced.address);
    report.firewalls = DetectFirewalls(sources, report.announced.interfaceName);
    return report;
}

bool NetworkReport::Passes() const
{
    return selfProbeArrived && std::none_of(firewalls.begin(), firewalls.end(), [](const FirewallReport& f) {
               return f.state == FirewallState::Blocks || f.state == FirewallState::Unknown;
           });
}

QString KindText(InterfaceKind kind)
{
    switch (kind) {
    case InterfaceKind::Physical:
        return u"physical"_s;
    case InterfaceKind::Tunnel:
        return u"VPN/tunnel"_s;
    case InterfaceKind::Bridge:
        return u"container/bridge"_s;
    case InterfaceKind::Loopback:
        return u"loopback"_s;
    }
    return {};
}

QString PortStateText(const PortReport& port)
{
    switch (port.state) {
    case PortState::Free:
        return u"free"_s;
    case PortState::Monitor:
        return u"in use by the Kivara monitor"_s;
    case PortState::Other:
        return port.owner.isEmpty() ? u"in use"_s : u"in use by "_s + port.owner;
    }
    return {};
}

QString FirewallStateText(FirewallState state)
{
    switch (state) {
    case FirewallState::NotInUse:
        return u"not in use"_s;
    case FirewallState::Admits:
        return u"admits the ports"_s;
    case FirewallState::Blocks:
        return u"does not admit all the ports"_s;
    case FirewallState::Unknown:
        return u"unknown (its rules cannot be read)"_s;
    }
    return {};
}

QString NetworkReport::Text() const
{
    QString text = u"Addresses:\n"_s;
    for (const AddressReport& a : addresses)
        text += u"  %1 on %2, %3\n"_s.arg(a.address, a.interfaceName, KindText(a.kind));
    text += u"Announced: %1%2 (%3)\n"_s.arg(
        announced.address,
        announced.interfaceName.isEmpty() ? QString() : u" on "_s + announced.interfaceName,
        SourceText(announced.source));
    text += u"Ports:\n"_s;
    for (const PortReport& p : ports)
        text += u"  %1 %2: %3\n"_s.arg(ProtocolText(p.udp)).arg(p.port).arg(PortStateText(p));
    text += u"A datagram to %1 from itself: %2\n"_s.arg(
        announced.address, selfProbeArrived ? u"arrived"_s : u"did not arrive"_s);
    text += u"Firewalls:\n"_s;
    for (const FirewallReport& f : firewalls) {
        text += u"  %1%2: %3\n"_s.arg(f.name, f.zone.isEmpty() ? QString() : u" (zone %1)"_s.arg(f.zone),
                                      FirewallStateText(f.state));
        if (f.state == FirewallState::Blocks || f.state == FirewallState::Unknown)
            text += u"    to open the ports: %1\n"_s.arg(OpenCommand(f));
    }
    return text;
}

} // namespace kv::vigilo
