#include "Platform/Outlook/Items.h"

#include "Platform/Outlook/Filter.h"
#include "Platform/Outlook/MAPIFolder.h"
#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/Values.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

namespace {

// Standard forms every store has; other classes need a registered form.
bool isStandardClass(const QString& cls)
{
    static const QStringList standard = {
        u"IPM"_s,      u"IPM.Note"_s,       u"IPM.Contact"_s,  u"IPM.Post"_s,    u"IPM.Appointment"_s,
        u"IPM.Task"_s, u"IPM.StickyNote"_s, u"IPM.Activity"_s, u"IPM.DistList"_s};
    return standard.contains(cls, Qt::CaseInsensitive);
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

} // namespace

bool Items::check() const
{
    return Valid(d) && MAPIFolder(d->app, d->folderId).check();
}

int Items::Count() const
{
    if (!check()) return 0;
    return countIds(d->app->s(), d->folderId, d->filter ? &*d->filter : nullptr);
}

Item Items::Item(int index) const
{
    if (!check()) return {};
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
    if (!check()) return {};
    std::optional<detail::Filter> f = compileFilter(d->app->s(), d->folderId, filter);
    if (!f) return {};
    d->findFilter = f;
    d->findAfter = 0;
    return FindNext();
}

Item Items::FindNext() const
{
    if (!check()) return {};
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
    if (!check()) return {};
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
    if (!check()) return {};
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
    if (!check()) return it;
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
    if (!Valid(!m_done)) return {};
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

} // namespace kv::outlook
