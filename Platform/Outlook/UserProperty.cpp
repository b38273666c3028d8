#include "Platform/Outlook/UserProperty.h"

#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/Values.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

int UserProperties::Count() const
{
    if (!Valid(m_item)) return 0;
    return static_cast<int>(m_item->props.size());
}

UserProperty UserProperties::Find(const QString& name) const
{
    if (!Valid(m_item)) return {};
    const PropValue* p = m_item->prop(name);
    if (!p) return {};
    UserProperty up;
    up.m_item = m_item;
    up.m_name = p->name;
    return up;
}

UserProperty UserProperties::Item(int index) const
{
    if (!Valid(m_item)) return {};
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
    if (!Valid(m_item)) return {};
    return m_name;
}

int UserProperty::Type() const
{
    if (!Valid(m_item)) return 0;
    const PropValue* p = m_item->prop(m_name);
    return p ? p->type : 0;
}

QVariant UserProperty::Value() const
{
    if (!Valid(m_item)) return {};
    const PropValue* p = m_item->prop(m_name);
    return p ? p->value : QVariant();
}

bool UserProperty::setValue(const QVariant& value) const
{
    if (!Valid(m_item)) return false;
    PropValue* p = m_item->prop(m_name);
    if (!p) return SetErr(ErrNo::NotFound, NotFoundText);
    QVariant converted;
    if (!detail::Coerce(p->type, value, &converted)) return SetErr(ErrNo::TypeMismatch, u"Type mismatch"_s);
    p->value = converted;
    p->dirty = true;
    return true;
}

} // namespace kv::outlook
