#include "Platform/Outlook/RemoteWindowSide.h"

#include "Platform/Events.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/Store.h"
#include "Platform/Shell.h"
#include "applicationproxy.h"
#include "controlproxy.h"
#include "explorerproxy.h"
#include "inspectorproxy.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using detail::SetErr;

namespace {

const QString ApplicationPath = u"/Application"_s;
const QString NoWindowPath = u"/"_s;
const QString ClosedText = u"The window has been closed."_s;
const QString GoneText = u"The remote server machine does not exist or is unavailable"_s;
const QString NoAnswerText = u"The mail program did not answer in time."_s;
// Beyond the call's own time-out, so that the bus reports it first.
constexpr int WaitGraceMs = 5000;

QString service()
{
    return HostServiceName.toString();
}

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

bool recordBusError(const QDBusError& e)
{
    if (e.name() == HostErrorName.toString()) {
        const QString msg = e.message();
        const QString hex = msg.section(u' ', 0, 0);
        bool ok = false;
        const qint32 number = static_cast<qint32>(hex.toUInt(&ok, 16));
        if (ok && number != 0) return SetErr(number, msg.section(u' ', 1));
        return SetErr(ErrNo::Exception, msg);
    }
    switch (e.type()) {
    case QDBusError::UnknownObject:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
        return SetErr(ErrNo::NotFound, ClosedText);
    default:
        return SetErr(ErrNo::ServerUnavailable, GoneText);
    }
}

template <typename Proxy>
void prepare(Proxy& proxy, const RemoteWindowSide::Timings& t)
{
    proxy.setTimeout(t.callTimeoutMs);
}

} // namespace

// Waits for one call to the host, pumping the caller's events; records the
// outcome in Err().
class RemoteWindowSide::Call {
public:
    static bool await(RemoteWindowSide* side, const QDBusPendingCall& call)
    {
        ClearErr();
        QDBusPendingCallWatcher watcher(call);
        const Timings t = side ? side->m_timings : Timings{};
        std::function<void(bool)> pending = side ? side->m_pending : nullptr;
        QElapsedTimer clock;
        clock.start();
        bool noticed = false;
        const bool finished = platform::WaitUntil(
            [&] {
                if (watcher.isFinished()) return true;
                if (!noticed && pending && clock.elapsed() >= t.pendingNoticeMs) {
                    noticed = true;
                    pending(true);
                }
                return false;
            },
            t.callTimeoutMs + WaitGraceMs);
        if (noticed) pending(false);
        if (!finished) return SetErr(ErrNo::ServerUnavailable, NoAnswerText);
        if (watcher.isError()) return recordBusError(watcher.error());
        ClearErr();
        return true;
    }
};

// ---------------------------------------------------------------- conversions

QVariant FromBus(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) return FromBus(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusSignature>()) return value.value<QDBusSignature>().signature();
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        QVariantMap m = value.toMap();
        for (auto it = m.begin(); it != m.end(); ++it)
            it.value() = FromBus(it.value());
        return m;
    }
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        QVariantList l = value.toList();
        for (QVariant& v : l)
            v = FromBus(v);
        return l;
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return value;
    const QDBusArgument arg = value.value<QDBusArgument>();
    switch (arg.currentType()) {
    case QDBusArgument::MapType: {
        QVariantMap m;
        arg.beginMap();
        while (!arg.atEnd()) {
            arg.beginMapEntry();
            const QVariant k = FromBus(arg.asVariant());
            const QVariant v = FromBus(arg.asVariant());
            arg.endMapEntry();
            m.insert(k.toString(), v);
        }
        arg.endMap();
        return m;
    }
    case QDBusArgument::ArrayType: {
        const QString sig = arg.currentSignature();
        if (sig == u"ay"_s) {
            QByteArray b;
            arg >> b;
            return b;
        }
        if (sig == u"as"_s) {
            QStringList l;
            arg >> l;
            return l;
        }
        QVariantList l;
        arg.beginArray();
        while (!arg.atEnd())
            l.append(FromBus(arg.asVariant()));
        arg.endArray();
        return l;
    }
    case QDBusArgument::StructureType: {
        QVariantList l;
        arg.beginStructure();
        while (!arg.atEnd())
            l.append(FromBus(arg.asVariant()));
        arg.endStructure();
        return l;
    }
    case QDBusArgument::VariantType:
    case QDBusArgument::BasicType:
        return FromBus(arg.asVariant());
    default:
        return {};
    }
}

