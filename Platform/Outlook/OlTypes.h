#pragma once
// The object model's names shared by its classes: the classes themselves,
// the enumerations callers pass, and the standard folder names.
#include <QtGlobal>

namespace kv::outlook {

class Store;
class Explorer;
class Inspector;
class Application;
class NameSpace;
class MAPIFolder;
class Folders;
class UserProperty;
class UserProperties;
class Attachment;
class Attachments;
class Recipient;
class Recipients;
class Item;
class Items;
struct FormProperty;
namespace detail {
struct AppData;
struct ItemData;
struct ItemsData;
} // namespace detail

// Item kinds for CreateItem.
enum OlItemType { olMailItem = 0, olContactItem = 2 };
// Folder types for Folders.Add (and the stores' standard folders).
enum OlFolderType {
    olFolderDeletedItems = 3,
    olFolderInbox = 6,
    olFolderCalendar = 9,
    olFolderContacts = 10,
    olFolderJournal = 11,
    olFolderNotes = 12,
    olFolderTasks = 13,
    olFolderDrafts = 16,
};
enum OlAttachmentType { olByValue = 1 };
enum OlSaveAsType { olTXT = 0, olRTF = 1 };
enum OlInspectorClose { olSave = 0, olDiscard = 1, olPromptForSave = 2 };
enum OlUserPropertyType { olText = 1, olNumber = 3, olDateTime = 5, olYesNo = 6 };
enum OlRecipientType { olTo = 1, olCC = 2, olBCC = 3 };

// Names of the standard folders of a new store.
inline constexpr QStringView PersonalFoldersName = u"Personal Folders";
inline constexpr QStringView ContactsFolderName = u"Contacts";
inline constexpr QStringView InboxFolderName = u"Inbox";
inline constexpr QStringView DeletedItemsFolderName = u"Deleted Items";
inline constexpr QStringView DraftsFolderName = u"Drafts";

} // namespace kv::outlook
