#include "Platform/Outlook/MAPIFolder.h"

#include "Platform/Outlook/Application.h"
#include "Platform/Outlook/Folders.h"
#include "Platform/Outlook/Items.h"
#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/WindowSide.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

bool MAPIFolder::operator==(const MAPIFolder& o) const
{
    const bool sameStore = (m_app && o.m_app) ? m_app->store == o.m_app->store : m_app == o.m_app;
    return sameStore && m_id == o.m_id;
}

bool MAPIFolder::check(bool needOnline) const
{
    if (!Valid(m_app)) return false;
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

} // namespace kv::outlook
