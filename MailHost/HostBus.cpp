#include "MailHost/HostBus.h"

#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/Outlook/Store.h"
#include "applicationadaptor.h"
#include "controladaptor.h"
#include "exploreradaptor.h"
#include "inspectoradaptor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::host {

using detail::SetErr;

namespace {
const QString ApplicationPath = u"/Application"_s;
const QString ClosedText = u"The window has been closed."_s;
const QDBusObjectPath NoWindow{u"/"_s};

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

Application app()
{
    return Application(DefaultStorePath());
}

// A name usable as a path element.
QString pathElement(const QString& name)
{
    QString out;
    for (const QChar c : name)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'_' ? c : u'_';
    return out.isEmpty() ? u"_"_s : out;
}

// The item a caller handed over: the stored one with the caller's values on
// top when it names one, else a new unsaved item with them.
Item itemFromHandOver(const QVariantMap& snapshot)
{
    const QString id = snapshot.value(u"entryId"_s).toString();
    const Application a = app();
    if (id.isEmpty()) return a.ItemFromSnapshot(snapshot);
    const Item item = a.GetNamespace(u"MAPI"_s).GetItemFromID(id);
    if (!item) return {};
    const QVariantMap members = snapshot.value(u"members"_s).toMap();
    for (auto it = members.begin(); it != members.end(); ++it)
        if (item.GetMember(it.key()).toString() != it.value().toString()) item.SetMember(it.key(), it.value());
    const QVariantList props = snapshot.value(u"userProperties"_s).toList();
    for (const QVariant& pv : props) {
        const QVariantMap p = pv.toMap();
        const UserProperty up = item.UserProperties().Find(p.value(u"name"_s).toString());
        if (up && up.Value() != p.value(u"value"_s)) up.setValue(p.value(u"value"_s));
    }
    ClearErr();
    return item;
}
} // namespace

// ---------------------------------------------------------------- application

ApplicationExport::ApplicationExport(HostBus* bus) : QObject(bus), m_bus(bus)
{
    new ApplicationAdaptor(this);
}

QDBusObjectPath ApplicationExport::fail()
{
    sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
    return NoWindow;
}

QDBusObjectPath ApplicationExport::ActiveExplorer()
{
    const auto e = WindowSide::current()->ActiveExplorer();
    return e ? m_bus->pathFor(e) : NoWindow;
}

QDBusObjectPath ApplicationExport::ActiveInspector()
{
    const auto i = WindowSide::current()->ActiveInspector();
    return i ? m_bus->pathFor(i) : NoWindow;
}

QDBusObjectPath ApplicationExport::GetExplorer(const QString& folderId)
{
    const MAPIFolder f = app().GetNamespace(u"MAPI"_s).GetFolderFromID(folderId);
    if (!f) return fail();
    const auto e = f.GetExplorer(0);
    return e ? m_bus->pathFor(e) : fail();
}

QDBusObjectPath ApplicationExport::GetInspector(const QString& entryId)
{
    const Item item = app().GetNamespace(u"MAPI"_s).GetItemFromID(entryId);
    if (!item) return fail();
    const auto i = item.GetInspector();
    return i ? m_bus->pathFor(i) : fail();
}

QDBusObjectPath ApplicationExport::GetInspectorForItem(const QVariantMap& snapshot)
{
    const Item item = itemFromHandOver(FromBus(QVariant::fromValue(snapshot)).toMap());
    if (!item) return fail();
    const auto i = item.GetInspector();
    return i ? m_bus->pathFor(i) : fail();
}

QDBusObjectPath ApplicationExport::FindInspector(const QString& entryId)
{
    const Item item = app().GetNamespace(u"MAPI"_s).GetItemFromID(entryId);
    if (!item) return NoWindow;
    const auto i = WindowSide::current()->FindInspector(item);
    return i ? m_bus->pathFor(i) : NoWindow;
}

