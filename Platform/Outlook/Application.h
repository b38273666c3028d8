#pragma once
// The entry object: attaches to the mail host or opens a store file, and makes items.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <memory>

namespace kv::outlook {

class Application {
public:
    Application() = default;
    // A data-side application on a store file (set-up, tests, tools). Opening
    // is deferred: a store that cannot be opened fails the first call that needs it.
    explicit Application(const QString& storePath);

    // Attaches to the running instance; 429 when none runs.
    static Application GetObject();
    // Attaches, or starts an instance (bounded wait); 429 when that fails.
    static Application CreateObject();

    explicit operator bool() const { return d != nullptr; }
    bool operator==(const Application& o) const { return d == o.d; }

    NameSpace GetNamespace(const QString& type) const;
    Item CreateItem(int itemType) const;
    std::shared_ptr<Explorer> ActiveExplorer() const;
    std::shared_ptr<Inspector> ActiveInspector() const;

    QString StorePath() const;
    // Rebuilds an item handed over from another process (see Item::Snapshot).
    Item ItemFromSnapshot(const QVariantMap& snapshot) const;

private:
    friend class NameSpace;
    friend class MAPIFolder;
    friend class Item;
    friend bool RegisterForm(const Application&, const QString&, const QList<struct FormProperty>&);
    friend bool UnregisterForm(const Application&, const QString&);
    friend bool IsFormRegistered(const Application&, const QString&);
    std::shared_ptr<detail::AppData> d;
};

} // namespace kv::outlook
