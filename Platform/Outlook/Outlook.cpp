#include "Outlook.h"

#include "Filter.h"
#include "Rtf.h"
#include "Store.h"
#include "Values.h"
#include "WindowSide.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <array>
#include <optional>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using detail::NothingErr;
using detail::SetErr;

namespace {

const QString NotFoundText = u"The operation failed. An object could not be found."_s;
const QString ItemGoneText =
    u"The operation cannot be performed because the item has been deleted or moved."_s;
const QString FolderGoneText = u"The folder is no longer available; it has been deleted or moved."_s;
const QString StoreOfflineText =
    u"The information store '%1' could not be opened: its server is not available. "
    u"You must connect to the network to access the information store."_s;
const QString UnknownText = u"Unknown"_s;

enum Kind { ContactKind = 1, MailKind = 2, BothKinds = 3 };

struct Member {
    QString name;
    QString column;
    int kinds;
};

// The items' built-in members and where they are stored.
const std::array<Member, 11>& members()
{
    static const std::array<Member, 11> list = {{
        {u"FullName"_s, u"full_name"_s, ContactKind},
        {u"FileAs"_s, u"file_as"_s, ContactKind},
        {u"CompanyName"_s, u"company_name"_s, ContactKind},
        {u"Email1Address"_s, u"email1_address"_s, ContactKind},
        {u"BusinessAddressCity"_s, u"business_city"_s, ContactKind},
        {u"BusinessAddressState"_s, u"business_state"_s, ContactKind},
        {u"BusinessAddressCountry"_s, u"business_country"_s, ContactKind},
        {u"NickName"_s, u"nick_name"_s, ContactKind},
        {u"Body"_s, u"body"_s, BothKinds},
        {u"Subject"_s, u"subject"_s, MailKind},
        {u"SentOnBehalfOfName"_s, u"sent_on_behalf_of_name"_s, MailKind},
    }};
    return list;
}
constexpr int MemberCount = 11;

int memberIndex(const QString& name)
{
    for (int i = 0; i < MemberCount; ++i)
        if (members()[i].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString memberColumns()
{
    QStringList cols;
    for (const Member& m : members())
        cols.append(m.column);
    return cols.join(u", "_s);
}

// Standard forms every store has; other classes need a registered form.
bool isStandardClass(const QString& cls)
{
    static const QStringList standard = {
        u"IPM"_s,      u"IPM.Note"_s,       u"IPM.Contact"_s,  u"IPM.Post"_s,    u"IPM.Appointment"_s,
        u"IPM.Task"_s, u"IPM.StickyNote"_s, u"IPM.Activity"_s, u"IPM.DistList"_s};
    return standard.contains(cls, Qt::CaseInsensitive);
}

bool isContactClass(const QString& cls)
{
    static const QString base = u"IPM.Contact"_s;
    return cls.startsWith(base, Qt::CaseInsensitive) &&
           (cls.size() == base.size() || cls.at(base.size()) == u'.');
}

QString defaultClassForType(int type)
{
    switch (type) {
    case olFolderContacts:
        return u"IPM.Contact"_s;
    case olFolderCalendar:
        return u"IPM.Appointment"_s;
    case olFolderJournal:
        return u"IPM.Activity"_s;
    case olFolderNotes:
        return u"IPM.StickyNote"_s;
    case olFolderTasks:
        return u"IPM.Task"_s;
    case olFolderDeletedItems:
    case olFolderInbox:
    case olFolderDrafts:
        return u"IPM.Note"_s;
    default:
        return {};
    }
}

bool validFolderName(const QString& name)
{
    if (name.trimmed().isEmpty() || name.size() > 255 || name.contains(u'\\')) return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control) return false;
    return true;
}

bool validClass(const QString& cls)
{
    return !cls.trimmed().isEmpty() && cls.size() <= 255;
}

} // namespace

namespace detail {

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

} // namespace detail

using detail::AppData;
using detail::AttData;
using detail::ItemData;
using detail::ItemsData;
using detail::PropValue;
using detail::RecipData;

namespace {

bool openStore(AppData& app)
{
    return app.s().ensureOpen();
}

// Text columns are NOT NULL; a null string is stored as an empty one.
QVariant nonNull(const QString& s)
{
    return s.isNull() ? QVariant(u""_s) : QVariant(s);
}

QList<FormProperty> formProperties(Store& s, const QString& cls)
{
    QList<FormProperty> list;
    Query q(s, u"SELECT name, type FROM form_props WHERE message_class = ? ORDER BY idx"_s, {cls});
    while (q.ok() && q.next())
        list.append({q.value(0).toString(), q.value(1).toInt()});
    return list;
}

bool formRegistered(Store& s, const QString& cls)
{
    Query q(s, u"SELECT 1 FROM forms WHERE message_class = ?"_s, {cls});
    return q.ok() && q.next();
}

// Adds the properties the class's form defines and the item lacks (with their
// defaults, to be written by the next Save).
void mergeFormProperties(ItemData& d)
{
    const QList<FormProperty> defs = formProperties(d.app->s(), d.messageClass);
    for (const FormProperty& def : defs) {
        if (d.prop(def.name)) continue;
        d.props.append({def.name, def.type, detail::DefaultValue(def.type), true});
    }
}

std::shared_ptr<ItemData> loadItem(const std::shared_ptr<AppData>& app, qint64 id)
{
    Store& s = app->s();
    auto d = std::make_shared<ItemData>();
    d->app = app;
    {
        Query q(s, u"SELECT folder_id, message_class, "_s + memberColumns() + u" FROM items WHERE id = ?"_s,
                {id});
        if (!q.ok()) return nullptr;
        if (!q.next()) {
            SetErr(ErrNo::NotFound, ItemGoneText);
            return nullptr;
        }
        d->id = id;
        d->folderId = q.value(0).toLongLong();
        d->messageClass = q.value(1).toString();
        for (int i = 0; i < MemberCount; ++i)
            d->fields[i] = q.value(2 + i).toString();
    }
    {
        Query q(s, u"SELECT name, type, value FROM item_props WHERE item_id = ?"_s, {id});
        while (q.ok() && q.next()) {
            const int type = q.value(1).toInt();
            d->props.append({q.value(0).toString(), type, detail::FromStored(type, q.value(2)), false});
        }
    }
    // Form order first, then what the item carries beyond its form.
    const QList<FormProperty> defs = formProperties(s, d->messageClass);
    QList<PropValue> ordered;
    for (const FormProperty& def : defs) {
        if (PropValue* p = d->prop(def.name)) {
            ordered.append(*p);
            p->name.clear();
        } else {
            ordered.append({def.name, def.type, detail::DefaultValue(def.type), true});
        }
    }
    for (const PropValue& p : std::as_const(d->props))
        if (!p.name.isEmpty()) ordered.append(p);
    d->props = ordered;
    return d;
}

void loadAttachments(ItemData& d)
{
    if (d.attsLoaded) return;
    d.attsLoaded = true;
    if (d.id == 0) return;
    Query q(
        d.app->s(),
        u"SELECT type, position, display_name, file_name, data FROM attachments WHERE item_id = ? ORDER BY idx"_s,
        {d.id});
    while (q.ok() && q.next())
        d.atts.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString(),
                       q.value(4).toByteArray()});
}

void loadRecipients(ItemData& d)
{
    if (d.recipsLoaded) return;
    d.recipsLoaded = true;
    if (d.id == 0) return;
    Query q(d.app->s(),
            u"SELECT type, name, address, resolved FROM recipients WHERE item_id = ? ORDER BY idx"_s, {d.id});
    while (q.ok() && q.next())
        d.recips.append(
            {q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toBool()});
}

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

