#pragma once
// A look at why calls may not arrive: the computer's addresses and which one
// others are told, the state of the product's ports, whether a datagram to the
// announced address comes back, and what each firewall in use lets through.
// Nothing is sent off the computer. Every place read is in NetworkCheckSources,
// so that tests can point it at stand-in files.
#include "Platform/Socket.h"

#include <QHostAddress>
#include <QString>
#include <QStringView>
#include <functional>
#include <vector>

namespace kv::vigilo {

enum class InterfaceKind { Physical, Tunnel, Bridge, Loopback };
enum class PortState { Free, Monitor, Other };
enum class FirewallState { NotInUse, Admits, Blocks, Unknown };

inline constexpr QStringView FirewalldName = u"firewalld";
inline constexpr QStringView UfwName = u"ufw";
inline constexpr QStringView NftablesName = u"nftables";

struct FirewallReport {
    QStringView name;
    FirewallState state = FirewallState::NotInUse;
    QString zone; // firewalld's zone asked; empty for its default zone
};

struct NetworkCheckSources {
    QString sysClassNet = QStringLiteral("/sys/class/net");
    QString proc = QStringLiteral("/proc");
    QString ufwConfig = QStringLiteral("/etc/ufw/ufw.conf");
    QString ufwRules = QStringLiteral("/etc/ufw/user.rules");
    QString nftablesConfig = QStringLiteral("/etc/nftables.conf");
    // Where the ports are tried.
    QHostAddress portAddress = QHostAddress(QHostAddress::AnyIPv4);
    // firewalld's answer over the system bus for the interface's zone.
    std::function<FirewallReport(const QString& interfaceName)> firewalld;
    // Whether a monitor holds its bus name.
    std::function<bool()> monitorRunning;
    NetworkCheckSources();
};

struct AddressReport {
    QString address;
    QString interfaceName;
    InterfaceKind kind = InterfaceKind::Physical;
};

struct PortReport {
    bool udp = true;
    int port = 0;
    PortState state = PortState::Free;
    QString owner; // "name (pid N)" when the holder could be read
};

struct NetworkReport {
    std::vector<AddressReport> addresses;
    platform::Socket::LocalAddress announced;
    std::vector<PortReport> ports;
    bool selfProbeArrived = false;
    std::vector<FirewallReport> firewalls;

    // Every firewall in use admits the ports and the datagram to the announced address came back.
    bool Passes() const;
    QString Text() const;
};

// The kind of a network interface, from its name and what the kernel lists under sysClassNet.
InterfaceKind ClassifyInterface(const QString& name, const QString& sysClassNet);
std::vector<PortReport> ProbePorts(const NetworkCheckSources& sources);
// Each firewall's answer for traffic arriving on the interface.
std::vector<FirewallReport> DetectFirewalls(const NetworkCheckSources& sources, const QString& interfaceName);
NetworkReport CheckNetwork(const NetworkCheckSources& sources = {});

QString KindText(InterfaceKind kind);
QString PortStateText(const PortReport& port);
QString FirewallStateText(FirewallState state);

} // namespace kv::vigilo
