#pragma once
// The folders under a folder, or the information stores under the NameSpace.
#include "Platform/Outlook/MAPIFolder.h"

#include <QList>
#include <QString>
#include <memory>

namespace kv::outlook {

class Folders {
public:
    Folders() = default;
    explicit operator bool() const { return m_app != nullptr; }

    int Count() const;
    // By name (case-insensitive): not found fails with 80020009.
    MAPIFolder Item(const QString& name) const;
    // By position, 1-based: out of range fails with 8004010F.
    MAPIFolder Item(int index) const;
    MAPIFolder operator()(const QString& name) const { return Item(name); }
    MAPIFolder operator()(int index) const { return Item(index); }
    // type: olFolderContacts (10), olFolderInbox (6), ...; -1 takes the parent's.
    // An existing name fails with 80020009.
    MAPIFolder Add(const QString& name, int type = -1) const;
    QList<MAPIFolder> toList() const;

private:
    friend class NameSpace;
    friend class MAPIFolder;
    bool check() const; // clears Err; fails when Nothing or the parent folder is gone

    std::shared_ptr<detail::AppData> m_app;
    qint64 m_parent = 0; // 0: the NameSpace's stores
};

} // namespace kv::outlook