QVariant ToBus(const QVariant& value)
{
    if (!value.isValid() || value.isNull()) {
        if (value.metaType() == QMetaType::fromType<QString>()) return QString();
        if (!value.isValid()) return QString();
    }
    if (value.metaType() == QMetaType::fromType<QObject*>()) {
        QObject* o = value.value<QObject*>();
        return o ? o->objectName() : QString();
    }
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        QVariantMap m = value.toMap();
        for (auto it = m.begin(); it != m.end(); ++it)
            it.value() = ToBus(it.value());
        return m;
    }
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        QVariantList l = value.toList();
        for (QVariant& v : l)
            v = ToBus(v);
        return l;
    }
    // Types the bus cannot carry travel as text.
    if (value.metaType() == QMetaType::fromType<QDateTime>()) return value.toDateTime().toString(Qt::ISODate);
    if (value.metaType() == QMetaType::fromType<QDate>()) return value.toDate().toString(Qt::ISODate);
    if (value.metaType() == QMetaType::fromType<QChar>()) return QString(value.toChar());
    if (value.metaType() == QMetaType::fromType<long>()) return value.toLongLong();
    if (value.metaType() == QMetaType::fromType<unsigned long>()) return value.toULongLong();
    return value;
}

QString HostErrorMessage(const OlError& error)
{
    return error.hex() + u' ' + error.Description;
}

// ---------------------------------------------------------------- remote objects

class RControl : public QObject, public AutomationObject {
public:
    RControl(RemoteWindowSide* side, const QString& path) : QObject(side), m_side(side), m_path(path)
    {
        setObjectName(path.section(u'/', -1));
    }

    QVariant invokeMember(const QString& name, int callType, const QVariantList& args) override
    {
        ControlProxy proxy(service(), m_path, bus());
        prepare(proxy, m_side->timings());
        QVariantList sent;
        for (const QVariant& a : args)
            sent.append(ToBus(a));
        QDBusPendingReply<QDBusVariant> reply = proxy.Invoke(name, callType, sent);
        if (!RemoteWindowSide::Call::await(m_side, reply)) return {};
        return FromBus(reply.value().variant());
    }

private:
    RemoteWindowSide* m_side;
    QString m_path;
};

class RFormPage : public FormPage {
public:
    RFormPage(QPointer<RemoteWindowSide> side, QString inspector, QString page)
        : m_side(std::move(side)), m_inspector(std::move(inspector)), m_page(std::move(page))
    {}

    QObject* Controls(const QString& name) override
    {
        if (!m_side) {
            SetErr(ErrNo::ServerUnavailable, GoneText);
            return nullptr;
        }
        InspectorProxy proxy(service(), m_inspector, bus());
        prepare(proxy, m_side->timings());
        QDBusPendingReply<QDBusObjectPath> reply = proxy.Control(m_page, name);
        if (!RemoteWindowSide::Call::await(m_side, reply)) return nullptr;
        return m_side->controlAt(reply.value().path());
    }

private:
    QPointer<RemoteWindowSide> m_side;
    QString m_inspector;
    QString m_page;
};

class RInspector : public Inspector {
public:
    RInspector(RemoteWindowSide* side, QString path) : m_side(side), m_path(std::move(path)) {}

    Item CurrentItem() override
    {
        auto proxy = make();
        if (!proxy) return {};
        QDBusPendingReply<QVariantMap> reply = proxy->CurrentItem();
        if (!RemoteWindowSide::Call::await(m_side, reply)) return {};
        const QVariantMap snap = FromBus(QVariant::fromValue(reply.value())).toMap();
        const Application app(DefaultStorePath());
        const QString id = snap.value(u"entryId"_s).toString();
        if (snap.value(u"saved"_s).toBool() && !id.isEmpty()) {
            const Item stored = app.GetNamespace(u"MAPI"_s).GetItemFromID(id);
            if (stored) return stored;
        }
        // Unsaved on the host: a copy of what the form holds.
        return app.ItemFromSnapshot(snap);
    }

