#include "Platform/Outlook/Recipient.h"

#include "Platform/Outlook/ObjectData.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

namespace {

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

} // namespace

int Recipients::Count() const
{
    if (!Valid(m_item)) return 0;
    return static_cast<int>(m_item->recips.size());
}

Recipient Recipients::Add(const QString& name) const
{
    if (!Valid(m_item)) return {};
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
    if (!Valid(m_item)) return {};
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
    if (!Valid(m_item)) return false;
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
    if (!Valid(item)) return nullptr;
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

} // namespace kv::outlook