void ApplicationExport::Quit()
{
    // After the reply has gone out; exit rather than quit, which would ask
    // each window (and a form with changes would wait for a person).
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

// ---------------------------------------------------------------- explorer

ExplorerExport::ExplorerExport(std::weak_ptr<Explorer> explorer, QObject* parent)
    : QObject(parent), m_explorer(std::move(explorer))
{
    new ExplorerAdaptor(this);
}

std::shared_ptr<Explorer> ExplorerExport::target()
{
    auto e = m_explorer.lock();
    if (!e) {
        SetErr(ErrNo::NotFound, ClosedText);
        sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
    }
    return e;
}

void ExplorerExport::check(bool ok)
{
    if (!ok) sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
}

QString ExplorerExport::CurrentFolder()
{
    auto e = target();
    if (!e) return {};
    const MAPIFolder f = e->CurrentFolder();
    check(bool(f));
    return f.EntryID();
}

void ExplorerExport::SetCurrentFolder(const QString& folderId)
{
    auto e = target();
    if (!e) return;
    const MAPIFolder f = app().GetNamespace(u"MAPI"_s).GetFolderFromID(folderId);
    check(f && e->setCurrentFolder(f));
}

void ExplorerExport::Display()
{
    if (auto e = target()) check(e->Display());
}

void ExplorerExport::Activate()
{
    if (auto e = target()) check(e->Activate());
}

void ExplorerExport::Close()
{
    if (auto e = target()) check(e->Close());
}

// ---------------------------------------------------------------- inspector

InspectorExport::InspectorExport(std::weak_ptr<Inspector> inspector, const QString& path, QObject* parent)
    : QObject(parent), m_inspector(std::move(inspector)), m_path(path)
{
    new InspectorAdaptor(this);
}

std::shared_ptr<Inspector> InspectorExport::target()
{
    auto i = m_inspector.lock();
    if (!i) {
        SetErr(ErrNo::NotFound, ClosedText);
        sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
    }
    return i;
}

void InspectorExport::check(bool ok)
{
    if (!ok) sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
}

QVariantMap InspectorExport::CurrentItem()
{
    auto i = target();
    if (!i) return {};
    const Item item = i->CurrentItem();
    if (!item) {
        check(false);
        return {};
    }
    QVariantMap m = ToBus(item.Snapshot()).toMap();
    m.insert(u"saved"_s, item.Saved());
    return m;
}

void InspectorExport::Display(bool modal)
{
    if (auto i = target()) check(i->Display(modal));
}

void InspectorExport::Close(int saveMode)
{
    if (auto i = target()) check(i->Close(saveMode));
}

void InspectorExport::SetCurrentFormPage(const QString& pageName)
{
    if (auto i = target()) check(i->SetCurrentFormPage(pageName));
}

QString InspectorExport::CurrentFormPage()
{
    auto i = target();
    return i ? i->CurrentFormPage() : QString();
}

bool InspectorExport::IsDisplayed()
{
    auto i = target();
    return i && i->IsDisplayed();
}

void InspectorExport::HasFormPage(const QString& pageName)
{
    if (auto i = target()) check(i->ModifiedFormPages(pageName) != nullptr);
}

QDBusObjectPath InspectorExport::Control(const QString& pageName, const QString& name)
{
    auto i = target();
    if (!i) return NoWindow;
    const auto page = i->ModifiedFormPages(pageName);
    QObject* control = page ? page->Controls(name) : nullptr;
    if (!control) {
        check(false);
        return NoWindow;
    }
    const QString path = m_path + u"/Controls/"_s + pathElement(pageName) + u'_' + pathElement(name);
    QObject*& exp = m_controls[path];
    auto* existing = qobject_cast<ControlExport*>(exp);
    if (!existing || existing->property("control").value<QObject*>() != control) {
        if (exp) {
            bus().unregisterObject(path);
            exp->deleteLater();
        }
        exp = new ControlExport(control, this);
        exp->setProperty("control", QVariant::fromValue(control));
        bus().registerObject(path, exp);
    }
    return QDBusObjectPath(path);
}

// ---------------------------------------------------------------- control

ControlExport::ControlExport(QObject* control, QObject* parent) : QObject(parent), m_control(control)
{
    new ControlAdaptor(this);
}

QDBusVariant ControlExport::Invoke(const QString& member, int callType, const QVariantList& arguments)
{
    if (!m_control) {
        SetErr(ErrNo::NotFound, ClosedText);
        sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
        return QDBusVariant(QString());
    }
    QVariantList args;
    for (const QVariant& a : arguments)
        args.append(FromBus(a));
    // Keeps the caller's message: the member may run a modal dialog, and other
    // calls are served meanwhile.
    const QVariant result = CallByName(m_control, member, callType, args);
    if (Err()) {
        sendErrorReply(HostErrorName.toString(), HostErrorMessage(Err()));
        return QDBusVariant(QString());
    }
    return QDBusVariant(ToBus(result));
}

QStringList ControlExport::Members()
{
    QStringList names;
    if (!m_control) return names;
    const QMetaObject* mo = m_control->metaObject();
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
        names.append(QString::fromLatin1(mo->property(i).name()));
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.access() == QMetaMethod::Public && m.methodType() == QMetaMethod::Method) {
            const QString n = QString::fromLatin1(m.name());
            if (!names.contains(n)) names.append(n);
        }
    }
    return names;
}

