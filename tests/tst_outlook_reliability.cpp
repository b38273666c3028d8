// Several processes on one store: concurrent writers never see "busy", and a
// writer killed at a random moment leaves a sound store holding every item
// whose Save had returned.
#include "Platform/Events.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

namespace {

constexpr int ChildTimeoutMs = 120000;
constexpr int KillRounds = 6;

QString childProgram()
{
    return QCoreApplication::applicationDirPath() + u"/outlook_child"_s;
}

// A child whose output lines are collected as they come.
struct Child {
    QProcess process;
    QStringList lines;
    QByteArray partial;

    void start(const QStringList& args)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] { collect(); });
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(childProgram(), args);
    }
    void collect()
    {
        partial += process.readAllStandardOutput();
        qsizetype nl;
        while ((nl = partial.indexOf('\n')) >= 0) {
            lines << QString::fromUtf8(partial.left(nl));
            partial.remove(0, nl + 1);
        }
    }
    bool finish()
    {
        const bool ok = kv::platform::WaitUntil([this] { return process.state() == QProcess::NotRunning; },
                                                ChildTimeoutMs);
        collect();
        return ok;
    }
    // The lines starting with this word, without it.
    QStringList said(const QString& word) const
    {
        QStringList found;
        for (const QString& l : lines)
            if (l.startsWith(word + u' ')) found << l.mid(word.size() + 1);
        return found;
    }
};

} // namespace

class TestOutlookReliability : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString storePath() const { return m_dir.filePath(u"store.sqlite"_s); }
    MAPIFolder inbox() const
    {
        const NameSpace ns = Application(storePath()).GetNamespace(u"MAPI"_s);
        return ns.Folders().Item(u"Personal Folders"_s).Folders().Item(u"Inbox"_s);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFile::exists(childProgram()));
        QVERIFY(RegisterProductForms(storePath()));
    }

    void twoWritersNeverSeeBusy()
    {
        constexpr int Count = 300;
        Child adder;
        Child reader;
        adder.start({u"add"_s, storePath(), QString::number(Count), u"pair"_s});
        reader.start(
            {u"markread"_s, storePath(), QString::number(Count), QString::number(ChildTimeoutMs / 2)});
        QVERIFY(adder.finish());
        QVERIFY(reader.finish());
        for (const Child* c : {&adder, &reader}) {
            QVERIFY2(c->said(u"error"_s).isEmpty(), qPrintable(c->said(u"error"_s).join(u'\n')));
            QCOMPARE(c->process.exitCode(), 0);
        }
        QCOMPARE(adder.said(u"saved"_s).size(), Count);
        QCOMPARE(reader.lines.last(), u"done marked=%1 errors=0"_s.arg(Count));
        QCOMPARE(inbox().Items().Restrict(u"[ChatName] = 'pair-300'"_s).Count(), 1);
        QCOMPARE(inbox().Items().Restrict(u"[MsgRead] = False"_s).Count(), 0);
        QCOMPARE(inbox().Items().Restrict(u"[MsgRead] = True"_s).Count(), Count);
    }

    void killedWriterLosesNothingSaved()
    {
        QStringList saved;
        for (int round = 0; round < KillRounds; ++round) {
            Child adder;
            const int after = QRandomGenerator::global()->bounded(1, 60);
            adder.start({u"add"_s, storePath(), u"0"_s, u"kill%1"_s.arg(round)});
            QVERIFY(kv::platform::WaitUntil([&] { return adder.said(u"saved"_s).size() >= after; },
                                            ChildTimeoutMs));
            adder.process.kill(); // SIGKILL, in the middle of whatever it is doing
            QVERIFY(adder.finish());
            QCOMPARE(adder.process.exitStatus(), QProcess::CrashExit);
            QVERIFY2(adder.said(u"error"_s).isEmpty(), qPrintable(adder.said(u"error"_s).join(u'\n')));
            saved << adder.said(u"saved"_s);
        }
        QCOMPARE(Store::forPath(storePath())->integrityCheck(), u"ok"_s);
        const MAPIFolder folder = inbox();
        for (const QString& name : std::as_const(saved)) {
            const Item m = folder.Items().Find(u"[ChatName] = '%1'"_s.arg(name));
            QVERIFY2(m, qPrintable(name));
            QCOMPARE(m.SentOnBehalfOfName(), name);
        }
        QVERIFY(folder.Items().Count() >= saved.size());
    }
};

KV_TEST_MAIN(TestOutlookReliability)
#include "tst_outlook_reliability.moc"