std::optional<FolderRow> folderRow(Store& s, qint64 id)
{
    Query q(s,
            u"SELECT f.id, f.parent_id, f.store_id, f.name, f.type, f.default_class, s.online, s.name"
            u" FROM folders f JOIN folders s ON s.id = f.store_id WHERE f.id = ?"_s,
            {id});
    if (!q.ok() || !q.next()) return std::nullopt;
    return FolderRow{q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong(),
                     q.value(3).toString(),   q.value(4).toInt(),      q.value(5).toString(),
                     q.value(6).toBool(),     q.value(7).toString()};
}

qint64 childFolder(Store& s, qint64 parent, const QString& name)
{
    Query q(s,
            parent == 0
                ? u"SELECT id FROM folders WHERE parent_id IS NULL AND name = ? COLLATE NOCASE ORDER BY id"_s
                : u"SELECT id FROM folders WHERE parent_id = ? AND name = ? COLLATE NOCASE ORDER BY id"_s,
            parent == 0 ? QVariantList{name} : QVariantList{parent, name});
    return q.ok() && q.next() ? q.value(0).toLongLong() : 0;
}

// Inside a write: a folder row with its standard children for a new store.
qint64 insertFolder(Store& s, qint64 parent, qint64 storeId, const QString& name, int type)
{
    Query q(s,
            u"INSERT INTO folders (parent_id, store_id, name, type, default_class) VALUES (?, ?, ?, ?, ?)"_s,
            {parent == 0 ? QVariant(QMetaType::fromType<qint64>()) : QVariant(parent),
             storeId == 0 ? QVariant(QMetaType::fromType<qint64>()) : QVariant(storeId), name, type,
             defaultClassForType(type)});
    if (!q.ok()) return 0;
    return q.lastInsertId();
}

bool writeProps(Store& s, ItemData& d, qint64 id, bool all)
{
    for (PropValue& p : d.props) {
        if (!all && !p.dirty) continue;
        Query q(
            s,
            u"INSERT OR REPLACE INTO item_props (item_id, folder_id, name, type, value) VALUES (?, ?, ?, ?, ?)"_s,
            {id, d.folderId, p.name, p.type, detail::ToStored(p.type, p.value)});
        if (!q.ok()) return false;
    }
    return true;
}

bool writeAttachments(Store& s, const ItemData& d, qint64 id)
{
    Query del(s, u"DELETE FROM attachments WHERE item_id = ?"_s, {id});
    if (!del.ok()) return false;
    int idx = 0;
    for (const AttData& a : d.atts) {
        Query q(s,
                u"INSERT INTO attachments (item_id, idx, type, position, display_name, file_name, data)"
                u" VALUES (?, ?, ?, ?, ?, ?, ?)"_s,
                {id, ++idx, a.type, a.position, nonNull(a.displayName), nonNull(a.fileName), a.data});
        if (!q.ok()) return false;
    }
    return true;
}

bool writeRecipients(Store& s, const ItemData& d, qint64 id)
{
    Query del(s, u"DELETE FROM recipients WHERE item_id = ?"_s, {id});
    if (!del.ok()) return false;
    int idx = 0;
    for (const RecipData& r : d.recips) {
        Query q(
            s,
            u"INSERT INTO recipients (item_id, idx, type, name, address, resolved) VALUES (?, ?, ?, ?, ?, ?)"_s,
            {id, ++idx, r.type, nonNull(r.name), nonNull(r.address), r.resolved ? 1 : 0});
        if (!q.ok()) return false;
    }
    return true;
}

// Inside a write: the store's drafts folder, made when missing.
qint64 draftsFolder(Store& s)
{
    qint64 storeId = 0;
    {
        Query q(s, u"SELECT id FROM folders WHERE parent_id IS NULL ORDER BY id LIMIT 1"_s);
        if (!q.ok()) return 0;
        if (!q.next()) {
            SetErr(ErrNo::NotFound, u"There is no information store to save the item in."_s);
            return 0;
        }
        storeId = q.value(0).toLongLong();
    }
    if (const qint64 id = childFolder(s, storeId, QString::fromUtf16(DraftsFolderName))) return id;
    return insertFolder(s, storeId, storeId, QString::fromUtf16(DraftsFolderName), olFolderDrafts);
}

bool saveItem(ItemData& d)
{
    if (d.deleted) return SetErr(ErrNo::NotFound, ItemGoneText);
    if (!openStore(*d.app)) return false;
    Store& s = d.app->s();
    if (d.classDirty || d.id == 0) mergeFormProperties(d);
    // A contact is filed under its full name unless told otherwise.
    const int fileAs = memberIndex(u"FileAs"_s);
    const int fullName = memberIndex(u"FullName"_s);
    if (d.isContact() && d.fields[fileAs].isEmpty() && !d.fields[fullName].isEmpty()) {
        d.fields[fileAs] = d.fields[fullName];
        d.dirtyFields.insert(fileAs);
    }
    qint64 newId = 0;
    qint64 folderId = d.folderId;
    const bool ok = s.write([&] {
        if (folderId == 0 && (folderId = draftsFolder(s)) == 0) return false;
        {
            Query q(s, u"SELECT 1 FROM folders WHERE id = ?"_s, {folderId});
            if (!q.ok()) return false;
            if (!q.next()) return SetErr(ErrNo::NotFound, FolderGoneText);
        }
        const qint64 savedFolder = d.folderId;
        d.folderId = folderId;
        bool done = false;
        if (d.id == 0) {
            QString cols = u"folder_id, message_class"_s;
            QString marks = u"?, ?"_s;
            QVariantList values{folderId, d.messageClass};
            for (int i = 0; i < MemberCount; ++i) {
                cols += u", "_s + members()[i].column;
                marks += u", ?"_s;
                values.append(nonNull(d.fields[i]));
            }
            Query q(s, u"INSERT INTO items ("_s + cols + u") VALUES ("_s + marks + u")"_s, values);
            if (q.ok()) {
                newId = q.lastInsertId();
                done = writeProps(s, d, newId, true);
            }
        } else {
            QString sets = u"message_class = ?, modified = strftime('%Y-%m-%dT%H:%M:%f','now')"_s;
            QVariantList values{d.messageClass};
            for (int i = 0; i < MemberCount; ++i) {
                if (!d.dirtyFields.contains(i)) continue;
                sets += u", "_s + members()[i].column + u" = ?"_s;
                values.append(nonNull(d.fields[i]));
            }
            values.append(d.id);
            Query q(s, u"UPDATE items SET "_s + sets + u" WHERE id = ?"_s, values);
            if (q.ok() && q.rowsAffected() == 0)
                SetErr(ErrNo::NotFound, ItemGoneText);
            else if (q.ok())
                done = writeProps(s, d, d.id, false);
        }
        const qint64 id = d.id ? d.id : newId;
        if (done && d.attsDirty) done = writeAttachments(s, d, id);
        if (done && d.recipsDirty) done = writeRecipients(s, d, id);
        if (!done) d.folderId = savedFolder;
        return done;
    });
    if (!ok) {
        if (!Err()) SetErr(ErrNo::Fail, u"The item could not be saved."_s);
        return false;
    }
    if (d.id == 0) {
        d.id = newId;
        d.attsLoaded = true;
        d.recipsLoaded = true;
    }
    d.classDirty = false;
    d.dirtyFields.clear();
    d.attsDirty = false;
    d.recipsDirty = false;
    for (PropValue& p : d.props)
        p.dirty = false;
    return true;
}

// Drops unsaved changes of a stored item.
void discardChanges(ItemData& d)
{
    if (d.id == 0 || !d.dirty()) return;
    if (auto fresh = loadItem(d.app, d.id)) {
        const std::shared_ptr<AppData> app = d.app;
        d = *fresh;
        d.app = app;
    }
}

