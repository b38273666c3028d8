#pragma once
// What the object model's classes share behind their handles: the state a
// handle points at, the items' built-in members, and the store reads and
// writes more than one class makes. Not for use outside the object model.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"
#include "Platform/Outlook/Store.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <array>
#include <memory>
#include <optional>

namespace kv::outlook::detail {

extern const QString NotFoundText;
extern const QString ItemGoneText;
extern const QString FolderGoneText;
extern const QString StoreOfflineText; // %1: the store's name

enum Kind { ContactKind = 1, MailKind = 2, BothKinds = 3 };

struct Member {
    QString name;
    QString column;
    int kinds;
};

// The items' built-in members and where they are stored.
inline constexpr int MemberCount = 11;
const std::array<Member, MemberCount>& members();
int memberIndex(const QString& name);

bool isContactClass(const QString& cls);
// The class a folder of the type gives new items; empty for a type folders cannot have.
QString defaultClassForType(int type);
bool validFolderName(const QString& name);
bool validClass(const QString& cls);

struct AppData {
    std::shared_ptr<Store> store;
    Store& s() { return *store; }
};

struct PropValue {
    QString name;
    int type = olText;
    QVariant value;
    bool dirty = false;
};

struct AttData {
    int type = olByValue;
    int position = -1;
    QString displayName;
    QString fileName;
    QByteArray data;
};

struct RecipData {
    int type = olTo;
    QString name;
    QString address;
    bool resolved = false;
};

struct ItemData {
    std::shared_ptr<AppData> app;
    qint64 id = 0;
    qint64 folderId = 0;
    QString messageClass;
    bool classDirty = false;
    std::array<QString, MemberCount> fields;
    QSet<int> dirtyFields;
    QList<PropValue> props;
    bool attsLoaded = false;
    bool attsDirty = false;
    QList<AttData> atts;
    bool recipsLoaded = false;
    bool recipsDirty = false;
    QList<RecipData> recips;
    bool deleted = false;

    bool isContact() const { return isContactClass(messageClass); }
    bool dirty() const
    {
        if (classDirty || !dirtyFields.isEmpty() || attsDirty || recipsDirty) return true;
        for (const PropValue& p : props)
            if (p.dirty) return true;
        return false;
    }
    PropValue* prop(const QString& name)
    {
        for (PropValue& p : props)
            if (p.name.compare(name, Qt::CaseInsensitive) == 0) return &p;
        return nullptr;
    }
};

struct Filter {
    int member = -1;  // a built-in member (or -2: MessageClass)
    QString property; // else a user property
    QVariant stored;  // the value as stored
};

struct ItemsData {
    std::shared_ptr<AppData> app;
    qint64 folderId = 0;
    std::optional<Filter> filter;
    std::optional<Filter> findFilter;
    qint64 findAfter = 0;
};

bool openStore(AppData& app);
// Text columns are NOT NULL; a null string is stored as an empty one.
QVariant nonNull(const QString& s);

bool formRegistered(Store& s, const QString& cls);
// Adds the properties the class's form defines and the item lacks (with their
// defaults, to be written by the next Save).
void mergeFormProperties(ItemData& d);
// The stored item with its user properties in form order; null (8004010F when
// it is gone) on failure.
std::shared_ptr<ItemData> loadItem(const std::shared_ptr<AppData>& app, qint64 id);

// Folder row lookups. Callers are inside an open store.
struct FolderRow {
    qint64 id = 0;
    qint64 parent = 0;
    qint64 storeId = 0;
    QString name;
    int type = 0;
    QString defaultClass;
    bool online = true;
    QString storeName;
};

std::optional<FolderRow> folderRow(Store& s, qint64 id);
qint64 childFolder(Store& s, qint64 parent, const QString& name);
// Inside a write: a folder row with its standard children for a new store.
qint64 insertFolder(Store& s, qint64 parent, qint64 storeId, const QString& name, int type);

} // namespace kv::outlook::detail
