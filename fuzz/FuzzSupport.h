#pragma once
// What the fuzz harnesses share: one simulated computer and one application
// object per process, the input format of the datagram harnesses, and the
// rewriting that keeps every address a datagram names on this machine.
//
// Datagram input: datagrams separated by the two bytes 0x1E 0x0A (a pair that a
// scrambled datagram holds only for unlikely texts). A datagram that starts
// with 0x1F comes from a stranger (that byte is dropped); the others come from
// a participant of the call. An input that starts with "#<digit>" followed by
// the separator (or the end) picks the target's starting state by that digit.
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace kv::fuzz {

inline constexpr char DatagramSeparator[] = "\x1e\n";
inline constexpr char StrangerMark = '\x1f';
// More datagrams than this in one input are not played: a longer exchange
// finds nothing new and only slows each run down.
inline constexpr int MaxDatagrams = 24;
// Every address a datagram names outside 127.0.0.0/8 becomes this one.
inline constexpr auto ConfinedAddress = u"127.130.9.9";

struct Datagram {
    QByteArray bytes;
    bool fromStranger = false;
};

struct Input {
    int state = -1; // the digit of a leading "#<digit>", else -1
    QList<Datagram> datagrams;
};

Input SplitInput(const uint8_t* data, std::size_t size);

// The datagram with every dotted IPv4 address outside 127.0.0.0/8 replaced by
// ConfinedAddress, framed as it came (scrambled or plain).
QByteArray ConfineAddresses(const QByteArray& datagram);

// Makes this process a simulated computer at localIp with an application
// object (offscreen). Idempotent; the computer's folders go at exit.
void Start(const QString& localIp);
// Lets posted events and deferred deletions run, for at most maxMs.
void Settle(int maxMs = 0);
// Stops the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] void Fail(const QString& what);

} // namespace kv::fuzz