bool resolveName(AppData& app, RecipData& r)
{
    const QString name = r.name.trimmed();
    if (name.contains(u'@') && !name.contains(u' ')) {
        r.address = name;
        r.resolved = true;
        return true;
    }
    if (!openStore(app)) return false;
    Query q(app.s(),
            u"SELECT full_name, email1_address FROM items WHERE (message_class = 'IPM.Contact' COLLATE NOCASE"
            u" OR message_class LIKE 'IPM.Contact.%') AND email1_address <> ''"
            u" AND (full_name = ? COLLATE NOCASE OR email1_address = ? COLLATE NOCASE"
            u" OR nick_name = ? COLLATE NOCASE) ORDER BY id LIMIT 1"_s,
            {name, name, name});
    if (q.ok() && q.next()) {
        r.name = q.value(0).toString().isEmpty() ? name : q.value(0).toString();
        r.address = q.value(1).toString();
        r.resolved = true;
    }
    return r.resolved;
}

// Resolves a parsed filter against the store: built-in member or user property.
std::optional<detail::Filter> compileFilter(Store& s, qint64 folderId, const QString& text)
{
    QString why;
    const std::optional<detail::ParsedFilter> parsed = detail::ParseFilter(text, &why);
    if (!parsed) {
        SetErr(ErrNo::Exception, u"Cannot parse condition. Error at \"%1\": %2."_s.arg(text.left(80), why));
        return std::nullopt;
    }
    detail::Filter f;
    const bool isClass = parsed->name.compare(u"MessageClass"_s, Qt::CaseInsensitive) == 0;
    const int member = isClass ? -2 : memberIndex(parsed->name);
    if (member != -1) {
        if (!parsed->quoted) {
            SetErr(ErrNo::TypeMismatch,
                   u"Type mismatch: the value for \"%1\" must be quoted."_s.arg(parsed->name));
            return std::nullopt;
        }
        f.member = member;
        f.stored = nonNull(parsed->literal.toString());
        return f;
    }
    // A user property: its type from the forms, else from the items that carry it.
    int type = 0;
    {
        Query q(s, u"SELECT type FROM form_props WHERE name = ? LIMIT 1"_s, {parsed->name});
        if (q.ok() && q.next()) type = q.value(0).toInt();
    }
    if (type == 0) {
        Query q(s, u"SELECT type FROM item_props WHERE folder_id = ? AND name = ? LIMIT 1"_s,
                {folderId, parsed->name});
        if (q.ok() && q.next()) type = q.value(0).toInt();
    }
    if (type == 0) {
        SetErr(ErrNo::Exception, u"The property \"%1\" in the condition is unknown."_s.arg(parsed->name));
        return std::nullopt;
    }
    QVariant value;
    if (!detail::Coerce(type, parsed->literal, &value)) {
        SetErr(ErrNo::TypeMismatch, u"Type mismatch: \"%1\" cannot hold that value."_s.arg(parsed->name));
        return std::nullopt;
    }
    f.property = parsed->name;
    f.stored = detail::ToStored(type, value);
    return f;
}

// Ids of the folder's items (matching the filter) after `after`, in order.
QList<qint64> selectIds(Store& s, qint64 folderId, const detail::Filter* f, qint64 after, int limit,
                        int offset = 0)
{
    QString sql;
    QVariantList values{folderId};
    if (!f) {
        sql = u"SELECT id FROM items WHERE folder_id = ? AND id > ? ORDER BY id LIMIT ? OFFSET ?"_s;
    } else if (f->member == -1) {
        sql = u"SELECT item_id FROM item_props WHERE folder_id = ? AND name = ? AND value = ? AND item_id > ?"
              u" ORDER BY item_id LIMIT ? OFFSET ?"_s;
        values << f->property << f->stored;
    } else {
        const QString column = f->member == -2 ? u"message_class"_s : members()[f->member].column;
        sql = u"SELECT id FROM items WHERE folder_id = ? AND "_s + column +
              u" = ? COLLATE NOCASE AND id > ? ORDER BY id LIMIT ? OFFSET ?"_s;
        values << f->stored;
    }
    values << after << limit << offset;
    QList<qint64> ids;
    Query q(s, sql, values);
    while (q.ok() && q.next())
        ids.append(q.value(0).toLongLong());
    return ids;
}

int countIds(Store& s, qint64 folderId, const detail::Filter* f)
{
    QString sql;
    QVariantList values{folderId};
    if (!f) {
        sql = u"SELECT count(*) FROM items WHERE folder_id = ?"_s;
    } else if (f->member == -1) {
        sql = u"SELECT count(*) FROM item_props WHERE folder_id = ? AND name = ? AND value = ?"_s;
        values << f->property << f->stored;
    } else {
        const QString column = f->member == -2 ? u"message_class"_s : members()[f->member].column;
        sql = u"SELECT count(*) FROM items WHERE folder_id = ? AND "_s + column + u" = ? COLLATE NOCASE"_s;
        values << f->stored;
    }
    Query q(s, sql, values);
    if (!q.ok()) return 0;
    return q.next() ? q.value(0).toInt() : 0;
}

QByteArray hexBytes(const QByteArray& data)
{
    return data.toHex();
}

} // namespace

// ---------------------------------------------------------------- Application

Application::Application(const QString& storePath)
    : d(std::make_shared<AppData>(AppData{Store::forPath(storePath)}))
{}

Application Application::GetObject()
{
    ClearErr();
    if (!WindowSide::current()->IsRunning()) {
        SetErr(ErrNo::CannotCreateObject, u"ActiveX component can't create object"_s);
        return {};
    }
    return Application(DefaultStorePath());
}

Application Application::CreateObject()
{
    ClearErr();
    const std::shared_ptr<WindowSide> side = WindowSide::current();
    if (!side->IsRunning() && !side->Start()) {
        SetErr(ErrNo::CannotCreateObject, u"ActiveX component can't create object"_s);
        return {};
    }
    return Application(DefaultStorePath());
}

NameSpace Application::GetNamespace(const QString& type) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (type.compare(u"MAPI"_s, Qt::CaseInsensitive) != 0) {
        SetErr(ErrNo::InvalidArg, u"Only the \"MAPI\" namespace is available."_s);
        return {};
    }
    NameSpace ns;
    ns.d = d;
    return ns;
}

Item Application::CreateItem(int itemType) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    QString cls;
    if (itemType == olMailItem)
        cls = u"IPM.Note"_s;
    else if (itemType == olContactItem)
        cls = u"IPM.Contact"_s;
    else {
        SetErr(ErrNo::InvalidArg, u"That kind of item cannot be created."_s);
        return {};
    }
    auto data = std::make_shared<ItemData>();
    data->app = d;
    data->messageClass = cls;
    data->attsLoaded = data->recipsLoaded = true;
    return Item(data);
}

std::shared_ptr<Explorer> Application::ActiveExplorer() const
{
    if (!d) {
        NothingErr();
        return nullptr;
    }
    ClearErr();
    return WindowSide::current()->ActiveExplorer();
}

std::shared_ptr<Inspector> Application::ActiveInspector() const
{
    if (!d) {
        NothingErr();
        return nullptr;
    }
    ClearErr();
    return WindowSide::current()->ActiveInspector();
}

QString Application::StorePath() const
{
    return d ? d->store->path() : QString();
}

