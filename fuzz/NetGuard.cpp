// Linked into every fuzz program: the last fence between random input and the
// network. Connections and datagrams may go to 127.0.0.0/8, ::1 and local
// (Unix, netlink) sockets only, and no name is ever looked up; anything else
// stops the run as a finding, before a packet leaves.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool LoopbackV4(const in_addr& a)
{
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool Allowed(const sockaddr* addr)
{
    if (!addr) return true; // a connected socket: its connect was checked
    switch (addr->sa_family) {
    case AF_INET:
        return LoopbackV4(reinterpret_cast<const sockaddr_in*>(addr)->sin_addr);
    case AF_INET6: {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&a)) return true;
        if (IN6_IS_ADDR_V4MAPPED(&a)) return a.s6_addr[12] == 127;
        return false;
    }
    default:
        return true; // Unix, netlink: never leave the machine
    }
}

[[noreturn]] void Refuse(const char* what, const sockaddr* addr)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (addr && addr->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text, sizeof text);
    else if (addr && addr->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(addr)->sin6_addr, text, sizeof text);
    std::fprintf(stderr, "fuzz: %s to %s refused: only loopback may be reached\n", what, text);
    std::abort();
}

template <typename F> F Next(const char* name)
{
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        std::fprintf(stderr, "fuzz: no %s to forward to\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(f);
}

} // namespace

extern "C" {

int connect(int fd, const sockaddr* addr, socklen_t len)
{
    if (!Allowed(addr)) Refuse("connection", addr);
    static const auto real = Next<int (*)(int, const sockaddr*, socklen_t)>("connect");
    return real(fd, addr, len);
}

ssize_t sendto(int fd, const void* buf, size_t n, int flags, const sockaddr* addr, socklen_t len)
{
    if (!Allowed(addr)) Refuse("datagram", addr);
    static const auto real =
        Next<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>("sendto");
    return real(fd, buf, n, flags, addr, len);
}

ssize_t sendmsg(int fd, const msghdr* msg, int flags)
{
    if (msg && !Allowed(static_cast<const sockaddr*>(msg->msg_name)))
        Refuse("datagram", static_cast<const sockaddr*>(msg->msg_name));
    static const auto real = Next<ssize_t (*)(int, const msghdr*, int)>("sendmsg");
    return real(fd, msg, flags);
}

// Numeric loopback addresses pass (nothing is asked of a name server for them); a name would be looked up.
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res)
{
    if (node) {
        in_addr v4{};
        in6_addr v6{};
        const bool loopback = (inet_pton(AF_INET, node, &v4) == 1 && LoopbackV4(v4)) ||
                              (inet_pton(AF_INET6, node, &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6));
        if (!loopback) {
            std::fprintf(stderr, "fuzz: name lookup of \"%s\" refused\n", node);
            std::abort();
        }
    }
    static const auto real =
        Next<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo");
    return real(node, service, hints, res);
}

} // extern "C"
