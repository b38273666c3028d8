#pragma once
// Reads and ages the items' save times in the simulated computer's store
// directly, so that a test can tell which items a step saved.
#include "Platform/Outlook/Store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace kv::test {

class StoreStamps {
public:
    static inline const QString OldStamp = QStringLiteral("2000-01-01T00:00:00.000");

    StoreStamps()
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Connection);
        m_db.setDatabaseName(outlook::DefaultStorePath());
        m_db.open();
    }
    ~StoreStamps()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(Connection);
    }
    StoreStamps(const StoreStamps&) = delete;
    StoreStamps& operator=(const StoreStamps&) = delete;

    // Marks every stored item as saved long ago.
    bool ageAll()
    {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("UPDATE items SET modified = ?"));
        q.addBindValue(OldStamp);
        return q.exec();
    }
    // The item's save time; empty when there is no such item.
    QString modified(const QString& entryId)
    {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("SELECT modified FROM items WHERE id = ?"));
        q.addBindValue(entryId.toLongLong());
        return q.exec() && q.next() ? q.value(0).toString() : QString();
    }
    // Whether the item was saved since ageAll().
    bool savedSince(const QString& entryId)
    {
        const QString stamp = modified(entryId);
        return !stamp.isEmpty() && stamp != OldStamp;
    }

private:
    static inline const QString Connection = QStringLiteral("kvtest-stamps");
    QSqlDatabase m_db;
};

} // namespace kv::test
