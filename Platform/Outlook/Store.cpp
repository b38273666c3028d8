#include "Platform/Outlook/Store.h"

#include "Platform/Outlook/OlError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace kv::outlook {

namespace {

constexpr int SqliteHeaderSize = 100;
constexpr int MaxBusyRetries = 3; // on top of the busy timeout, for locks the busy handler does not wait on

thread_local QHash<QString, std::weak_ptr<Store>> t_stores;
int g_connectionCounter = 0;

// Looks at the file's header before SQLite does, so that a damaged or foreign
// file is reported (and left alone) instead of being opened and migrated.
bool precheck(const QString& path, QString* why)
{
    QFileInfo info(path);
    if (!info.exists()) return true;
    if (info.size() == 0) return true; // created but never written: a new store
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = u"the file cannot be read"_s;
        return false;
    }
    const QByteArray header = f.read(SqliteHeaderSize);
    if (header.size() < SqliteHeaderSize) {
        *why = u"the file is damaged (it is shorter than a store file header)"_s;
        return false;
    }
    if (!header.startsWith(QByteArrayLiteral("SQLite format 3\0"))) {
        *why = u"the file is not a store file"_s;
        return false;
    }
    const auto* h = reinterpret_cast<const uchar*>(header.constData());
    qint64 pageSize = qFromBigEndian<quint16>(h + 16);
    if (pageSize == 1) pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
        *why = u"the file is damaged (invalid page size)"_s;
        return false;
    }
    const quint32 changeCounter = qFromBigEndian<quint32>(h + 24);
    const quint32 pageCount = qFromBigEndian<quint32>(h + 28);
    const quint32 validFor = qFromBigEndian<quint32>(h + 92);
    // With a write-ahead log present the file may legitimately lag (an
    // interrupted checkpoint); SQLite recovers that case itself.
    const QFileInfo wal(path + u"-wal"_s);
    const bool walHasContent = wal.exists() && wal.size() > 0;
    if (!walHasContent && pageCount > 0 && changeCounter == validFor && info.size() < pageCount * pageSize) {
        *why = u"the file is damaged (it has been truncated)"_s;
        return false;
    }
    return true;
}

struct Migration {
    int version;
    QStringList statements;
};

// Numbered migrations: a store records the last one applied (user_version),
// so an older store opens in a newer program. Never edit a shipped step.
const QList<Migration>& migrations()
{
    static const QList<Migration> list = {
        {1,
         {
             // Information stores are the top-level folders (parent_id NULL); store_id
             // names the top-level folder every folder belongs to.
             u"CREATE TABLE folders ("
             u" id INTEGER PRIMARY KEY AUTOINCREMENT,"
             u" parent_id INTEGER REFERENCES folders(id) ON DELETE CASCADE,"
             u" store_id INTEGER,"
             u" name TEXT NOT NULL,"
             u" type INTEGER NOT NULL,"
             u" default_class TEXT NOT NULL,"
             u" online INTEGER NOT NULL DEFAULT 1)"_s,
             u"CREATE TABLE items ("
             u" id INTEGER PRIMARY KEY AUTOINCREMENT,"
             u" folder_id INTEGER NOT NULL REFERENCES folders(id) ON DELETE CASCADE,"
             u" message_class TEXT NOT NULL,"
             u" full_name TEXT NOT NULL DEFAULT '', file_as TEXT NOT NULL DEFAULT '',"
             u" company_name TEXT NOT NULL DEFAULT '', email1_address TEXT NOT NULL DEFAULT '',"
             u" business_city TEXT NOT NULL DEFAULT '', business_state TEXT NOT NULL DEFAULT '',"
             u" business_country TEXT NOT NULL DEFAULT '', nick_name TEXT NOT NULL DEFAULT '',"
             u" body TEXT NOT NULL DEFAULT '', subject TEXT NOT NULL DEFAULT '',"
             u" sent_on_behalf_of_name TEXT NOT NULL DEFAULT '',"
             u" created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%f','now')),"
             u" modified TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%f','now')))"_s,
             // folder_id is repeated here so that Find and counts by property stay on one index.
             u"CREATE TABLE item_props ("
             u" item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,"
             u" folder_id INTEGER NOT NULL,"
             u" name TEXT NOT NULL COLLATE NOCASE,"
             u" type INTEGER NOT NULL,"
             u" value COLLATE NOCASE,"
             u" PRIMARY KEY (item_id, name)) WITHOUT ROWID"_s,
             u"CREATE TABLE attachments ("
             u" id INTEGER PRIMARY KEY AUTOINCREMENT,"
             u" item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,"
             u" idx INTEGER NOT NULL, type INTEGER NOT NULL, position INTEGER NOT NULL,"
             u" display_name TEXT NOT NULL, file_name TEXT NOT NULL, data BLOB NOT NULL)"_s,
             u"CREATE TABLE recipients ("
             u" id INTEGER PRIMARY KEY AUTOINCREMENT,"
             u" item_id INTEGER NOT NULL REFERENCES items(id) ON DELETE CASCADE,"
             u" idx INTEGER NOT NULL, type INTEGER NOT NULL, name TEXT NOT NULL,"
             u" address TEXT NOT NULL, resolved INTEGER NOT NULL)"_s,
             u"CREATE TABLE forms ("
             u" message_class TEXT PRIMARY KEY COLLATE NOCASE)"_s,
             u"CREATE TABLE form_props ("
             u" message_class TEXT NOT NULL COLLATE NOCASE REFERENCES forms(message_class) ON DELETE CASCADE,"
             u" name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, idx INTEGER NOT NULL,"
             u" PRIMARY KEY (message_class, name))"_s,
             // A new mail profile: one personal store with its standard folders.
             u"INSERT INTO folders (id, parent_id, store_id, name, type, default_class)"
             u" VALUES (1, NULL, 1, 'Personal Folders', 6, 'IPM.Note')"_s,
             u"INSERT INTO folders (parent_id, store_id, name, type, default_class) VALUES"
             u" (1, 1, 'Deleted Items', 3, 'IPM.Note'),"
             u" (1, 1, 'Inbox', 6, 'IPM.Note'),"
             u" (1, 1, 'Contacts', 10, 'IPM.Contact')"_s,
         }},
        {2,
         {
             u"CREATE INDEX folders_by_parent ON folders(parent_id, name COLLATE NOCASE)"_s,
             u"CREATE INDEX items_by_folder ON items(folder_id)"_s,
             u"CREATE INDEX props_by_value ON item_props(folder_id, name, value)"_s,
             u"CREATE INDEX attachments_by_item ON attachments(item_id, idx)"_s,
             u"CREATE INDEX recipients_by_item ON recipients(item_id, idx)"_s,
         }},
    };
    return list;
}

