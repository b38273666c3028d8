#pragma once
// The mail-store object model that the product drives: Application,
// NameSpace, folders, items (contact, mail and message items), user
// properties, attachments and recipients. Data members work in every process
// against one SQLite store; window members go to the installed window side
// (WindowSide.h). Objects are handles: copies share the object, a
// default-constructed handle is Nothing. Every call records its outcome in
// Err() (OlError.h); members are named as the callers use them.
#include "OlError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace kv::outlook {

class Store;
class Explorer;
class Inspector;
class Application;
class NameSpace;
class MAPIFolder;
class Folders;
class Items;
class Item;
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
inline constexpr auto PersonalFoldersName = u"Personal Folders";
inline constexpr auto ContactsFolderName = u"Contacts";
inline constexpr auto InboxFolderName = u"Inbox";
inline constexpr auto DeletedItemsFolderName = u"Deleted Items";
inline constexpr auto DraftsFolderName = u"Drafts";

class Application {
public:
    Application() = default;
    // A data-side application on a store file (set-up, tests, tools). Opening
    // is deferred: a store that cannot be opened fails the first call that needs it.
    explicit Application(const QString& storePath);

    // Attaches to the running instance; 429 when none runs.
    static Application GetObject();
    // Attaches, or starts an instance (bounded wait); 429 when that fails.
    static Application CreateObject();

    explicit operator bool() const { return d != nullptr; }
    bool operator==(const Application& o) const { return d == o.d; }

    NameSpace GetNamespace(const QString& type) const;
    Item CreateItem(int itemType) const;
    std::shared_ptr<Explorer> ActiveExplorer() const;
    std::shared_ptr<Inspector> ActiveInspector() const;

    QString StorePath() const;
    // Rebuilds an item handed over from another process (see Item::Snapshot).
    Item ItemFromSnapshot(const QVariantMap& snapshot) const;

private:
    friend class NameSpace;
    friend class MAPIFolder;
    friend class Item;
    friend bool RegisterForm(const Application&, const QString&, const QList<struct FormProperty>&);
    friend bool UnregisterForm(const Application&, const QString&);
    friend bool IsFormRegistered(const Application&, const QString&);
    std::shared_ptr<detail::AppData> d;
};

class NameSpace {
public:
    NameSpace() = default;
    explicit operator bool() const { return d != nullptr; }

    // The information stores (top-level folders).
    kv::outlook::Folders Folders() const;
    // The user's full name from the system, or "Unknown".
    QString CurrentUser() const;
    kv::outlook::Application Application() const;
    // An item or folder by the EntryID it was handed across with; not found: 8004010F.
    Item GetItemFromID(const QString& entryId) const;
    MAPIFolder GetFolderFromID(const QString& entryId) const;

    // Store administration for the set-up and tests: a new store holds the
    // standard folders; an existing name fails with 80040604.
    MAPIFolder AddStore(const QString& name) const;
    bool RemoveStore(const QString& name) const;
    // An offline store is listed but fails to open with 8004011D, as a mailbox
    // without its server does.
    bool SetStoreOnline(const QString& name, bool online) const;

private:
    friend class Application;
    std::shared_ptr<detail::AppData> d;
};

class MAPIFolder {
public:
    MAPIFolder() = default;
    explicit operator bool() const { return m_app != nullptr; }
    bool operator==(const MAPIFolder& o) const;

    QString Name() const;
    bool setName(const QString& name) const; // a sibling of that name fails with 80040604
    QString DefaultMessageClass() const;
    int DefaultItemType() const; // the OlFolderType it was made as
    kv::outlook::Folders Folders() const;
    kv::outlook::Items Items() const;
    // The folder above; Nothing for an information store (its parent is the NameSpace).
    MAPIFolder Parent() const;
    bool IsStore() const;
    QString EntryID() const;
    std::shared_ptr<Explorer> GetExplorer(int displayMode = 0) const;
    kv::outlook::Application Application() const;

    qint64 id() const { return m_id; }

private:
    friend class Folders;
    friend class NameSpace;
    friend class Items;
    friend class Item;
    friend class Application;
    MAPIFolder(std::shared_ptr<detail::AppData> app, qint64 id) : m_app(std::move(app)), m_id(id) {}
    bool check(bool needOnline = true) const; // clears Err; fails when gone or offline