Item Application::ItemFromSnapshot(const QVariantMap& snapshot) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (!openStore(*d)) return {};
    const QString cls = snapshot.value(u"messageClass"_s).toString();
    if (!validClass(cls)) {
        SetErr(ErrNo::InvalidArg, u"The item has no message class."_s);
        return {};
    }
    auto data = std::make_shared<ItemData>();
    data->app = d;
    data->messageClass = cls;
    data->folderId = snapshot.value(u"folder"_s).toLongLong();
    if (data->folderId != 0 && !folderRow(d->s(), data->folderId)) {
        SetErr(ErrNo::NotFound, FolderGoneText);
        return {};
    }
    data->attsLoaded = data->recipsLoaded = true;
    mergeFormProperties(*data);
    const QVariantMap fields = snapshot.value(u"members"_s).toMap();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const int i = memberIndex(it.key());
        if (i >= 0) data->fields[i] = it.value().toString();
    }
    const QVariantList props = snapshot.value(u"userProperties"_s).toList();
    for (const QVariant& pv : props) {
        const QVariantMap p = pv.toMap();
        const int type = p.value(u"type"_s).toInt();
        QVariant value;
        if (!detail::IsKnownPropertyType(type) || !detail::Coerce(type, p.value(u"value"_s), &value))
            continue;
        const QString name = p.value(u"name"_s).toString();
        if (PropValue* existing = data->prop(name))
            existing->value = value;
        else if (!name.isEmpty())
            data->props.append({name, type, value, true});
    }
    const QVariantList atts = snapshot.value(u"attachments"_s).toList();
    for (const QVariant& av : atts) {
        const QVariantMap a = av.toMap();
        data->atts.append({a.value(u"type"_s).toInt(), a.value(u"position"_s).toInt(),
                           a.value(u"displayName"_s).toString(), a.value(u"fileName"_s).toString(),
                           a.value(u"data"_s).toByteArray()});
    }
    const QVariantList recips = snapshot.value(u"recipients"_s).toList();
    for (const QVariant& rv : recips) {
        const QVariantMap r = rv.toMap();
        data->recips.append({r.value(u"type"_s).toInt(), r.value(u"name"_s).toString(),
                             r.value(u"address"_s).toString(), r.value(u"resolved"_s).toBool()});
    }
    data->attsDirty = !data->atts.isEmpty();
    data->recipsDirty = !data->recips.isEmpty();
    for (int i = 0; i < MemberCount; ++i)
        data->dirtyFields.insert(i);
    return Item(data);
}

// ---------------------------------------------------------------- NameSpace

Folders NameSpace::Folders() const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    kv::outlook::Folders f;
    f.m_app = d;
    f.m_parent = 0;
    return f;
}

QString FullNameFromGecos(const QString& gecos)
{
    const QString name = gecos.section(u',', 0, 0).trimmed();
    return name.isEmpty() ? UnknownText : name;
}

QString NameSpace::CurrentUser() const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    const passwd* pw = ::getpwuid(::getuid());
    return FullNameFromGecos(pw && pw->pw_gecos ? QString::fromLocal8Bit(pw->pw_gecos) : QString());
}

Item NameSpace::GetItemFromID(const QString& entryId) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (!openStore(*d)) return {};
    bool ok = false;
    const qint64 id = entryId.toLongLong(&ok);
    if (!ok || id <= 0) {
        SetErr(ErrNo::NotFound, NotFoundText);
        return {};
    }
    std::shared_ptr<ItemData> data = loadItem(d, id);
    if (!data) return {};
    return kv::outlook::Item(data);
}

MAPIFolder NameSpace::GetFolderFromID(const QString& entryId) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (!openStore(*d)) return {};
    bool ok = false;
    const qint64 id = entryId.toLongLong(&ok);
    if (!ok || id <= 0 || !folderRow(d->s(), id)) {
        if (!Err()) SetErr(ErrNo::NotFound, NotFoundText);
        return {};
    }
    return MAPIFolder(d, id);
}

Application NameSpace::Application() const
{
    kv::outlook::Application app;
    app.d = d;
    return app;
}

MAPIFolder NameSpace::AddStore(const QString& name) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (!validFolderName(name)) {
        SetErr(ErrNo::InvalidArg, u"The name of the information store is not valid."_s);
        return {};
    }
    if (!openStore(*d)) return {};
    Store& s = d->s();
    qint64 id = 0;
    const bool ok = s.write([&] {
        if (childFolder(s, 0, name))
            return SetErr(ErrNo::Collision, u"An information store named '%1' already exists."_s.arg(name));
        id = insertFolder(s, 0, 0, name, olFolderInbox);
        if (!id) return false;
        Query q(s, u"UPDATE folders SET store_id = id WHERE id = ?"_s, {id});
        if (!q.ok()) return false;
        return insertFolder(s, id, id, QString::fromUtf16(DeletedItemsFolderName), olFolderDeletedItems) &&
               insertFolder(s, id, id, QString::fromUtf16(InboxFolderName), olFolderInbox) &&
               insertFolder(s, id, id, QString::fromUtf16(ContactsFolderName), olFolderContacts);
    });
    if (!ok) return {};
    return MAPIFolder(d, id);
}

bool NameSpace::RemoveStore(const QString& name) const
{
    if (!d) return NothingErr();
    ClearErr();
    if (!openStore(*d)) return false;
    Store& s = d->s();
    return s.write([&] {
        Query q(s, u"DELETE FROM folders WHERE parent_id IS NULL AND name = ? COLLATE NOCASE"_s, {name});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::Exception, NotFoundText);
        return true;
    });
}

bool NameSpace::SetStoreOnline(const QString& name, bool online) const
{
    if (!d) return NothingErr();
    ClearErr();
    if (!openStore(*d)) return false;
    Store& s = d->s();
    return s.write([&] {
        Query q(s, u"UPDATE folders SET online = ? WHERE parent_id IS NULL AND name = ? COLLATE NOCASE"_s,
                {online ? 1 : 0, name});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::Exception, NotFoundText);
        return true;
    });
}

// ---------------------------------------------------------------- Folders

int Folders::Count() const
{
    if (!m_app) return NothingErr();
    ClearErr();
    if (m_parent != 0 && !MAPIFolder(m_app, m_parent).check()) return 0;
    if (!openStore(*m_app)) return 0;
    Query q(m_app->s(),
            m_parent == 0 ? u"SELECT count(*) FROM folders WHERE parent_id IS NULL"_s
                          : u"SELECT count(*) FROM folders WHERE parent_id = ?"_s,
            m_parent == 0 ? QVariantList{} : QVariantList{m_parent});
    return q.ok() && q.next() ? q.value(0).toInt() : 0;
}

MAPIFolder Folders::Item(const QString& name) const
{
    if (!m_app) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (m_parent != 0 && !MAPIFolder(m_app, m_parent).check()) return {};
    if (!openStore(*m_app)) return {};
    const qint64 id = childFolder(m_app->s(), m_parent, name);
    if (!id) {
        if (!Err()) SetErr(ErrNo::Exception, NotFoundText);
        return {};
    }
    if (m_parent == 0) {
        const std::optional<FolderRow> row = folderRow(m_app->s(), id);
        if (row && !row->online) {
            SetErr(ErrNo::StoreFailed, StoreOfflineText.arg(row->name));
            return {};
        }
    }
    return MAPIFolder(m_app, id);
}

MAPIFolder Folders::Item(int index) const
{
    if (!m_app) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (m_parent != 0 && !MAPIFolder(m_app, m_parent).check()) return {};
    if (!openStore(*m_app)) return {};
    if (index < 1) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    Query q(m_app->s(),
            m_parent == 0 ? u"SELECT id FROM folders WHERE parent_id IS NULL ORDER BY id LIMIT 1 OFFSET ?"_s
                          : u"SELECT id FROM folders WHERE parent_id = ? ORDER BY id LIMIT 1 OFFSET ?"_s,
            m_parent == 0 ? QVariantList{index - 1} : QVariantList{m_parent, index - 1});
    if (!q.ok()) return {};
    if (!q.next()) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    return MAPIFolder(m_app, q.value(0).toLongLong());
}

MAPIFolder Folders::Add(const QString& name, int type) const
{
    if (!m_app) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (m_parent == 0) {
        SetErr(ErrNo::InvalidArg, u"Information stores are added to the profile, not as folders."_s);
        return {};
    }
    const MAPIFolder parent(m_app, m_parent);
    if (!parent.check()) return {};
    Store& s = m_app->s();
    const std::optional<FolderRow> prow = folderRow(s, m_parent);
    if (!prow) return {};
    if (type == -1) type = prow->type;
    if (defaultClassForType(type).isEmpty()) {
        SetErr(ErrNo::InvalidArg, u"One or more arguments are invalid."_s);
        return {};
    }
    if (!validFolderName(name)) {
        SetErr(ErrNo::InvalidArg, u"The folder name is not valid."_s);
        return {};
    }
    qint64 id = 0;
    const bool ok = s.write([&] {
        if (childFolder(s, m_parent, name))
            return SetErr(ErrNo::Exception,
                          u"Cannot create the folder. A folder named '%1' already exists."_s.arg(name));
        id = insertFolder(s, m_parent, prow->storeId, name, type);
        return id != 0;
    });
    if (!ok) return {};
    return MAPIFolder(m_app, id);
}

