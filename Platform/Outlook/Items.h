#pragma once
// A folder's items, optionally restricted by a filter.
#include "Platform/Outlook/Item.h"

#include <QList>
#include <QString>
#include <memory>

namespace kv::outlook {

class Items {
public:
    Items() = default;
    explicit operator bool() const { return d != nullptr; }

    int Count() const;
    kv::outlook::Item Item(int index) const; // 1-based, in iteration order
    kv::outlook::Item operator()(int index) const { return Item(index); }
    // The first item matching "[Name] = 'value'" (a quote in the value
    // doubled), "[Name] = True|False" or "[Name] = number"; Nothing when none
    // matches. Any other filter fails with 80020009.
    kv::outlook::Item Find(const QString& filter) const;
    kv::outlook::Item FindNext() const;
    // The items matching the filter, as a collection (Count is one query).
    Items Restrict(const QString& filter) const;
    // A new, unsaved item of the class (empty: the folder's default class),
    // or Nothing when the class's form is not registered.
    kv::outlook::Item Add(const QString& messageClass = {}) const;

    // Iteration in a stable order (the order items were created), in pages,
    // so that changing or removing items while iterating is safe.
    class iterator {
    public:
        kv::outlook::Item operator*() const;
        iterator& operator++();
        bool operator==(const iterator& o) const { return m_done == o.m_done && (m_done || m_id == o.m_id); }
        bool operator!=(const iterator& o) const { return !(*this == o); }

    private:
        friend class Items;
        void fill();
        std::shared_ptr<detail::ItemsData> m_items;
        QList<qint64> m_page;
        int m_pos = 0;
        qint64 m_id = 0;
        bool m_done = true;
    };
    iterator begin() const;
    iterator end() const { return {}; }

private:
    friend class MAPIFolder;
    bool check() const; // clears Err; fails when Nothing, or its folder is gone or offline

    std::shared_ptr<detail::ItemsData> d;
};

} // namespace kv::outlook