// ---------------------------------------------------------------- bus

HostBus::HostBus(QObject* parent) : QObject(parent) {}

HostBus::~HostBus()
{
    if (m_registered) bus().unregisterService(HostServiceName.toString());
}

bool HostBus::start(QString* why)
{
    if (!bus().isConnected()) {
        if (why) *why = u"There is no session bus: other programs cannot reach this one."_s;
        return false;
    }
    auto* appExport = new ApplicationExport(this);
    if (!bus().registerObject(ApplicationPath, appExport)) {
        if (why) *why = bus().lastError().message();
        return false;
    }
    if (!bus().registerService(HostServiceName.toString())) {
        if (why) *why = u"Another instance already runs (%1)."_s.arg(bus().lastError().message());
        return false;
    }
    m_registered = true;
    return true;
}

void HostBus::sweep()
{
    for (qsizetype k = m_inspectors.size() - 1; k >= 0; --k) {
        if (!m_inspectors[k].first.expired()) continue;
        bus().unregisterObject(m_inspectors[k].second->objectName(), QDBusConnection::UnregisterTree);
        m_inspectors[k].second->deleteLater();
        m_inspectors.removeAt(k);
    }
    for (qsizetype k = m_explorers.size() - 1; k >= 0; --k) {
        if (!m_explorers[k].first.expired()) continue;
        bus().unregisterObject(m_explorers[k].second->objectName());
        m_explorers[k].second->deleteLater();
        m_explorers.removeAt(k);
    }
}

QDBusObjectPath HostBus::pathFor(const std::shared_ptr<Explorer>& e)
{
    sweep();
    for (const auto& [weak, exp] : std::as_const(m_explorers))
        if (weak.lock() == e) return QDBusObjectPath(exp->objectName());
    const QString path = u"/Explorers/%1"_s.arg(m_next++);
    auto* exp = new ExplorerExport(e, this);
    exp->setObjectName(path);
    bus().registerObject(path, exp);
    m_explorers.append({e, exp});
    return QDBusObjectPath(path);
}

QDBusObjectPath HostBus::pathFor(const std::shared_ptr<Inspector>& i)
{
    sweep();
    for (const auto& [weak, exp] : std::as_const(m_inspectors))
        if (weak.lock() == i) return QDBusObjectPath(exp->objectName());
    const QString path = u"/Inspectors/%1"_s.arg(m_next++);
    auto* exp = new InspectorExport(i, path, this);
    exp->setObjectName(path);
    bus().registerObject(path, exp);
    m_inspectors.append({i, exp});
    return QDBusObjectPath(path);
}

} // namespace kv::host
