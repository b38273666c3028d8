#pragma once
// The conversation history: every chat and notice line a room shows, kept in the
// user's data folder in SQLite with a full-text index (FTS5), to be searched later.
// Lines are queued as they are shown and written together a moment later in one
// transaction, so a burst of lines costs the transcript next to nothing.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>
#include <memory>

namespace kv::control {

// The file in HistoryFolder().
inline constexpr QStringView HistoryFileName = u"history.sqlite";
// How long shown lines wait to be written together, in milliseconds.
inline constexpr int HistoryWriteDelayMs = 250;
// The most lines a search lists, newest first.
inline constexpr int HistorySearchLimit = 500;
// Lines of the same room shown before and after a found one.
inline constexpr int HistoryContextLines = 10;

struct HistoryLine {
    qint64 id = 0;
    QDateTime time;
    QString room;   // the room's caption when the line was shown
    QString sender; // as shown: a notice's name in brackets
    QString text;
};

class History : public QObject {
    Q_OBJECT
public:
    // One object per file in a process, shared by every session and dialog using it,
    // so clearing also drops the lines still waiting to be written.
    static std::shared_ptr<History> forPath(const QString& path);
    // The user's history in the data folder.
    static std::shared_ptr<History> user();
    ~History() override;
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    const QString& path() const { return m_path; }
    // A line shown now in room; written within HistoryWriteDelayMs.
    void add(const QString& room, const QString& sender, const QString& text);
    // Writes the waiting lines in one transaction. False when they could not be kept.
    bool flush();
    // Lines whose sender or text holds every word of words, each word taken literally; newest first.
    QList<HistoryLine> search(const QString& words);
    // The line with that id among up to HistoryContextLines lines before and after it in its room.
    QList<HistoryLine> context(qint64 id);
    // Deletes every line, kept or waiting. False when the file could not be emptied.
    bool clear();
    // The full-text query for words: each word one quoted phrase, so nothing typed is an
    // operator or breaks the query's syntax. Empty when there is no word.
    static QString MatchQuery(const QString& words);

private:
    explicit History(const QString& path);
    // Opens the file; create: make it (and its folder) when missing. A file that cannot
    // be used is told once as a warning and never tried again.
    bool open(bool create);
    bool unusable(const QString& why);

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    bool m_broken = false;
    QList<HistoryLine> m_pending;
    QTimer m_writeTimer;
};

} // namespace kv::control
