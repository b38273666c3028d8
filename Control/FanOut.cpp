#include "FanOut.h"

#include "Protocol.h"
#include "Rooms.h"
#include "Socket.h"

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

} // namespace

int BroadcastToRoom(platform::Socket& socket, RoomTable& rooms, int position, const QString& text)
{
    if (!rooms.valid(position)) return 0;
    const Room& room = rooms.at(position);
    if (room.rowCount() < 2) return 0;
    const QByteArray datagram = FrameDatagram(text);
    int sent = 0;
    for (int n = 2; n <= room.rowCount(); ++n) {
        Participant p = room.row(n);
        const QString shown = p.availability();
        if (shown == QString::fromUtf16(availability::Ignored) ||
            shown == QString::fromUtf16(availability::Unavailable))
            continue;
        if (p.address().isEmpty()) {
            p.setDimmed(true);
            continue;
        }
        socket.setRemoteHost(p.address());
        socket.setRemotePort(ChatDatagramPort);
        if (socket.SendData(datagram) == 0) ++sent;
    }
    return sent;
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