QList<MAPIFolder> Folders::toList() const
{
    QList<MAPIFolder> list;
    const int n = Count();
    for (int i = 1; i <= n; ++i) {
        MAPIFolder f = Item(i);
        if (f) list.append(f);
    }
    return list;
}

// ---------------------------------------------------------------- MAPIFolder

bool MAPIFolder::operator==(const MAPIFolder& o) const
{
    const bool sameStore = (m_app && o.m_app) ? m_app->store == o.m_app->store : m_app == o.m_app;
    return sameStore && m_id == o.m_id;
}

bool MAPIFolder::check(bool needOnline) const
{
    if (!m_app) return NothingErr();
    ClearErr();
    if (!openStore(*m_app)) return false;
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    if (!row) {
        if (!Err()) SetErr(ErrNo::CantCallOut, FolderGoneText);
        return false;
    }
    if (needOnline && !row->online) return SetErr(ErrNo::StoreFailed, StoreOfflineText.arg(row->storeName));
    return true;
}

QString MAPIFolder::Name() const
{
    if (!check(false)) return {};
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    return row ? row->name : QString();
}

bool MAPIFolder::setName(const QString& name) const
{
    if (!check()) return false;
    if (!validFolderName(name)) return SetErr(ErrNo::InvalidArg, u"The folder name is not valid."_s);
    Store& s = m_app->s();
    return s.write([&] {
        const std::optional<FolderRow> row = folderRow(s, m_id);
        if (!row) return SetErr(ErrNo::CantCallOut, FolderGoneText);
        const qint64 other = childFolder(s, row->parent, name);
        if (other && other != m_id)
            return SetErr(ErrNo::Collision, u"A folder named '%1' already exists."_s.arg(name));
        Query q(s, u"UPDATE folders SET name = ? WHERE id = ?"_s, {name, m_id});
        return q.ok();
    });
}

QString MAPIFolder::DefaultMessageClass() const
{
    if (!check(false)) return {};
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    return row ? row->defaultClass : QString();
}

int MAPIFolder::DefaultItemType() const
{
    if (!check(false)) return 0;
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    return row ? row->type : 0;
}

Folders MAPIFolder::Folders() const
{
    if (!check()) return {};
    kv::outlook::Folders f;
    f.m_app = m_app;
    f.m_parent = m_id;
    return f;
}

Items MAPIFolder::Items() const
{
    if (!check()) return {};
    kv::outlook::Items items;
    items.d = std::make_shared<ItemsData>();
    items.d->app = m_app;
    items.d->folderId = m_id;
    return items;
}

MAPIFolder MAPIFolder::Parent() const
{
    if (!check(false)) return {};
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    if (!row || row->parent == 0) return {};
    return MAPIFolder(m_app, row->parent);
}

bool MAPIFolder::IsStore() const
{
    if (!check(false)) return false;
    const std::optional<FolderRow> row = folderRow(m_app->s(), m_id);
    return row && row->parent == 0;
}

QString MAPIFolder::EntryID() const
{
    return m_app ? QString::number(m_id) : QString();
}

std::shared_ptr<Explorer> MAPIFolder::GetExplorer(int displayMode) const
{
    Q_UNUSED(displayMode);
    if (!check()) return nullptr;
    return WindowSide::current()->GetExplorer(*this);
}

Application MAPIFolder::Application() const
{
    kv::outlook::Application app;
    app.d = m_app;
    return app;
}

// ---------------------------------------------------------------- Items

int Items::Count() const
{
    if (!d) return NothingErr();
    if (!MAPIFolder(d->app, d->folderId).check()) return 0;
    return countIds(d->app->s(), d->folderId, d->filter ? &*d->filter : nullptr);
}

Item Items::Item(int index) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    if (!MAPIFolder(d->app, d->folderId).check()) return {};
    if (index < 1) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    const QList<qint64> ids =
        selectIds(d->app->s(), d->folderId, d->filter ? &*d->filter : nullptr, 0, 1, index - 1);
    if (ids.isEmpty()) {
        if (!Err()) SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    auto data = loadItem(d->app, ids.first());
    return data ? kv::outlook::Item(data) : kv::outlook::Item();
}

Item Items::Find(const QString& filter) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    if (!MAPIFolder(d->app, d->folderId).check()) return {};
    std::optional<detail::Filter> f = compileFilter(d->app->s(), d->folderId, filter);
    if (!f) return {};
    d->findFilter = f;
    d->findAfter = 0;
    return FindNext();
}

Item Items::FindNext() const
{
    if (!d) {
        NothingErr();
        return {};
    }
    if (!MAPIFolder(d->app, d->folderId).check()) return {};
    if (!d->findFilter) {
        SetErr(ErrNo::Exception, u"FindNext needs a Find first."_s);
        return {};
    }
    for (;;) {
        const QList<qint64> ids = selectIds(d->app->s(), d->folderId, &*d->findFilter, d->findAfter, 1);
        if (ids.isEmpty()) return {};
        d->findAfter = ids.first();
        if (d->filter) {
            // A Find inside a Restrict: both conditions hold.
            const QList<qint64> in = selectIds(d->app->s(), d->folderId, &*d->filter, ids.first() - 1, 1);
            if (in.isEmpty() || in.first() != ids.first()) continue;
        }
        auto data = loadItem(d->app, ids.first());
        if (!data) continue; // removed between the two reads
        ClearErr();
        return kv::outlook::Item(data);
    }
}

Items Items::Restrict(const QString& filter) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    if (!MAPIFolder(d->app, d->folderId).check()) return {};
    if (d->filter) {
        SetErr(ErrNo::Exception, u"A restricted collection cannot be restricted again."_s);
        return {};
    }
    std::optional<detail::Filter> f = compileFilter(d->app->s(), d->folderId, filter);
    if (!f) return {};
    Items r;
    r.d = std::make_shared<ItemsData>();
    r.d->app = d->app;
    r.d->folderId = d->folderId;
    r.d->filter = f;
    return r;
}

Item Items::Add(const QString& messageClass) const
{
    if (!d) {
        NothingErr();
        return {};
    }
    const MAPIFolder folder(d->app, d->folderId);
    if (!folder.check()) return {};
    Store& s = d->app->s();
    QString cls = messageClass.trimmed();
    if (cls.isEmpty()) {
        const std::optional<FolderRow> row = folderRow(s, d->folderId);
        cls = row ? row->defaultClass : u"IPM.Note"_s;
    }
    if (!validClass(cls)) {
        SetErr(ErrNo::InvalidArg, u"The message class is not valid."_s);
        return {};
    }
    if (!isStandardClass(cls) && !formRegistered(s, cls)) {
        if (!Err()) SetErr(ErrNo::NotFound, u"The form for \"%1\" is not installed."_s.arg(cls));
        return {};
    }
    auto data = std::make_shared<ItemData>();
    data->app = d->app;
    data->folderId = d->folderId;
    data->messageClass = cls;
    data->attsLoaded = data->recipsLoaded = true;
    mergeFormProperties(*data);
    return kv::outlook::Item(data);
}

Items::iterator Items::begin() const
{
    iterator it;
    if (!d) {
        NothingErr();
        return it;
    }
    if (!MAPIFolder(d->app, d->folderId).check()) return it;
    it.m_items = d;
    it.m_done = false;
    it.m_id = 0;
    it.fill();
    return it;
}