bool execRaw(QSqlDatabase& db, const QString& sql, QString* error = nullptr)
{
    QSqlQuery q(db);
    if (q.exec(sql)) {
        while (q.next()) {
        }
        q.finish();
        return true;
    }
    if (error) *error = q.lastError().text();
    return false;
}

QVariant scalar(QSqlDatabase& db, const QString& sql, QString* error = nullptr)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        if (error) *error = q.lastError().text();
        return {};
    }
    QVariant v = q.next() ? q.value(0) : QVariant();
    q.finish();
    return v;
}

bool isBusy(const QString& text)
{
    return text.contains(u"locked"_s) || text.contains(u"busy"_s, Qt::CaseInsensitive);
}

bool beginImmediate(QSqlDatabase& db, QString* error)
{
    for (int attempt = 0;; ++attempt) {
        if (execRaw(db, u"BEGIN IMMEDIATE"_s, error)) return true;
        if (!isBusy(*error) || attempt >= MaxBusyRetries) return false;
        QThread::msleep(10u << attempt);
    }
}

} // namespace

QString DefaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/kivara/outlook/store.sqlite"_s;
}

QString SignaturesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/kivara/Application Data/Microsoft/Shared/Signatures"_s;
}

// Connection names are process-wide, but this library may be linked into a
// process more than once (the host and the control library it loads), each
// copy with its own counter: the object's address keeps the names apart.
Store::Store(const QString& path)
    : m_path(path), m_connection(u"kvoutlook-%1-%2"_s.arg(quintptr(this), 0, 16).arg(++g_connectionCounter))
{}

Store::~Store()
{
    m_queries.clear();
    if (m_db.isValid()) m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

std::shared_ptr<Store> Store::forPath(const QString& path)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    if (auto existing = t_stores.value(key).lock()) return existing;
    std::shared_ptr<Store> store(new Store(key));
    t_stores.insert(key, store);
    return store;
}

bool Store::openFailed(const QString& why)
{
    m_queries.clear();
    if (m_db.isValid()) m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    return detail::SetErr(ErrNo::StoreFailed,
                          u"The information store file '%1' could not be opened: %2."_s.arg(m_path, why));
}

