#pragma once
// An item's user properties: the ones its form defines and any it carries beyond.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QString>
#include <QVariant>
#include <memory>

namespace kv::outlook {

class UserProperty {
public:
    UserProperty() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString Name() const;
    int Type() const;
    QVariant Value() const;
    // Converted to the property's type; a value that does not convert fails with 13.
    bool setValue(const QVariant& value) const;

private:
    friend class UserProperties;
    std::shared_ptr<detail::ItemData> m_item;
    QString m_name;
};

class UserProperties {
public:
    UserProperties() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    // Nothing (and no error) when the item has no such property.
    UserProperty Find(const QString& name) const;
    UserProperty Item(int index) const; // 1-based

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

} // namespace kv::outlook
