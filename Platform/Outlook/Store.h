#pragma once
// The SQLite file behind the object model. One connection per file and
// thread, shared by every object of that thread; several processes share the
// file (WAL, busy timeout, every write in BEGIN IMMEDIATE).
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace kv::outlook {

// $XDG_DATA_HOME/kivara/outlook/store.sqlite
QString DefaultStorePath();
// Where the mail host keeps the user's signatures (rich-text files):
// $XDG_DATA_HOME/kivara/Application Data/Microsoft/Shared/Signatures
QString SignaturesFolder();

class Store {
public:
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // The thread's connection to the file (created on first use, opened lazily).
    static std::shared_ptr<Store> forPath(const QString& path);

    const QString& path() const { return m_path; }

    // Opens the file and brings its schema up to date. A file that is not a
    // store, is damaged or cannot be read fails with 8004011D and says why;
    // such a file is never written. Retried at every call until it succeeds.
    bool ensureOpen();

    // A prepared statement, cached per text. Callers bind, exec, read, and
    // must let it finish (Query does) so that no read stays open.
    QSqlQuery& prepared(const QString& sql);

    // Runs body inside BEGIN IMMEDIATE ... COMMIT; rolls back when it returns
    // false or the commit fails. Not re-entrant.
    bool write(const std::function<bool()>& body);
    bool inWrite() const { return m_inWrite; }

    // Records a failed statement as the thread's error; returns false.
    bool sqlFailed(const QSqlQuery& q);

    // Maintenance and tests.
    QString integrityCheck();
    int schemaVersion();
    static int latestSchemaVersion();
    // Applies the numbered migrations up to target (tests build older stores with it).
    static bool migrate(QSqlDatabase& db, int target, QString* error);

    static inline const QString BusyTimeoutMs = QStringLiteral("5000");

private:
    explicit Store(const QString& path);
    bool openFailed(const QString& why);

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    bool m_open = false;
    bool m_inWrite = false;
    QHash<QString, QSqlQuery> m_queries;
};

// Runs one cached statement with its values bound; finishes it on scope exit.
class Query {
public:
    Query(Store& store, const QString& sql, const QVariantList& values = {});
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool ok() const { return m_ok; }
    bool next() { return m_q.next(); }
    QVariant value(int i) const { return m_q.value(i); }
    qint64 lastInsertId() const { return m_q.lastInsertId().toLongLong(); }
    int rowsAffected() const { return m_q.numRowsAffected(); }

private:
    QSqlQuery& m_q;
    bool m_ok = false;
};

} // namespace kv::outlook