bool Store::ensureOpen()
{
    if (m_open) return true;
    QString why;
    if (!precheck(m_path, &why)) return openFailed(why);
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return openFailed(u"its folder cannot be created"_s);

    m_db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT="_s + BusyTimeoutMs);
    if (!m_db.open()) return openFailed(u"the file cannot be read (%1)"_s.arg(m_db.lastError().text()));

    QString error;
    // Reading the schema is the first thing that fails on a file SQLite cannot use.
    if (!scalar(m_db, u"SELECT count(*) FROM sqlite_master"_s, &error).isValid())
        return openFailed(u"the file is not a store file or is damaged (%1)"_s.arg(error));
    const QString mode = scalar(m_db, u"PRAGMA journal_mode=WAL"_s, &error).toString();
    if (mode.compare(u"wal"_s, Qt::CaseInsensitive) != 0)
        return openFailed(u"the file cannot be shared (%1)"_s.arg(error.isEmpty() ? mode : error));
    if (!execRaw(m_db, u"PRAGMA synchronous=NORMAL"_s, &error) ||
        !execRaw(m_db, u"PRAGMA foreign_keys=ON"_s, &error))
        return openFailed(error);

    const int version = scalar(m_db, u"PRAGMA user_version"_s).toInt();
    if (version > latestSchemaVersion())
        return openFailed(u"it was made by a newer version of the program"_s);
    if (version < latestSchemaVersion() && !migrate(m_db, latestSchemaVersion(), &error))
        return openFailed(u"its layout could not be updated (%1)"_s.arg(error));
    m_open = true;
    return true;
}

int Store::latestSchemaVersion()
{
    return migrations().last().version;
}

bool Store::migrate(QSqlDatabase& db, int target, QString* error)
{
    if (!beginImmediate(db, error)) return false;
    // Another process may have migrated while this one waited for the lock.
    const int version = scalar(db, u"PRAGMA user_version"_s).toInt();
    for (const Migration& m : migrations()) {
        if (m.version <= version || m.version > target) continue;
        for (const QString& sql : m.statements) {
            if (!execRaw(db, sql, error)) {
                execRaw(db, u"ROLLBACK"_s);
                return false;
            }
        }
        if (!execRaw(db, u"PRAGMA user_version=%1"_s.arg(m.version), error)) {
            execRaw(db, u"ROLLBACK"_s);
            return false;
        }
    }
    if (!execRaw(db, u"COMMIT"_s, error)) {
        execRaw(db, u"ROLLBACK"_s);
        return false;
    }
    return true;
}

QSqlQuery& Store::prepared(const QString& sql)
{
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        q.prepare(sql);
        it = m_queries.insert(sql, q);
    }
    return it.value();
}

bool Store::write(const std::function<bool()>& body)
{
    if (!ensureOpen()) return false;
    Q_ASSERT(!m_inWrite);
    QString error;
    if (!beginImmediate(m_db, &error))
        return detail::SetErr(isBusy(error) ? ErrNo::Fail : ErrNo::StoreFailed,
                              u"The information store is busy: "_s + error);
    m_inWrite = true;
    const bool ok = body();
    m_inWrite = false;
    if (!ok) {
        execRaw(m_db, u"ROLLBACK"_s);
        return false;
    }
    if (!execRaw(m_db, u"COMMIT"_s, &error)) {
        execRaw(m_db, u"ROLLBACK"_s);
        return detail::SetErr(ErrNo::StoreFailed, u"The change could not be saved: "_s + error);
    }
    return true;
}

bool Store::sqlFailed(const QSqlQuery& q)
{
    const QString text = q.lastError().text();
    const bool damaged = text.contains(u"malformed"_s) || text.contains(u"not a database"_s);
    return detail::SetErr(damaged ? ErrNo::StoreFailed : ErrNo::Exception,
                          u"The information store reported an error: "_s + text);
}

QString Store::integrityCheck()
{
    if (!ensureOpen()) return Err().Description;
    return scalar(m_db, u"PRAGMA integrity_check"_s).toString();
}

int Store::schemaVersion()
{
    if (!ensureOpen()) return -1;
    return scalar(m_db, u"PRAGMA user_version"_s).toInt();
}

Query::Query(Store& store, const QString& sql, const QVariantList& values) : m_q(store.prepared(sql))
{
    for (int i = 0; i < values.size(); ++i)
        m_q.bindValue(i, values[i]);
    m_ok = m_q.exec();
    if (!m_ok) store.sqlFailed(m_q);
}

Query::~Query()
{
    m_q.finish();
}

} // namespace kv::outlook