void Items::iterator::fill()
{
    constexpr int PageSize = 256;
    if (m_pos < m_page.size()) {
        m_id = m_page.at(m_pos);
        return;
    }
    m_page = selectIds(m_items->app->s(), m_items->folderId, m_items->filter ? &*m_items->filter : nullptr,
                       m_id, PageSize);
    m_pos = 0;
    if (m_page.isEmpty()) {
        m_done = true;
        m_id = 0;
        return;
    }
    m_id = m_page.first();
}

Item Items::iterator::operator*() const
{
    if (m_done) {
        NothingErr();
        return {};
    }
    ClearErr();
    auto data = loadItem(m_items->app, m_id);
    return data ? kv::outlook::Item(data) : kv::outlook::Item();
}

Items::iterator& Items::iterator::operator++()
{
    if (m_done) return *this;
    ++m_pos;
    fill();
    return *this;
}

// ---------------------------------------------------------------- Item

bool Item::check() const
{
    if (!d) return NothingErr();
    ClearErr();
    return true;
}

bool Item::isContact() const
{
    return d && d->isContact();
}

bool Item::isSameStored(const Item& o) const
{
    return d && o.d && d->id != 0 && d->id == o.d->id && d->app->store == o.d->app->store;
}

QString Item::MessageClass() const
{
    return check() ? d->messageClass : QString();
}

bool Item::setMessageClass(const QString& messageClass) const
{
    if (!check()) return false;
    if (!validClass(messageClass)) return SetErr(ErrNo::InvalidArg, u"The message class is not valid."_s);
    if (d->messageClass != messageClass) {
        d->messageClass = messageClass;
        d->classDirty = true;
    }
    return true;
}

QVariant Item::GetMember(const QString& name) const
{
    if (!check()) return {};
    if (name.compare(u"MessageClass"_s, Qt::CaseInsensitive) == 0) return d->messageClass;
    if (name.compare(u"EntryID"_s, Qt::CaseInsensitive) == 0) return EntryID();
    const int i = memberIndex(name);
    if (i < 0 || !(members()[i].kinds & (d->isContact() ? ContactKind : MailKind))) {
        SetErr(ErrNo::NotSupported, u"Object doesn't support this property or method"_s);
        return {};
    }
    return d->fields[i];
}

bool Item::SetMember(const QString& name, const QVariant& value) const
{
    if (!check()) return false;
    if (name.compare(u"MessageClass"_s, Qt::CaseInsensitive) == 0) return setMessageClass(value.toString());
    const int i = memberIndex(name);
    if (i < 0 || !(members()[i].kinds & (d->isContact() ? ContactKind : MailKind)))
        return SetErr(ErrNo::NotSupported, u"Object doesn't support this property or method"_s);
    const QString text = value.toString();
    if (d->fields[i] != text || d->id == 0) {
        d->fields[i] = text;
        d->dirtyFields.insert(i);
    }
    return true;
}

