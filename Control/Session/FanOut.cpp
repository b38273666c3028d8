#include "Control/Session/FanOut.h"

#include "Control/Session/Rooms.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"

#include <QSet>

namespace kv::control {

namespace {

int sendTo(platform::Socket& socket, const QString& host, int port, const QString& text)
{
    if (host.isEmpty()) return -1;
    socket.setRemoteHost(host);
    socket.setRemotePort(port);
    return socket.SendData(FrameDatagram(text)) == 0 ? 0 : -1;
}

int sendToParty(platform::Socket& socket, const RoomTable& rooms, int position, const QString& name,
                int port, const QString& text)
{
    QString host;
    if (!name.isEmpty()) {
        // A name with no row in that room has no address to send to.
        if (!rooms.valid(position)) return -1;
        const Participant p = rooms.at(position).findRow(name);
        if (p.isNull()) return -1;
        host = p.address();
    } else {
        host = socket.RemoteHost();
        if (host.isEmpty()) host = socket.RemoteHostIP();
    }
    return sendTo(socket, host, port, text);
}

// Rows 2 onward of one room, skipping addresses already in `sent`.
int broadcastRows(platform::Socket& socket, const Room& room, const QByteArray& datagram, QSet<QString>& sent)
{
    int count = 0;
    for (int n = 2; n <= room.rowCount(); ++n) {
        Participant p = room.row(n);
        const QString shown = p.availability();
        if (shown == availability::Ignored.toString() || shown == availability::Unavailable.toString())
            continue;
        if (p.address().isEmpty()) {
            p.setDimmed(true);
            continue;
        }
        if (sent.contains(p.address())) continue;
        socket.setRemoteHost(p.address());
        socket.setRemotePort(ChatDatagramPort);
        if (socket.SendData(datagram) == 0) {
            sent.insert(p.address());
            ++count;
        }
    }
    return count;
}

} // namespace

int BroadcastToRoom(platform::Socket& socket, RoomTable& rooms, int position, const QString& text)
{
    if (!rooms.valid(position)) return 0;
    QSet<QString> sent;
    return broadcastRows(socket, rooms.at(position), FrameDatagram(text), sent);
}

int BroadcastToAllRooms(platform::Socket& socket, RoomTable& rooms, const QString& text)
{
    const QByteArray datagram = FrameDatagram(text);
    QSet<QString> sent;
    int count = 0;
    for (int i = 0; i < rooms.count(); ++i)
        count += broadcastRows(socket, rooms.at(i), datagram, sent);
    return count;
}

int SendToParticipant(platform::Socket& socket, const RoomTable& rooms, int position, const QString& name,
                      const QString& text)
{
    return sendToParty(socket, rooms, position, name, ChatDatagramPort, text);
}

int SendToParticipantMonitor(platform::Socket& socket, const RoomTable& rooms, int position, const QString& name,
                             const QString& text)
{
    return sendToParty(socket, rooms, position, name, MonitorDatagramPort, text);
}

int SendToPeerMonitor(platform::Socket& socket, const QString& text)
{
    return sendTo(socket, socket.RemoteHost(), MonitorDatagramPort, text);
}

} // namespace kv::control