    bool Display(bool modal) override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->Display(modal));
    }
    bool Close(int saveMode) override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->Close(saveMode));
    }
    bool SetCurrentFormPage(const QString& pageName) override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->SetCurrentFormPage(pageName));
    }
    std::shared_ptr<FormPage> ModifiedFormPages(const QString& pageName) override
    {
        auto proxy = make();
        if (!proxy || !RemoteWindowSide::Call::await(m_side, proxy->HasFormPage(pageName))) return nullptr;
        return std::make_shared<RFormPage>(m_side, m_path, pageName);
    }
    QString CurrentFormPage() override
    {
        auto proxy = make();
        if (!proxy) return {};
        QDBusPendingReply<QString> reply = proxy->CurrentFormPage();
        return RemoteWindowSide::Call::await(m_side, reply) ? reply.value() : QString();
    }
    bool IsDisplayed() override
    {
        auto proxy = make();
        if (!proxy) return false;
        QDBusPendingReply<bool> reply = proxy->IsDisplayed();
        return RemoteWindowSide::Call::await(m_side, reply) && reply.value();
    }

private:
    std::unique_ptr<InspectorProxy> make()
    {
        if (!m_side) {
            SetErr(ErrNo::ServerUnavailable, GoneText);
            return nullptr;
        }
        auto p = std::make_unique<InspectorProxy>(service(), m_path, bus());
        prepare(*p, m_side->timings());
        return p;
    }

    QPointer<RemoteWindowSide> m_side;
    QString m_path;
};

class RExplorer : public Explorer {
public:
    RExplorer(RemoteWindowSide* side, QString path) : m_side(side), m_path(std::move(path)) {}

    MAPIFolder CurrentFolder() override
    {
        auto proxy = make();
        if (!proxy) return {};
        QDBusPendingReply<QString> reply = proxy->CurrentFolder();
        if (!RemoteWindowSide::Call::await(m_side, reply)) return {};
        return Application(DefaultStorePath()).GetNamespace(u"MAPI"_s).GetFolderFromID(reply.value());
    }
    bool setCurrentFolder(const MAPIFolder& folder) override
    {
        if (!folder) return SetErr(ErrNo::ObjectNotSet, u"Object variable or With block variable not set"_s);
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->SetCurrentFolder(folder.EntryID()));
    }
    bool Display() override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->Display());
    }
    bool Activate() override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->Activate());
    }
    bool Close() override
    {
        auto proxy = make();
        return proxy && RemoteWindowSide::Call::await(m_side, proxy->Close());
    }

private:
    std::unique_ptr<ExplorerProxy> make()
    {
        if (!m_side) {
            SetErr(ErrNo::ServerUnavailable, GoneText);
            return nullptr;
        }
        auto p = std::make_unique<ExplorerProxy>(service(), m_path, bus());
        prepare(*p, m_side->timings());
        return p;
    }

    QPointer<RemoteWindowSide> m_side;
    QString m_path;
};

// ---------------------------------------------------------------- side

RemoteWindowSide::RemoteWindowSide(const Timings& timings) : m_timings(timings) {}

RemoteWindowSide::~RemoteWindowSide() = default;

QString RemoteWindowSide::program() const
{
    return m_program.isEmpty() ? QCoreApplication::applicationDirPath() + u'/' + HostProgramName.toString()
                               : m_program;
}

bool RemoteWindowSide::IsRunning()
{
    QDBusConnectionInterface* iface = bus().interface();
    if (!iface) return false;
    const QDBusReply<bool> reply = iface->isServiceRegistered(service());
    return reply.isValid() && reply.value();
}

