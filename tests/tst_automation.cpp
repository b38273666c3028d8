// Calling members by name: methods with and without optional arguments,
// property reads and writes, argument conversion, and the error numbers the
// callers read; values as they travel over the bus.
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Outlook/WindowSide.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace kv::outlook;

class Target : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool TrayOpened MEMBER tray)
    Q_PROPERTY(int RemotePort MEMBER port)
    Q_PROPERTY(short CallStatus MEMBER status)
    Q_PROPERTY(QString KivaraName READ name)
    Q_PROPERTY(QObject* objParent MEMBER parentObject)
public:
    bool tray = false;
    int port = 0;
    short status = 0;
    QObject* parentObject = nullptr;
    QStringList calls;
    QString name() const { return u"Ann"_s; }

    Q_INVOKABLE int Connect(const QString& host = QString(), int port = 0)
    {
        calls.append(u"Connect %1 %2"_s.arg(host).arg(port));
        return 0;
    }
    Q_INVOKABLE void SetStatus(const QString& s) { calls.append(u"SetStatus "_s + s); }
    Q_INVOKABLE bool Alone(short room) { return room == 0; }
    Q_INVOKABLE int DataRcvd(const QStringList& fields, bool passed = false)
    {
        calls.append(fields.join(u'|') + (passed ? u" passed"_s : u""_s));
        return int(fields.size());
    }
    Q_INVOKABLE QVariant Echo(const QVariant& v) { return v; }
};

class TestAutomation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void membersByName_methodsWithOptionalArgumentsAndProperties()
    {
        Target t;
        QCOMPARE(CallByName(&t, u"connect"_s, VbMethod).toInt(), 0);
        QCOMPARE(CallByName(&t, u"Connect"_s, VbMethod, {u"127.0.0.2"_s}).toInt(), 0);
        QCOMPARE(CallByName(&t, u"Connect"_s, VbMethod, {u"127.0.0.2"_s, u"8086"_s}).toInt(), 0);
        QCOMPARE(t.calls, (QStringList{u"Connect  0"_s, u"Connect 127.0.0.2 0"_s, u"Connect 127.0.0.2 8086"_s}));
        QVERIFY(!CallByName(&t, u"SetStatus"_s, VbMethod, {u"Available"_s}).isValid()); // no result
        QCOMPARE(Err().Number, 0);
        QCOMPARE(CallByName(&t, u"Alone"_s, VbMethod, {0}).toBool(), true);
        QCOMPARE(CallByName(&t, u"DataRcvd"_s, VbMethod, {QStringList{u"HELLO"_s, u"Ann"_s}, true}).toInt(), 2);
        QCOMPARE(t.calls.last(), u"HELLO|Ann passed"_s);
        QCOMPARE(CallByName(&t, u"Echo"_s, VbMethod, {42}).toInt(), 42);

        // Properties read and written.
        CallByName(&t, u"TrayOpened"_s, VbLet, {true});
        QCOMPARE(Err().Number, 0);
        QVERIFY(t.tray);
        QCOMPARE(CallByName(&t, u"trayopened"_s, VbGet).toBool(), true);
        CallByName(&t, u"CallStatus"_s, VbLet, {u"7"_s});
        QCOMPARE(t.status, short(7));
        QCOMPARE(CallByName(&t, u"KivaraName"_s, VbGet).toString(), u"Ann"_s);
        // A property read as a method, as late binding allows.
        QCOMPARE(CallByName(&t, u"KivaraName"_s, VbMethod).toString(), u"Ann"_s);
        QObject parent;
        CallByName(&t, u"objParent"_s, VbLet, {QVariant::fromValue(&parent)});
        QCOMPARE(t.parentObject, &parent);
    }

    void errors_areTheNumbersCallersRead()
    {
        Target t;
        // Target, member, kind, arguments, the error; a success (the last) clears it.
        for (const auto& [target, member, kind, arguments, error] :
             {std::tuple{static_cast<QObject*>(nullptr), u"Connect"_s, VbMethod, QVariantList(),
                         ErrNo::ObjectNotSet},
              {&t, u"Nope"_s, VbMethod, {}, ErrNo::NotSupported},
              {&t, u"KivaraName"_s, VbLet, {u"x"_s}, ErrNo::NotSupported}, // read-only
              {&t, u"SetStatus"_s, VbMethod, {u"a"_s, u"b"_s}, ErrNo::WrongArguments},
              {&t, u"RemotePort"_s, VbLet, {u"eighty"_s}, ErrNo::TypeMismatch},
              {&t, u"TrayOpened"_s, VbLet, {}, ErrNo::WrongArguments},
              {&t, u"Connect"_s, VbMethod, {}, 0}}) {
            CallByName(target, member, kind, arguments);
            QCOMPARE(Err().Number, error);
        }
        QCOMPARE(t.port, 0);
    }

    void inspectorObjectAndBusValues()
    {
        auto side = std::make_shared<HeadlessWindowSide>();
        WindowSide::install(side);
        const Application app(DefaultStorePath());
        const Item c = app.CreateItem(olContactItem);
        c.setFullName(u"Bo"_s);
        auto insp = c.GetInspector();
        InspectorObject o(insp);
        QCOMPARE(CallByName(&o, u"CurrentItem"_s, VbMethod).value<Item>().FullName(), u"Bo"_s);
        QVERIFY(CallByName(&o, u"Close"_s, VbMethod, {olDiscard}).toBool());
        insp.reset();
        CallByName(&o, u"CurrentItem"_s, VbMethod);
        QCOMPARE(Err().Number, ErrNo::NotFound);
        WindowSide::install(nullptr);

        const QVariantMap snap{{u"members"_s, QVariantMap{{u"FullName"_s, u"Ann"_s}}},
                               {u"attachments"_s, QVariantList{QVariantMap{{u"data"_s, QByteArray("\0x", 2)}}}},
                               {u"none"_s, QVariant()},
                               {u"names"_s, QStringList{u"a"_s, u"b"_s}}};
        const QVariant sent = ToBus(snap);
        QCOMPARE(sent.toMap().value(u"none"_s), QVariant(QString()));
        QCOMPARE(FromBus(sent).toMap().value(u"attachments"_s).toList().first().toMap().value(u"data"_s).toByteArray(),
                 QByteArray("\0x", 2));
        QCOMPARE(ToBus(QVariant::fromValue<QObject*>(nullptr)), QVariant(QString()));
        QCOMPARE(FromBus(QVariant::fromValue(QDBusVariant(42))).toInt(), 42);
        QCOMPARE(FromBus(QVariant::fromValue(QDBusObjectPath(u"/Inspectors/1"_s))).toString(), u"/Inspectors/1"_s);
    }
};

KV_TEST_MAIN(TestAutomation)
#include "tst_automation.moc"
