#include "Platform/Outlook/NameSpace.h"

#include "Platform/Outlook/Application.h"
#include "Platform/Outlook/Folders.h"
#include "Platform/Outlook/Item.h"
#include "Platform/Outlook/MAPIFolder.h"
#include "Platform/Outlook/ObjectData.h"

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

namespace {
const QString UnknownText = u"Unknown"_s;
} // namespace

Folders NameSpace::Folders() const
{
    if (!Valid(d)) return {};
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
    if (!Valid(d)) return {};
    const passwd* pw = ::getpwuid(::getuid());
    return FullNameFromGecos(pw && pw->pw_gecos ? QString::fromLocal8Bit(pw->pw_gecos) : QString());
}

Item NameSpace::GetItemFromID(const QString& entryId) const
{
    if (!Valid(d)) return {};
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
    if (!Valid(d)) return {};
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
    if (!Valid(d)) return {};
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
        return insertFolder(s, id, id, DeletedItemsFolderName.toString(), olFolderDeletedItems) &&
               insertFolder(s, id, id, InboxFolderName.toString(), olFolderInbox) &&
               insertFolder(s, id, id, ContactsFolderName.toString(), olFolderContacts);
    });
    if (!ok) return {};
    return MAPIFolder(d, id);
}

bool NameSpace::RemoveStore(const QString& name) const
{
    if (!Valid(d)) return false;
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
    if (!Valid(d)) return false;
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

} // namespace kv::outlook
