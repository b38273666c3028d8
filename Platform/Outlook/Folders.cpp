#include "Platform/Outlook/Folders.h"

#include "Platform/Outlook/ObjectData.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

bool Folders::check() const
{
    return Valid(m_app) && (m_parent == 0 || MAPIFolder(m_app, m_parent).check()) && openStore(*m_app);
}

int Folders::Count() const
{
    if (!check()) return 0;
    Query q(m_app->s(),
            m_parent == 0 ? u"SELECT count(*) FROM folders WHERE parent_id IS NULL"_s
                          : u"SELECT count(*) FROM folders WHERE parent_id = ?"_s,
            m_parent == 0 ? QVariantList{} : QVariantList{m_parent});
    return q.ok() && q.next() ? q.value(0).toInt() : 0;
}

MAPIFolder Folders::Item(const QString& name) const
{
    if (!check()) return {};
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
    if (!check()) return {};
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
    if (!Valid(m_app)) return {};
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

} // namespace kv::outlook
