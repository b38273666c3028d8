#include "Platform/Outlook/Item.h"

#include "Platform/Outlook/Attachment.h"
#include "Platform/Outlook/MAPIFolder.h"
#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/Recipient.h"
#include "Platform/Outlook/UserProperty.h"
#include "Platform/Outlook/Values.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Rtf.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

namespace {

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
    if (const qint64 id = childFolder(s, storeId, DraftsFolderName.toString())) return id;
    return insertFolder(s, storeId, storeId, DraftsFolderName.toString(), olFolderDrafts);
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

QByteArray hexBytes(const QByteArray& data)
{
    return data.toHex();
}

} // namespace

bool Item::check() const
{
    return Valid(d);
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
    constexpr qint64 MaxSignatureBytes = 2 * qint64(Attachments::MaxAttachmentBytes) + qint64(1024) * 1024;
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

} // namespace kv::outlook
