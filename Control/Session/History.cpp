#include "Control/Session/History.h"

#include "Control/Session/Log.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {

// time and room are kept, not indexed: searches look at who said what.
constexpr QStringView Schema =
    u"CREATE VIRTUAL TABLE IF NOT EXISTS line USING fts5(time UNINDEXED, room UNINDEXED, sender, text)";
constexpr QStringView Columns = u"SELECT rowid, time, room, sender, text FROM line ";
// Waiting for another process's write longer than this would stall the transcript.
constexpr QStringView ConnectOptions = u"QSQLITE_BUSY_TIMEOUT=1000";

HistoryLine LineOf(const QSqlQuery& q)
{
    return {q.value(0).toLongLong(), QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong()),
            q.value(2).toString(), q.value(3).toString(), q.value(4).toString()};
}

QList<HistoryLine> Lines(QSqlQuery& q)
{
    QList<HistoryLine> lines;
    while (q.next())
        lines << LineOf(q);
    return lines;
}

} // namespace

std::shared_ptr<History> History::forPath(const QString& path)
{
    static QHash<QString, std::weak_ptr<History>> shared;
    std::shared_ptr<History> history = shared.value(path).lock();
    if (!history) {
        history.reset(new History(path));
        shared.insert(path, history);
    }
    return history;
}

std::shared_ptr<History> History::user()
{
    return forPath(HistoryFolder() + u'/' + HistoryFileName.toString());
}

// The library may be linked into a process twice (the host and the control it loads),
// each copy with its own objects: the address keeps the connection names apart.
History::History(const QString& path)
    : m_path(path), m_connection(u"kivara-history-%1"_s.arg(quintptr(this), 0, 16))
{
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(HistoryWriteDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, &History::flush);
}

History::~History()
{
    flush();
    if (!m_db.isValid()) return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

void History::add(const QString& room, const QString& sender, const QString& text)
{
    if (m_broken) return;
    m_pending.append({0, QDateTime::currentDateTimeUtc(), room, sender, text});
    if (!m_writeTimer.isActive()) m_writeTimer.start();
}

bool History::unusable(const QString& why)
{
    qCWarning(lcControl) << "history not kept in" << m_path << ":" << why;
    m_broken = true;
    m_pending.clear();
    if (m_db.isValid()) m_db.close();
    return false;
}

bool History::open(bool create)
{
    if (m_broken) return false;
    if (m_db.isOpen()) return true;
    if (!create && !QFileInfo::exists(m_path)) return false;
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) return unusable(u"its folder cannot be made"_s);
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
        m_db.setDatabaseName(m_path);
        m_db.setConnectOptions(ConnectOptions.toString());
    }
    if (!m_db.open()) return unusable(m_db.lastError().text());
    QSqlQuery q(m_db);
    if (!q.exec(u"PRAGMA journal_mode=WAL"_s) || !q.exec(u"PRAGMA synchronous=NORMAL"_s))
        return unusable(q.lastError().text());
    // An SQLite built without FTS5 has no such module: the history is then not kept.
    if (!q.exec(Schema.toString())) {
        const QString error = q.lastError().text();
        return unusable(error.contains(u"fts5"_s) ? u"this SQLite has no full-text index (FTS5)"_s : error);
    }
    return true;
}

bool History::flush()
{
    m_writeTimer.stop();
    if (m_pending.isEmpty()) return !m_broken;
    // Read again here: Keep history turned off in one form's options holds at once for the
    // sessions of every other form, which read their settings only when their own options close.
    if (!ReadFlag(Deliverable::Quillon, settings::KeepHistory)) {
        m_pending.clear();
        return true;
    }
    if (!open(true)) return false;
    const QList<HistoryLine> lines = std::exchange(m_pending, {});
    if (!m_db.transaction()) {
        qCWarning(lcControl) << "history:" << lines.size() << "lines not kept:" << m_db.lastError().text();
        return false;
    }
    QSqlQuery q(m_db);
    q.prepare(u"INSERT INTO line (time, room, sender, text) VALUES (?, ?, ?, ?)"_s);
    for (const HistoryLine& l : lines) {
        q.addBindValue(l.time.toMSecsSinceEpoch());
        q.addBindValue(l.room);
        q.addBindValue(l.sender);
        q.addBindValue(l.text);
        if (!q.exec()) {
            qCWarning(lcControl) << "history:" << lines.size() << "lines not kept:" << q.lastError().text();
            m_db.rollback();
            return false;
        }
    }
    if (m_db.commit()) return true;
    qCWarning(lcControl) << "history:" << lines.size() << "lines not kept:" << m_db.lastError().text();
    m_db.rollback();
    return false;
}

QString History::MatchQuery(const QString& words)
{
    static const QRegularExpression space(u"\\s+"_s);
    QStringList phrases;
    for (QString word : words.split(space, Qt::SkipEmptyParts))
        phrases << u'"' + word.replace(u'"', u"\"\""_s) + u'"';
    return phrases.join(u' ');
}

QList<HistoryLine> History::search(const QString& words)
{
    const QString match = MatchQuery(words);
    if (match.isEmpty()) return {};
    flush();
    if (!open(false)) return {};
    QSqlQuery q(m_db);
    q.prepare(Columns.toString() + u"WHERE line MATCH ? ORDER BY rowid DESC LIMIT ?"_s);
    q.addBindValue(match);
    q.addBindValue(HistorySearchLimit);
    if (!q.exec()) return {};
    return Lines(q);
}

QList<HistoryLine> History::context(qint64 id)
{
    flush();
    if (!open(false)) return {};
    QSqlQuery q(m_db);
    q.prepare(u"SELECT room FROM line WHERE rowid = ?"_s);
    q.addBindValue(id);
    if (!q.exec() || !q.next()) return {};
    const QString room = q.value(0).toString();
    q.finish();
    q.prepare(Columns.toString() + u"WHERE room = ? AND rowid < ? ORDER BY rowid DESC LIMIT ?"_s);
    for (const QVariant& v : {QVariant(room), QVariant(id), QVariant(HistoryContextLines)})
        q.addBindValue(v);
    if (!q.exec()) return {};
    QList<HistoryLine> lines = Lines(q);
    std::reverse(lines.begin(), lines.end());
    q.prepare(Columns.toString() + u"WHERE room = ? AND rowid >= ? ORDER BY rowid LIMIT ?"_s);
    for (const QVariant& v : {QVariant(room), QVariant(id), QVariant(HistoryContextLines + 1)})
        q.addBindValue(v);
    if (!q.exec()) return {};
    return lines + Lines(q);
}

bool History::clear()
{
    m_pending.clear();
    m_writeTimer.stop();
    if (!open(false)) return !m_broken;
    QSqlQuery q(m_db);
    // Emptied, then compacted and checkpointed, so no deleted line lingers in the file's free pages or log.
    return q.exec(u"DELETE FROM line"_s) && q.exec(u"VACUUM"_s) &&
           q.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s);
}

} // namespace kv::control