#define KV_OL_TEXT_MEMBER(Name)                                                                              \
    QString Item::Name() const                                                                               \
    {                                                                                                        \
        return GetMember(QStringLiteral(#Name)).toString();                                                  \
    }                                                                                                        \
    bool Item::set##Name(const QString& v) const                                                             \
    {                                                                                                        \
        return SetMember(QStringLiteral(#Name), v);                                                          \
    }

KV_OL_TEXT_MEMBER(FullName)
KV_OL_TEXT_MEMBER(FileAs)
KV_OL_TEXT_MEMBER(CompanyName)
KV_OL_TEXT_MEMBER(Email1Address)
KV_OL_TEXT_MEMBER(BusinessAddressCity)
KV_OL_TEXT_MEMBER(BusinessAddressState)
KV_OL_TEXT_MEMBER(BusinessAddressCountry)
KV_OL_TEXT_MEMBER(NickName)
KV_OL_TEXT_MEMBER(Subject)
KV_OL_TEXT_MEMBER(SentOnBehalfOfName)
#undef KV_OL_TEXT_MEMBER

QString Item::Body() const
{
    return GetMember(QStringLiteral("Body")).toString();
}

bool Item::setBody(const QString& body) const
{
    return SetMember(QStringLiteral("Body"), body);
}

QString Item::EntryID() const
{
    return d && d->id ? QString::number(d->id) : QString();
}

bool Item::Saved() const
{
    return d && d->id != 0 && !d->dirty();
}

MAPIFolder Item::Parent() const
{
    if (!check()) return {};
    if (d->folderId == 0) return {};
    return MAPIFolder(d->app, d->folderId);
}

UserProperties Item::UserProperties() const
{
    if (!check()) return {};
    kv::outlook::UserProperties p;
    p.m_item = d;
    return p;
}

bool Item::Save() const
{
    if (!check()) return false;
    return saveItem(*d);
}

bool Item::Delete() const
{
    if (!check()) return false;
    if (d->deleted) return SetErr(ErrNo::NotFound, ItemGoneText);
    if (d->id == 0) {
        d->deleted = true;
        return true;
    }
    if (!openStore(*d->app)) return false;
    Store& s = d->app->s();
    const bool ok = s.write([&] {
        qint64 bin = 0;
        {
            Query q(s,
                    u"SELECT b.id FROM folders f JOIN folders b ON b.parent_id = f.store_id"
                    u" WHERE f.id = ? AND b.type = ? ORDER BY b.id LIMIT 1"_s,
                    {d->folderId, int(olFolderDeletedItems)});
            if (!q.ok()) return false;
            if (q.next()) bin = q.value(0).toLongLong();
        }
        if (bin != 0 && bin != d->folderId) {
            Query q(s, u"UPDATE items SET folder_id = ? WHERE id = ?"_s, {bin, d->id});
            if (!q.ok()) return false;
            if (q.rowsAffected() == 0) return SetErr(ErrNo::NotFound, ItemGoneText);
            Query p(s, u"UPDATE item_props SET folder_id = ? WHERE item_id = ?"_s, {bin, d->id});
            return p.ok();
        }
        Query q(s, u"DELETE FROM items WHERE id = ?"_s, {d->id});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::NotFound, ItemGoneText);
        return true;
    });
    if (ok) d->deleted = true;
    return ok;
}

Item Item::Move(const MAPIFolder& folder) const
{
    if (!check()) return {};
    if (d->deleted) {
        SetErr(ErrNo::NotFound, ItemGoneText);
        return {};
    }
    if (!folder.check()) return {};
    if (folder.m_app->store != d->app->store) {
        SetErr(ErrNo::InvalidArg, u"Items move only between folders of one store file."_s);
        return {};
    }
    if (d->id != 0 && d->folderId == folder.m_id && !d->dirty()) return *this; // already there
    if (d->id == 0 || d->folderId == folder.m_id) {
        d->folderId = folder.m_id;
        if (!saveItem(*d)) return {};
        return *this;
    }
    Store& s = d->app->s();
    const qint64 target = folder.m_id;
    const bool ok = s.write([&] {
        Query q(s, u"UPDATE items SET folder_id = ? WHERE id = ?"_s, {target, d->id});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::NotFound, ItemGoneText);
        Query p(s, u"UPDATE item_props SET folder_id = ? WHERE item_id = ?"_s, {target, d->id});
        return p.ok();
    });
    if (!ok) return {};
    d->folderId = target;
    // Unsaved changes travel with the item.
    if (d->dirty() && !saveItem(*d)) return {};
    return *this;
}

bool Item::Display(bool modal) const
{
    const std::shared_ptr<Inspector> inspector = GetInspector();
    if (!inspector) return false;
    return inspector->Display(modal);
}

std::shared_ptr<Inspector> Item::GetInspector() const
{
    if (!check()) return nullptr;
    return WindowSide::current()->GetInspector(*this);
}

bool Item::Close(int saveMode) const
{
    if (!check()) return false;
    if (saveMode == olSave) {
        if (!saveItem(*d)) return false;
    } else if (saveMode == olDiscard || saveMode == olPromptForSave) {
        discardChanges(*d);
    } else {
        return SetErr(ErrNo::InvalidArg, u"One or more arguments are invalid."_s);
    }
    if (const std::shared_ptr<Inspector> open = WindowSide::current()->FindInspector(*this))
        open->Close(olDiscard);
    ClearErr();
    return true;
}

bool Item::InsertSignature(const QString& path) const
{
    if (!check()) return false;
    QFile f(path);
    // Attachments are written as hex: twice their bytes, and a little for the text.
    constexpr qint64 MaxSignatureBytes = 2 * Attachments::MaxAttachmentBytes + 1024 * 1024;
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxSignatureBytes)
        return SetErr(ErrNo::FileNotFound, u"Cannot find this file. Verify the path and file name are correct."_s);
    const platform::rtf::ReadResult signature = platform::rtf::Read(f.readAll());
    static const QRegularExpression attachment(
        uR"(^\\kvpos-?\d+ \{\\\*\\kvdisplayname ((?:\\.|[^\\}])*)\}\{\\\*\\kvfilename ((?:\\.|[^\\}])*)\}\{\\\*\\kvdata ([0-9a-fA-F]*)\}$)"_s);
    loadAttachments(*d);
    const QString body = d->fields[memberIndex(u"Body"_s)];
    for (const platform::rtf::Destination& dest : signature.destinations) {
        if (dest.keyword != "kvattachment") continue;
        const QRegularExpressionMatch m = attachment.match(QString::fromLatin1(dest.payload));
        if (!m.hasMatch()) continue;
        AttData a;
        a.position = static_cast<int>(body.size() + dest.position);
        a.displayName = platform::rtf::Read(m.captured(1).toLatin1()).text;
        a.fileName = QFileInfo(platform::rtf::Read(m.captured(2).toLatin1()).text).fileName();
        a.data = QByteArray::fromHex(m.captured(3).toLatin1());
        d->atts.append(a);
        d->attsDirty = true;
    }
    return setBody(body + signature.text);
}

bool Item::SaveAs(const QString& path, int type) const
{
    if (!check()) return false;
    QByteArray bytes;
    if (type == olTXT) {
        bytes = d->fields[memberIndex(u"Body"_s)].toLatin1();
    } else if (type == olRTF) {
        loadAttachments(*d);
        const QString body = d->fields[memberIndex(u"Body"_s)];
        platform::rtf::Writer w;
        w.addFont(u"Arial"_s);
        w.setDefaultSize(20);
        // Attachments stand at their character positions; past the end, after the text.
        QList<const AttData*> atts;
        for (const AttData& a : std::as_const(d->atts))
            atts.append(&a);
        std::stable_sort(atts.begin(), atts.end(), [&](const AttData* a, const AttData* b) {
            const qsizetype pa = a->position < 0 ? body.size() : qMin<qsizetype>(a->position, body.size());
            const qsizetype pb = b->position < 0 ? body.size() : qMin<qsizetype>(b->position, body.size());
            return pa < pb;
        });
        w.beginParagraph();
        qsizetype at = 0;
        for (const AttData* a : atts) {
            const qsizetype pos = a->position < 0 ? body.size() : qMin<qsizetype>(a->position, body.size());
            w.text(body.mid(at, pos - at));
            at = pos;
            const QByteArray payload = "\\kvpos" + QByteArray::number(a->position) + " {\\*\\kvdisplayname " +
                                       platform::rtf::EscapeText(a->displayName) + "}{\\*\\kvfilename " +
                                       platform::rtf::EscapeText(a->fileName) + "}{\\*\\kvdata " +
                                       hexBytes(a->data) + "}";
            w.ignorableGroup(QByteArrayLiteral("kvattachment"), payload);
        }
        w.text(body.mid(at));
        w.endParagraph();
        bytes = w.toRtf();
    } else {
        return SetErr(ErrNo::InvalidArg, u"That file format is not available."_s);
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        return SetErr(ErrNo::Fail, u"Cannot save the file '%1'."_s.arg(path));
    return true;
}

Recipients Item::Recipients() const
{
    if (!check()) return {};
    if (d->isContact()) {
        SetErr(ErrNo::NotSupported, u"Object doesn't support this property or method"_s);
        return {};
    }
    loadRecipients(*d);
    kv::outlook::Recipients r;
    r.m_item = d;
    return r;
}

Attachments Item::Attachments() const
{
    if (!check()) return {};
    loadAttachments(*d);
    kv::outlook::Attachments a;
    a.m_item = d;
    return a;
}

QVariantMap Item::Snapshot() const
{
    if (!check()) return {};
    loadAttachments(*d);
    loadRecipients(*d);
    QVariantMap m;
    m.insert(u"messageClass"_s, d->messageClass);
    m.insert(u"folder"_s, d->folderId);
    m.insert(u"entryId"_s, EntryID());
    QVariantMap fields;
    for (int i = 0; i < MemberCount; ++i)
        if (members()[i].kinds & (d->isContact() ? ContactKind : MailKind))
            fields.insert(members()[i].name, d->fields[i]);
    m.insert(u"members"_s, fields);
    QVariantList props;
    for (const PropValue& p : std::as_const(d->props))
        props.append(QVariantMap{{u"name"_s, p.name}, {u"type"_s, p.type}, {u"value"_s, p.value}});
    m.insert(u"userProperties"_s, props);
    QVariantList atts;
    for (const AttData& a : std::as_const(d->atts))
        atts.append(QVariantMap{{u"type"_s, a.type},
                                {u"position"_s, a.position},
                                {u"displayName"_s, a.displayName},
                                {u"fileName"_s, a.fileName},
                                {u"data"_s, a.data}});
    m.insert(u"attachments"_s, atts);
    QVariantList recips;
    for (const RecipData& r : std::as_const(d->recips))
        recips.append(QVariantMap{{u"type"_s, r.type},
                                  {u"name"_s, r.name},
                                  {u"address"_s, r.address},
                                  {u"resolved"_s, r.resolved}});
    m.insert(u"recipients"_s, recips);
    return m;
}

// ---------------------------------------------------------------- UserProperties

int UserProperties::Count() const
{
    if (!m_item) return NothingErr();
    ClearErr();
    return static_cast<int>(m_item->props.size());
}

UserProperty UserProperties::Find(const QString& name) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    const PropValue* p = m_item->prop(name);
    if (!p) return {};
    UserProperty up;
    up.m_item = m_item;
    up.m_name = p->name;
    return up;
}

UserProperty UserProperties::Item(int index) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (index < 1 || index > m_item->props.size()) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    UserProperty up;
    up.m_item = m_item;
    up.m_name = m_item->props.at(index - 1).name;
    return up;
}

QString UserProperty::Name() const
{
    if (!m_item) return NothingErr(), QString();
    ClearErr();
    return m_name;
}

int UserProperty::Type() const
{
    if (!m_item) return NothingErr();
    ClearErr();
    const PropValue* p = m_item->prop(m_name);
    return p ? p->type : 0;
}

QVariant UserProperty::Value() const
{
    if (!m_item) return NothingErr(), QVariant();
    ClearErr();
    const PropValue* p = m_item->prop(m_name);
    return p ? p->value : QVariant();
}

bool UserProperty::setValue(const QVariant& value) const
{
    if (!m_item) return NothingErr();
    ClearErr();
    PropValue* p = m_item->prop(m_name);
    if (!p) return SetErr(ErrNo::NotFound, NotFoundText);
    QVariant converted;
    if (!detail::Coerce(p->type, value, &converted)) return SetErr(ErrNo::TypeMismatch, u"Type mismatch"_s);
    p->value = converted;
    p->dirty = true;
    return true;
}

// ---------------------------------------------------------------- Attachments

int Attachments::Count() const
{
    if (!m_item) return NothingErr();
    ClearErr();
    return static_cast<int>(m_item->atts.size());
}

