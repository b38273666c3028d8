#pragma once
// A folder of a store; the handle names the folder row, so renames and moves show.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QString>
#include <memory>

namespace kv::outlook {

class MAPIFolder {
public:
    MAPIFolder() = default;
    explicit operator bool() const { return m_app != nullptr; }
    bool operator==(const MAPIFolder& o) const;

    QString Name() const;
    bool setName(const QString& name) const; // a sibling of that name fails with 80040604
    QString DefaultMessageClass() const;
    int DefaultItemType() const; // the OlFolderType it was made as
    kv::outlook::Folders Folders() const;
    kv::outlook::Items Items() const;
    // The folder above; Nothing for an information store (its parent is the NameSpace).
    MAPIFolder Parent() const;
    bool IsStore() const;
    QString EntryID() const;
    std::shared_ptr<Explorer> GetExplorer(int displayMode = 0) const;
    kv::outlook::Application Application() const;

    qint64 id() const { return m_id; }

private:
    friend class Folders;
    friend class NameSpace;
    friend class Items;
    friend class Item;
    friend class Application;
    MAPIFolder(std::shared_ptr<detail::AppData> app, qint64 id) : m_app(std::move(app)), m_id(id) {}
    bool check(bool needOnline = true) const; // clears Err; fails when gone or offline

    std::shared_ptr<detail::AppData> m_app;
    qint64 m_id = 0;
};

} // namespace kv::outlook
