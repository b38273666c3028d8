#pragma once
// A mail item's recipients, resolved against the contacts of the store.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QString>
#include <memory>

namespace kv::outlook {

class Recipient {
public:
    Recipient() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString Name() const;
    QString Address() const;
    bool Resolved() const;
    int Type() const;
    bool Resolve() const;

private:
    friend class Recipients;
    std::shared_ptr<detail::ItemData> m_item;
    int m_index = 0;
};

class Recipients {
public:
    Recipients() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    Recipient Add(const QString& name) const;
    Recipient Item(int index) const; // 1-based
    // True when every recipient resolved: an address, or the name or e-mail
    // address of a contact in a contacts folder.
    bool ResolveAll() const;

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

} // namespace kv::outlook