Attachment Attachments::Add(const QString& source, int type, int position, const QString& displayName) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (type != olByValue) {
        SetErr(ErrNo::InvalidArg, u"Only attachments by value are available."_s);
        return {};
    }
    QFile f(source);
    if (source.isEmpty() || !QFileInfo(source).isFile() || !f.open(QIODevice::ReadOnly)) {
        SetErr(ErrNo::FileNotFound, u"Cannot find this file. Verify the path and file name are correct."_s);
        return {};
    }
    if (f.size() > MaxAttachmentBytes) {
        SetErr(ErrNo::InvalidArg, u"The file is too large to attach."_s);
        return {};
    }
    AttData a;
    a.type = type;
    a.position = position;
    a.fileName = QFileInfo(source).fileName();
    a.displayName = displayName.isEmpty() ? a.fileName : displayName;
    a.data = f.readAll();
    if (a.data.size() != f.size()) {
        SetErr(ErrNo::Fail, u"The file could not be read."_s);
        return {};
    }
    m_item->atts.append(a);
    m_item->attsDirty = true;
    Attachment att;
    att.m_item = m_item;
    att.m_index = static_cast<int>(m_item->atts.size());
    return att;
}

Attachment Attachments::Item(int index) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (index < 1 || index > m_item->atts.size()) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    Attachment att;
    att.m_item = m_item;
    att.m_index = index;
    return att;
}

bool Attachments::Remove(int index) const
{
    if (!m_item) return NothingErr();
    ClearErr();
    if (index < 1 || index > m_item->atts.size())
        return SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
    m_item->atts.removeAt(index - 1);
    m_item->attsDirty = true;
    return true;
}

namespace {
const AttData* attAt(const std::shared_ptr<ItemData>& item, int index)
{
    if (!item) {
        NothingErr();
        return nullptr;
    }
    ClearErr();
    if (index < 1 || index > item->atts.size()) {
        SetErr(ErrNo::NotFound, u"The attachment has been removed."_s);
        return nullptr;
    }
    return &item->atts.at(index - 1);
}
} // namespace

QString Attachment::DisplayName() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->displayName : QString();
}
QString Attachment::FileName() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->fileName : QString();
}
int Attachment::Position() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->position : 0;
}
int Attachment::Type() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->type : 0;
}
qint64 Attachment::Size() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->data.size() : 0;
}
QByteArray Attachment::Data() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->data : QByteArray();
}
bool Attachment::SaveAsFile(const QString& path) const
{
    const AttData* a = attAt(m_item, m_index);
    if (!a) return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(a->data) != a->data.size() || !f.commit())
        return SetErr(ErrNo::Fail, u"Cannot save the attachment to '%1'."_s.arg(path));
    return true;
}

// ---------------------------------------------------------------- Recipients

int Recipients::Count() const
{
    if (!m_item) return NothingErr();
    ClearErr();
    return static_cast<int>(m_item->recips.size());
}

Recipient Recipients::Add(const QString& name) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    // "a; b" names several recipients, as the address line does.
    const QStringList parts = name.split(u';', Qt::SkipEmptyParts);
    QStringList names;
    for (const QString& p : parts)
        if (!p.trimmed().isEmpty()) names.append(p.trimmed());
    if (names.isEmpty()) {
        SetErr(ErrNo::InvalidArg, u"There must be at least one name in the recipient."_s);
        return {};
    }
    const int first = static_cast<int>(m_item->recips.size()) + 1;
    for (const QString& n : names)
        m_item->recips.append({olTo, n, QString(), false});
    m_item->recipsDirty = true;
    Recipient r;
    r.m_item = m_item;
    r.m_index = first;
    return r;
}

Recipient Recipients::Item(int index) const
{
    if (!m_item) {
        NothingErr();
        return {};
    }
    ClearErr();
    if (index < 1 || index > m_item->recips.size()) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    Recipient r;
    r.m_item = m_item;
    r.m_index = index;
    return r;
}

bool Recipients::ResolveAll() const
{
    if (!m_item) return NothingErr();
    ClearErr();
    bool all = true;
    for (RecipData& r : m_item->recips) {
        if (!r.resolved && !resolveName(*m_item->app, r)) all = false;
    }
    m_item->recipsDirty = true;
    ClearErr();
    return all;
}

namespace {
RecipData* recipAt(const std::shared_ptr<ItemData>& item, int index)
{
    if (!item) {
        NothingErr();
        return nullptr;
    }
    ClearErr();
    if (index < 1 || index > item->recips.size()) {
        SetErr(ErrNo::NotFound, u"The recipient has been removed."_s);
        return nullptr;
    }
    return &item->recips[index - 1];
}
} // namespace

QString Recipient::Name() const
{
    const RecipData* r = recipAt(m_item, m_index);
    return r ? r->name : QString();
}
QString Recipient::Address() const
{
    const RecipData* r = recipAt(m_item, m_index);
    return r ? r->address : QString();
}
bool Recipient::Resolved() const
{
    const RecipData* r = recipAt(m_item, m_index);
    return r && r->resolved;
}
int Recipient::Type() const
{
    const RecipData* r = recipAt(m_item, m_index);
    return r ? r->type : 0;
}
bool Recipient::Resolve() const
{
    RecipData* r = recipAt(m_item, m_index);
    if (!r) return false;
    const bool ok = r->resolved || resolveName(*m_item->app, *r);
    m_item->recipsDirty = true;
    ClearErr();
    return ok;
}

// ---------------------------------------------------------------- forms

bool RegisterForm(const Application& app, const QString& messageClass, const QList<FormProperty>& properties)
{
    if (!app.d) return NothingErr();
    ClearErr();
    if (!validClass(messageClass)) return SetErr(ErrNo::InvalidArg, u"The message class is not valid."_s);
    QSet<QString> seen;
    for (const FormProperty& p : properties) {
        if (p.name.trimmed().isEmpty() || !detail::IsKnownPropertyType(p.type) ||
            seen.contains(p.name.toLower()))
            return SetErr(ErrNo::InvalidArg, u"The form's property \"%1\" is not valid."_s.arg(p.name));
        seen.insert(p.name.toLower());
    }
    if (!openStore(*app.d)) return false;
    Store& s = app.d->s();
    return s.write([&] {
        Query del(s, u"DELETE FROM forms WHERE message_class = ?"_s, {messageClass});
        Query ins(s, u"INSERT INTO forms (message_class) VALUES (?)"_s, {messageClass});
        if (!del.ok() || !ins.ok()) return false;
        int idx = 0;
        for (const FormProperty& p : properties) {
            Query q(s, u"INSERT INTO form_props (message_class, name, type, idx) VALUES (?, ?, ?, ?)"_s,
                    {messageClass, p.name, p.type, ++idx});
            if (!q.ok()) return false;
        }
        return true;
    });
}

bool UnregisterForm(const Application& app, const QString& messageClass)
{
    if (!app.d) return NothingErr();
    ClearErr();
    if (!openStore(*app.d)) return false;
    Store& s = app.d->s();
    return s.write([&] {
        Query q(s, u"DELETE FROM forms WHERE message_class = ?"_s, {messageClass});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::Exception, NotFoundText);
        return true;
    });
}

bool IsFormRegistered(const Application& app, const QString& messageClass)
{
    if (!app.d) return NothingErr();
    ClearErr();
    if (!openStore(*app.d)) return false;
    return formRegistered(app.d->s(), messageClass);
}

bool RegisterProductForms(const Application& app)
{
    return RegisterForm(app, QString::fromUtf16(KivaraContactClass),
                        {{u"QuillonName"_s, olText},
                         {u"UserStatus"_s, olText},
                         {u"LocalHost"_s, olText},
                         {u"LocalPort"_s, olNumber},
                         {u"SerialNumber"_s, olText}}) &&
           RegisterForm(app, QString::fromUtf16(KivaraMessageClass),
                        {{u"IPAddress"_s, olText},
                         {u"ChatName"_s, olText},
                         {u"Availability"_s, olText},
                         {u"MsgRead"_s, olYesNo}});
}

bool RegisterProductForms(const QString& storePath)
{
    return RegisterProductForms(Application(storePath));
}

} // namespace kv::outlook
