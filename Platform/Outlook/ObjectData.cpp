#include "Platform/Outlook/ObjectData.h"

#include "Platform/Outlook/FormRegistry.h"
#include "Platform/Outlook/Values.h"

using namespace Qt::StringLiterals;

namespace kv::outlook::detail {

const QString NotFoundText = u"The operation failed. An object could not be found."_s;
const QString ItemGoneText =
    u"The operation cannot be performed because the item has been deleted or moved."_s;
const QString FolderGoneText = u"The folder is no longer available; it has been deleted or moved."_s;
const QString StoreOfflineText =
    u"The information store '%1' could not be opened: its server is not available. "
    u"You must connect to the network to access the information store."_s;

namespace {

QString memberColumns()
{
    QStringList cols;
    for (const Member& m : members())
        cols.append(m.column);
    return cols.join(u", "_s);
}

QList<FormProperty> formProperties(Store& s, const QString& cls)
{
    QList<FormProperty> list;
    Query q(s, u"SELECT name, type FROM form_props WHERE message_class = ? ORDER BY idx"_s, {cls});
    while (q.ok() && q.next())
        list.append({q.value(0).toString(), q.value(1).toInt()});
    return list;
}

} // namespace

const std::array<Member, MemberCount>& members()
{
    static const std::array<Member, MemberCount> list = {{
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

int memberIndex(const QString& name)
{
    for (int i = 0; i < MemberCount; ++i)
        if (members()[i].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
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

bool openStore(AppData& app)
{
    return app.s().ensureOpen();
}

QVariant nonNull(const QString& s)
{
    return s.isNull() ? QVariant(u""_s) : QVariant(s);
}

bool formRegistered(Store& s, const QString& cls)
{
    Query q(s, u"SELECT 1 FROM forms WHERE message_class = ?"_s, {cls});
    return q.ok() && q.next();
}


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

} // namespace kv::outlook::detail