bool RemoteWindowSide::Start()
{
    if (IsRunning()) return true;
    if (!bus().isConnected()) return false;
    const QString prog = program();
    if (!QFileInfo(prog).isExecutable()) return false;
    // Watch before starting, so that a quick registration is not missed.
    bool registered = false;
    QDBusServiceWatcher watcher(service(), bus(), QDBusServiceWatcher::WatchForRegistration);
    connect(&watcher, &QDBusServiceWatcher::serviceRegistered, this, [&registered] { registered = true; });
    if (!platform::Shell::current().start(prog, {HostEmbeddingArgument.toString()})) return false;
    QElapsedTimer clock;
    clock.start();
    qint64 lastAsk = 0;
    // The signal can only be missed if the bus reorders; ask now and then as well.
    return platform::WaitUntil(
        [&] {
            if (registered) return true;
            if (clock.elapsed() - lastAsk >= 1000) {
                lastAsk = clock.elapsed();
                registered = IsRunning();
            }
            return registered;
        },
        m_timings.startWaitMs);
}

std::shared_ptr<Inspector> RemoteWindowSide::inspectorAt(const QString& path)
{
    if (path.isEmpty() || path == NoWindowPath) return nullptr;
    return std::make_shared<RInspector>(this, path);
}

std::shared_ptr<Explorer> RemoteWindowSide::explorerAt(const QString& path)
{
    if (path.isEmpty() || path == NoWindowPath) return nullptr;
    return std::make_shared<RExplorer>(this, path);
}

QObject* RemoteWindowSide::controlAt(const QString& path)
{
    QObject*& c = m_controls[path];
    if (!c) c = new RControl(this, path);
    return c;
}

std::shared_ptr<Explorer> RemoteWindowSide::ActiveExplorer()
{
    ApplicationProxy app(service(), ApplicationPath, bus());
    prepare(app, m_timings);
    QDBusPendingReply<QDBusObjectPath> reply = app.ActiveExplorer();
    if (!Call::await(this, reply)) return nullptr;
    return explorerAt(reply.value().path());
}

std::shared_ptr<Inspector> RemoteWindowSide::ActiveInspector()
{
    ApplicationProxy app(service(), ApplicationPath, bus());
    prepare(app, m_timings);
    QDBusPendingReply<QDBusObjectPath> reply = app.ActiveInspector();
    if (!Call::await(this, reply)) return nullptr;
    return inspectorAt(reply.value().path());
}

std::shared_ptr<Explorer> RemoteWindowSide::GetExplorer(const MAPIFolder& folder)
{
    ApplicationProxy app(service(), ApplicationPath, bus());
    prepare(app, m_timings);
    QDBusPendingReply<QDBusObjectPath> reply = app.GetExplorer(folder.EntryID());
    if (!Call::await(this, reply)) return nullptr;
    return explorerAt(reply.value().path());
}

std::shared_ptr<Inspector> RemoteWindowSide::GetInspector(const Item& item)
{
    ApplicationProxy app(service(), ApplicationPath, bus());
    prepare(app, m_timings);
    // A stored, unchanged item is named; anything else travels with its values.
    QDBusPendingReply<QDBusObjectPath> reply = item.Saved() ? app.GetInspector(item.EntryID())
                                                            : app.GetInspectorForItem(ToBus(item.Snapshot()).toMap());
    if (!Call::await(this, reply)) return nullptr;
    return inspectorAt(reply.value().path());
}

std::shared_ptr<Inspector> RemoteWindowSide::FindInspector(const Item& item)
{
    const QString id = item.EntryID();
    if (id.isEmpty()) return nullptr;
    ApplicationProxy app(service(), ApplicationPath, bus());
    prepare(app, m_timings);
    QDBusPendingReply<QDBusObjectPath> reply = app.FindInspector(id);
    if (!Call::await(this, reply)) return nullptr;
    ClearErr();
    return inspectorAt(reply.value().path());
}

std::shared_ptr<RemoteWindowSide> InstallRemoteWindowSide(const RemoteWindowSide::Timings& timings)
{
    auto side = std::make_shared<RemoteWindowSide>(timings);
    WindowSide::install(side);
    return side;
}

} // namespace kv::outlook
