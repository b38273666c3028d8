#pragma once
// The datagram fan-out of the chat control: every message leaves through one
// of these, framed and scrambled, to the rows of a room or to one party.
#include <QString>

namespace kv::platform {
class Socket;
}

namespace kv::control {

class RoomTable;

// Sends to rows 2 onward of the room at `position`, skipping rows shown as
// "Ignored" or "Unavailable"; a row without an address is dimmed instead.
// Nothing is sent when the room holds fewer than 2 rows. Returns the number of datagrams sent.
int BroadcastToRoom(platform::Socket& socket, RoomTable& rooms, int position, const QString& text);
// The same to the rows of every room, each address once: news about the local
// user (availability, chat name, profile) concerns everybody, whichever room is in front.
int BroadcastToAllRooms(platform::Socket& socket, RoomTable& rooms, const QString& text);

// To `name`'s address in the room at `position`, chat port. With an empty name
// the socket's current remote host stays; when that is empty too, the datagram
// goes to the sender of the last datagram received. Returns 0 when sent, -1 when
// the name has no row there or no destination is known.
int SendToParticipant(platform::Socket& socket, const RoomTable& rooms, int position, const QString& name,
                      const QString& text);
// The same, to the party's tray monitor port.
int SendToParticipantMonitor(platform::Socket& socket, const RoomTable& rooms, int position, const QString& name,
                             const QString& text);
// To the socket's current remote host, monitor port.
int SendToPeerMonitor(platform::Socket& socket, const QString& text);

} // namespace kv::control
