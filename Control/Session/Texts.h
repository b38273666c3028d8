#pragma once
// The chat control's texts and DataSend modes, shared by the session and its widget.
#include <QStringView>

namespace kv::control::session {

// Texts the user sees, exactly as the product shows them.
namespace text {
inline constexpr QStringView NoNetworkAtStart =
    u"You are not connected to the network or Internet.\r\rYou must connect to the "
    u"network to chat with your Kivara Contacts.";
inline constexpr QStringView ProfileCreated = u"Your Kivara Profile was successfully created.";
inline constexpr QStringView ProfileNotFound =
    u"Your Kivara Profile was not found.\r\rYou must create a profile before "
    u"using Kivara for Microsoft Outlook.";
inline constexpr QStringView SessionInProgress =
    u"A chat session is already in progress.\r\rPlease close the chat session and try again.";
inline constexpr QStringView NoNetworkPanel = u"No network services were detected.  Connect to network.";
inline constexpr QStringView Offline = u"Offline";
inline constexpr QStringView WaitingForCall = u"Waiting for call...";
inline constexpr QStringView Connecting = u"Connecting...";
inline constexpr QStringView Connected = u"Connected";
inline constexpr QStringView PlaceCall = u"&Place Call";
inline constexpr QStringView PlaceCallAtLoad = u"Place &Call";
inline constexpr QStringView EndCall = u"&End Call";
inline constexpr QStringView EnterChatName = u"Enter new Chat name:";
inline constexpr QStringView DisconnectQuestion = u"Disconnect '";
inline constexpr QStringView Disconnected = u"disconnected ";
inline constexpr QStringView ChoseYourself = u"You have chosen yourself.\r\rWould you like to edit your profile ?";
inline constexpr QStringView CloseRoomQuestion = u"Close ";
inline constexpr QStringView CloseRoomQuestionEnd = u"'s private room ?";
inline constexpr QStringView CloseDisconnects = u"\r\rClosing this private room will disconnect the call.";
inline constexpr QStringView RoomNotFound = u"Private room not found.";
inline constexpr QStringView InCallQuestion =
    u"You are currently in a call.  If you exit, you will be diconnected.\r\rExit now?";
inline constexpr QStringView AddedTo = u" has been added to ";
inline constexpr QStringView AddedToEnd = u" room.";
inline constexpr QStringView NowChattingIn = u"Now chatting in ";
inline constexpr QStringView PrivateRoomOpened = u"'s private room...\r\n";
inline constexpr QStringView FilePortBusy = u"Files cannot be sent: port %1 is not available.";
inline constexpr QStringView SendingFile = u"Sending file ";
inline constexpr QStringView FileOffered = u"Offering %1 to %2...\r\n";
inline constexpr QStringView FileQueued = u"%1 will be offered to %2 next.\r\n";
inline constexpr QStringView SelectFileTitle = u"Select file to send...";
inline constexpr QStringView SelectFileFilter = u"All Files (*.*)|*.*|Kivara Peerslip (*.kvp)|*.kvp";
inline constexpr QStringView Downloads = u"Downloads";
inline constexpr QStringView FloppyCaptionEnd = u" Floppy (A)";
} // namespace text

// DataSend modes.
namespace mode {
inline constexpr short Hello = 0, RoomList = 3, Leave = 4, GetUserSimple = 5, PubChat = 7, PriChat = 8, Status = 9,
                NickName = 10, GetUserProfile = 11, DumpUser = 12, FilePrep = 14, NoFile = 18, GiveUp = 19,
                Update = 20;
}

} // namespace kv::control::session