    std::shared_ptr<detail::AppData> m_app;
    qint64 m_id = 0;
};

class Folders {
public:
    Folders() = default;
    explicit operator bool() const { return m_app != nullptr; }

    int Count() const;
    // By name (case-insensitive): not found fails with 80020009.
    MAPIFolder Item(const QString& name) const;
    // By position, 1-based: out of range fails with 8004010F.
    MAPIFolder Item(int index) const;
    MAPIFolder operator()(const QString& name) const { return Item(name); }
    MAPIFolder operator()(int index) const { return Item(index); }
    // type: olFolderContacts (10), olFolderInbox (6), ...; -1 takes the parent's.
    // An existing name fails with 80020009.
    MAPIFolder Add(const QString& name, int type = -1) const;
    QList<MAPIFolder> toList() const;

private:
    friend class NameSpace;
    friend class MAPIFolder;
    std::shared_ptr<detail::AppData> m_app;
    qint64 m_parent = 0; // 0: the NameSpace's stores
};

class UserProperty {
public:
    UserProperty() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString Name() const;
    int Type() const;
    QVariant Value() const;
    // Converted to the property's type; a value that does not convert fails with 13.
    bool setValue(const QVariant& value) const;

private:
    friend class UserProperties;
    std::shared_ptr<detail::ItemData> m_item;
    QString m_name;
};

class UserProperties {
public:
    UserProperties() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    // Nothing (and no error) when the item has no such property.
    UserProperty Find(const QString& name) const;
    UserProperty Item(int index) const; // 1-based

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

class Attachment {
public:
    Attachment() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString DisplayName() const;
    QString FileName() const;
    int Position() const;
    int Type() const;
    qint64 Size() const;
    QByteArray Data() const;
    bool SaveAsFile(const QString& path) const;

private:
    friend class Attachments;
    std::shared_ptr<detail::ItemData> m_item;
    int m_index = 0;
};

class Attachments {
public:
    Attachments() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    // Copies the file's bytes into the item (by value). position: the body
    // character it stands at (-1: none); displayName empty: the file's name.
    Attachment Add(const QString& source, int type = olByValue, int position = -1,
                   const QString& displayName = {}) const;
    Attachment Item(int index) const; // 1-based
    bool Remove(int index) const;

    static constexpr qint64 MaxAttachmentBytes = qint64(64) * 1024 * 1024;

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

class Recipient {
public:
    Recipient() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString Name() const;
    QString Address() const;
    bool Resolved() const;
    int Type() const;
    bool Resolve() const;

private:
    friend class Recipients;
    std::shared_ptr<detail::ItemData> m_item;
    int m_index = 0;
};

class Recipients {
public:
    Recipients() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    Recipient Add(const QString& name) const;
    Recipient Item(int index) const; // 1-based
    // True when every recipient resolved: an address, or the name or e-mail
    // address of a contact in a contacts folder.
    bool ResolveAll() const;

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

// A contact, mail or other message item. Which members it has follows its
// message class ("IPM.Contact..." a contact item, any other a mail item); a
// member it lacks fails with 438, as reading NickName of a mail does.
class Item {
public:
    Item() = default;
    explicit operator bool() const { return d != nullptr; }
    // The same object (shares its unsaved state).
    bool operator==(const Item& o) const { return d == o.d; }
    // The same stored item (two handles found separately).
    bool isSameStored(const Item& o) const;

    // Common
    QString MessageClass() const;
    bool setMessageClass(const QString& messageClass) const;
    QString Body() const;
    bool setBody(const QString& body) const;
    QString EntryID() const; // empty until saved
    bool Saved() const;      // stored and unchanged since
    MAPIFolder Parent() const;
    kv::outlook::UserProperties UserProperties() const;
    bool Save() const;
    // Moves the item to "Deleted Items" of its store; there, removes it.
    bool Delete() const;
    // Returns the item in its new folder (an unsaved item is saved there).
    Item Move(const MAPIFolder& folder) const;
    bool Display(bool modal = false) const;
    std::shared_ptr<Inspector> GetInspector() const;
    // olSave saves, olDiscard drops unsaved changes; closes its inspector.
    bool Close(int saveMode) const;
    // olRTF: rich text (body with the attachments at their positions); olTXT: plain text.
    bool SaveAs(const QString& path, int type = olRTF) const;
    // Appends a rich-text file saved by SaveAs (a signature) to the body, with
    // its attachments; false, with nothing changed, when it cannot be read.
    bool InsertSignature(const QString& path) const;

