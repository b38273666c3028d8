// Store figures with 100,000 contacts and 100,000 messages: finding a contact
// by "SerialNumber", counting the unread messages, adding one message.
// Prints the median and 95th percentile of each, against its target.
#include "Platform/Outlook/Outlook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

namespace {

constexpr int Contacts = 100000;
constexpr int Messages = 100000;

struct Figure {
    double medianMs;
    double p95Ms;
};

Figure measure(int runs, const std::function<void(int)>& step)
{
    QList<double> ms;
    ms.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        step(i);
        ms.append(t.nsecsElapsed() / 1.0e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.at(ms.size() / 2), ms.at(qMin<qsizetype>(ms.size() - 1, ms.size() * 95 / 100))};
}

void report(const char* what, const Figure& f, double targetMs)
{
    std::printf("%-44s median %8.3f ms   p95 %8.3f ms   target < %.0f ms  %s\n", what, f.medianMs, f.p95Ms,
                targetMs, f.medianMs < targetMs ? "ok" : "MISSED");
}

// Filling 200,000 items one Save at a time would take minutes; the bench
// writes them in one transaction in the store's own layout instead.
bool fill(const QString& path, qint64 contactsFolder, qint64 messagesFolder)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"fill"_s);
    db.setDatabaseName(path);
    if (!db.open()) return false;
    QSqlQuery q(db);
    q.exec(u"BEGIN IMMEDIATE"_s);
    QSqlQuery item(db);
    item.prepare(
        u"INSERT INTO items (folder_id, message_class, full_name, file_as, subject, sent_on_behalf_of_name)"
        u" VALUES (?, ?, ?, ?, ?, ?)"_s);
    QSqlQuery prop(db);
    prop.prepare(u"INSERT INTO item_props (item_id, folder_id, name, type, value) VALUES (?, ?, ?, ?, ?)"_s);
    auto addProp = [&](qint64 id, qint64 folder, const QString& name, int type, const QVariant& v) {
        prop.bindValue(0, id);
        prop.bindValue(1, folder);
        prop.bindValue(2, name);
        prop.bindValue(3, type);
        prop.bindValue(4, v);
        return prop.exec();
    };
    for (int i = 0; i < Contacts; ++i) {
        const QString name = u"Peer %1"_s.arg(i);
        item.bindValue(0, contactsFolder);
        item.bindValue(1, KivaraContactClass.toString());
        item.bindValue(2, name);
        item.bindValue(3, name);
        item.bindValue(4, u""_s);
        item.bindValue(5, u""_s);
        if (!item.exec()) return false;
        const qint64 id = item.lastInsertId().toLongLong();
        addProp(id, contactsFolder, u"QuillonName"_s, olText, name);
        addProp(id, contactsFolder, u"UserStatus"_s, olText, u"Available"_s);
        addProp(id, contactsFolder, u"LocalHost"_s, olText, u"127.0.0.2"_s);
        addProp(id, contactsFolder, u"LocalPort"_s, olNumber, 8086);
        if (!addProp(id, contactsFolder, u"SerialNumber"_s, olText, u"KV-%1"_s.arg(i))) return false;
    }
    for (int i = 0; i < Messages; ++i) {
        const QString from = u"Caller %1"_s.arg(i % 977);
        item.bindValue(0, messagesFolder);
        item.bindValue(1, KivaraMessageClass.toString());
        item.bindValue(2, u""_s);
        item.bindValue(3, u""_s);
        item.bindValue(4, u"Message %1"_s.arg(i));
        item.bindValue(5, from);
        if (!item.exec()) return false;
        const qint64 id = item.lastInsertId().toLongLong();
        addProp(id, messagesFolder, u"IPAddress"_s, olText, u"127.0.0.3"_s);
        addProp(id, messagesFolder, u"ChatName"_s, olText, from);
        addProp(id, messagesFolder, u"Availability"_s, olText, u"Available"_s);
        if (!addProp(id, messagesFolder, u"MsgRead"_s, olYesNo, i % 2)) // half of them unread
            return false;
    }
    const bool ok = q.exec(u"COMMIT"_s);
    q.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s);
    q.finish();
    db.close();
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"store.sqlite"_s);
    const Application app(path);
    if (!RegisterProductForms(app)) {
        std::printf("set-up failed: %s\n", qPrintable(Err().Description));
        return 1;
    }
    const MAPIFolder personal = app.GetNamespace(u"MAPI"_s).Folders().Item(u"Personal Folders"_s);
    const MAPIFolder kv = personal.Folders().Add(u"Kivara"_s, olFolderContacts);
    const MAPIFolder msgs = kv.Folders().Add(u"Messages"_s, olFolderInbox);

    QElapsedTimer fillTime;
    fillTime.start();
    if (!fill(path, kv.id(), msgs.id())) {
        std::printf("filling the store failed\n");
        return 1;
    }
    QSqlDatabase::removeDatabase(u"fill"_s);
    std::printf("store: %d contacts, %d messages (filled in %.1f s)\n", kv.Items().Count(),
                msgs.Items().Count(), fillTime.elapsed() / 1000.0);

    int misses = 0;
    const Figure find = measure(2000, [&](int i) {
        const int n = static_cast<int>((i * 7919LL) % Contacts);
        const Item c = kv.Items().Find(u"[SerialNumber] = 'KV-%1'"_s.arg(n));
        if (!c || c.FullName() != u"Peer %1"_s.arg(n)) ++misses;
    });
    report("Find by SerialNumber", find, 1);

    int unreadSeen = 0;
    const Figure count =
        measure(200, [&](int) { unreadSeen = msgs.Items().Restrict(u"[MsgRead] = False"_s).Count(); });
    report("count messages with MsgRead false", count, 5);

    int failed = 0;
    const Figure add = measure(500, [&](int i) {
        Item m = msgs.Items().Add(KivaraMessageClass.toString());
        m.setSentOnBehalfOfName(u"bench"_s);
        m.setSubject(u"Left message %1"_s.arg(i));
        m.setBody(u"Please call back."_s);
        m.UserProperties().Find(u"IPAddress"_s).setValue(u"127.0.0.4"_s);
        m.UserProperties().Find(u"ChatName"_s).setValue(u"bench"_s);
        m.UserProperties().Find(u"Availability"_s).setValue(u"Available"_s);
        m.UserProperties().Find(u"MsgRead"_s).setValue(false);
        if (!m.Save() || !m.Move(msgs)) ++failed;
    });
    report("add one message (Add, fill, Save, Move)", add, 5);

    std::printf("checks: %d finds missed, %d unread counted (expected %d), %d adds failed\n", misses,
                unreadSeen, Messages / 2, failed);
    return misses == 0 && failed == 0 && unreadSeen == Messages / 2 ? 0 : 1;
}