    // Contact items
    QString FullName() const;
    bool setFullName(const QString& v) const;
    QString FileAs() const;
    bool setFileAs(const QString& v) const;
    QString CompanyName() const;
    bool setCompanyName(const QString& v) const;
    QString Email1Address() const;
    bool setEmail1Address(const QString& v) const;
    QString BusinessAddressCity() const;
    bool setBusinessAddressCity(const QString& v) const;
    QString BusinessAddressState() const;
    bool setBusinessAddressState(const QString& v) const;
    QString BusinessAddressCountry() const;
    bool setBusinessAddressCountry(const QString& v) const;
    QString NickName() const;
    bool setNickName(const QString& v) const;

    // Mail items
    QString Subject() const;
    bool setSubject(const QString& v) const;
    QString SentOnBehalfOfName() const;
    bool setSentOnBehalfOfName(const QString& v) const;
    kv::outlook::Recipients Recipients() const;
    kv::outlook::Attachments Attachments() const;

    // Late-bound access by member name (the host program and D-Bus use it).
    QVariant GetMember(const QString& name) const;
    bool SetMember(const QString& name, const QVariant& value) const;

    // An unsaved item handed to another process: message class, folder,
    // members, user properties and attachments (see Application::ItemFromSnapshot).
    QVariantMap Snapshot() const;

    bool isContact() const;

private:
    friend class Items;
    friend class Application;
    friend class NameSpace;
    friend class UserProperties;
    explicit Item(std::shared_ptr<detail::ItemData> data) : d(std::move(data)) {}
    bool check() const; // clears Err; Nothing keeps the pending one

    std::shared_ptr<detail::ItemData> d;
};

class Items {
public:
    Items() = default;
    explicit operator bool() const { return d != nullptr; }

    int Count() const;
    kv::outlook::Item Item(int index) const; // 1-based, in iteration order
    kv::outlook::Item operator()(int index) const { return Item(index); }
    // The first item matching "[Name] = 'value'" (a quote in the value
    // doubled), "[Name] = True|False" or "[Name] = number"; Nothing when none
    // matches. Any other filter fails with 80020009.
    kv::outlook::Item Find(const QString& filter) const;
    kv::outlook::Item FindNext() const;
    // The items matching the filter, as a collection (Count is one query).
    Items Restrict(const QString& filter) const;
    // A new, unsaved item of the class (empty: the folder's default class),
    // or Nothing when the class's form is not registered.
    kv::outlook::Item Add(const QString& messageClass = {}) const;

    // Iteration in a stable order (the order items were created), in pages,
    // so that changing or removing items while iterating is safe.
    class iterator {
    public:
        kv::outlook::Item operator*() const;
        iterator& operator++();
        bool operator==(const iterator& o) const { return m_done == o.m_done && (m_done || m_id == o.m_id); }
        bool operator!=(const iterator& o) const { return !(*this == o); }

    private:
        friend class Items;
        void fill();
        std::shared_ptr<detail::ItemsData> m_items;
        QList<qint64> m_page;
        int m_pos = 0;
        qint64 m_id = 0;
        bool m_done = true;
    };
    iterator begin() const;
    iterator end() const { return {}; }

private:
    friend class MAPIFolder;
    std::shared_ptr<detail::ItemsData> d;
};

// The forms registry. A class other than the standard ones ("IPM.Note",
// "IPM.Contact", ...) is usable with Items.Add only while its form is
// registered; a form defines the user properties its items carry.
struct FormProperty {
    QString name;
    int type = olText;
};
bool RegisterForm(const Application& app, const QString& messageClass, const QList<FormProperty>& properties);
bool UnregisterForm(const Application& app, const QString& messageClass);
bool IsFormRegistered(const Application& app, const QString& messageClass);

inline constexpr auto KivaraContactClass = u"IPM.Contact.Kivara Contact";
inline constexpr auto KivaraMessageClass = u"IPM.Note.Kivara Message";
// The product set-up's registration of both forms (idempotent).
bool RegisterProductForms(const Application& app);
bool RegisterProductForms(const QString& storePath);

// The user's full name from a passwd comment field ("Ann Smith,,,"), or "Unknown".
QString FullNameFromGecos(const QString& gecos);

} // namespace kv::outlook
