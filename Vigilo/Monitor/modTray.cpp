#include "Vigilo/Monitor/modTray.h"
#include "Vigilo/Monitor/MonitorStore.h"

#include "Platform/Events.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Shared/Protocol.h"
#include "Shared/modReg.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScopeGuard>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::vigilo {

namespace ol = kv::outlook;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;

namespace {

const auto ContactClass = ol::KivaraContactClass.toString();
constexpr QStringView SerialFilterBefore = u"[SerialNumber] = '";
constexpr QStringView SerialFilterAfter = u"'";

QString SerialFilter(QString serial)
{
    serial.replace(u'\'', u"''"_s); // a quote in an identifier must not end the filter
    return SerialFilterBefore.toString() + serial + SerialFilterAfter.toString();
}

void SetUserProperty(const ol::Item& item, const QString& name, const QVariant& value)
{
    const ol::UserProperty property = item.UserProperties().Find(name);
    if (property) property.setValue(value);
}

// Arrow-and-hourglass while an operation runs, restored however it ends.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

modTray::modTray(MonitorStore& store, QWidget* window) : m_store(store), m_window(window)
{
    m_pendingTimer = new QTimer();
    m_pendingTimer->setSingleShot(true);
    QObject::connect(m_pendingTimer, &QTimer::timeout, m_pendingTimer, [this] { ShowPending(); });
}

modTray::~modTray()
{
    delete m_pendingTimer;
    delete m_notice.data();
}

QWidget* modTray::pendingNotice() const
{
    return m_notice.data();
}

// Sets the waiting texts for the length of a hand-off and restores the
// previous ones, with the normal time-out, however it ends.
struct modTray::PendingScope {
    modTray& t;
    QString title;
    QString text;
    explicit PendingScope(modTray& tray) : t(tray), title(tray.m_pendingTitle), text(tray.m_pendingText)
    {
        t.m_pendingTitle = handofftext::WaitingTitle.toString();
        t.m_pendingText = handofftext::WaitingText.toString();
        t.m_pendingMs = HandOffPendingMs;
        t.m_pendingTimer->start(t.m_pendingMs);
    }
    ~PendingScope()
    {
        t.m_pendingTimer->stop();
        if (t.m_notice) t.m_notice->hide();
        t.m_pendingTitle = title;
        t.m_pendingText = text;
        t.m_pendingMs = NormalPendingMs;
    }
};

void modTray::ShowPending()
{
    if (!m_notice) {
        auto* notice = new QWidget(nullptr, Qt::Dialog);
        notice->setObjectName(u"frmPending"_s);
        notice->setAttribute(Qt::WA_ShowWithoutActivating);
        auto* layout = new QVBoxLayout(notice);
        auto* label = new QLabel(notice);
        label->setObjectName(u"lblPending"_s);
        label->setWordWrap(true);
        layout->addWidget(label);
        m_notice = notice;
    }
    m_notice->setWindowTitle(m_pendingTitle);
    QString shown = m_pendingText;
    shown.replace(u'\r', u'\n');
    m_notice->findChild<QLabel*>(u"lblPending"_s)->setText(shown);
    m_notice->show();
}

QObject* modTray::TakeControl(const std::shared_ptr<ol::Inspector>& inspector)
{
    if (!inspector) return nullptr;
    for (int attempt = 0; attempt < ControlAttempts; ++attempt) {
        inspector->Display();
        inspector->SetCurrentFormPage(ChatPageName.toString());
        platform::DoEvents();
        if (const auto page = inspector->ModifiedFormPages(ChatPageName.toString())) {
            if (QObject* control = page->Controls(ChatControlName.toString())) return control;
        }
    }
    return nullptr;
}

ol::Item modTray::FindOrAddContact(const QString& serialNum)
{
    const ol::Items items = m_store.contactsFolder().Items();
    ol::Item item = items.Find(SerialFilter(serialNum));
    if (!item) item = items.Add(ContactClass);
    return item;
}

qint32 modTray::Connected()
{
    // A call must not be lost on a connection that died with its host: the window
    // members it needs would all fail.
    if (m_store.HostGone()) m_store.Release();
    return m_store.HoldsFolder() ? 0 : m_store.Connect();
}

void modTray::Fail()
{
    MsgBox(handofftext::FormFailed.toString(), MsgButtons::OK, MsgIcon::Information);
    // The next use connects afresh.
    m_store.Release();
}

int modTray::HandOffCall(const QStringList& fields, const QString& sourceAddress)
{
    if (fields.size() < 1 + UserRecord::FieldCount) return -1;
    BusyCursor busy;
    PendingScope pending(*this);
    if (Connected() != 0) {
        Fail();
        return -1;
    }
    QStringList record = fields.mid(1, UserRecord::FieldCount);
    // Whichever form takes the call answers the computer it came from, not the one the caller names.
    if (!sourceAddress.isEmpty()) record[3] = sourceAddress;
    QObject* control = nullptr;
    bool openedByMonitor = false;

    // The Kivara form the user has open and active takes the call, whoever it belongs to.
    std::shared_ptr<ol::Inspector> inspector = m_store.application().ActiveInspector();
    if (inspector) {
        const ol::Item current = inspector->CurrentItem();
        current.NickName();
        if (current && !ol::Err()) control = TakeControl(inspector);
    }
    if (!control) {
        openedByMonitor = true;
        const ol::Item item = FindOrAddContact(record[5]);
        if (!item) {
            Fail();
            return -1;
        }
        item.setFullName(record[0]);
        SetUserProperty(item, u"QuillonName"_s, record[0]);
        SetUserProperty(item, u"UserStatus"_s, record[1]);
        item.setEmail1Address(record[2]);
        SetUserProperty(item, u"LocalHost"_s, record[3]);
        SetUserProperty(item, u"LocalPort"_s, ChatDatagramPort);
        item.setBody(record[4]);
        SetUserProperty(item, u"SerialNumber"_s, record[5]);
        inspector = item.GetInspector();
        control = TakeControl(inspector);
        if (!control) {
            Fail();
            return -1;
        }
    }
    m_callForm = inspector;
    m_callControl = control;
    const auto handedOff = qScopeGuard([this] {
        m_callForm.reset();
        m_callControl.clear();
    });
    ol::CallByName(control, u"TrayOpened"_s, ol::VbLet, {openedByMonitor});
    platform::DoEvents();
    if (m_callControl)
        ol::CallByName(m_callControl, u"DataPass"_s, ol::VbMethod,
                       {QString(msg::Hello + FieldSeparator + record.join(FieldSeparator))});
    platform::DoEvents();
    return 0;
}

void modTray::ShowCallForm()
{
    if (m_callForm) m_callForm->Display();
}

void modTray::WithdrawCall(const QString& callerName)
{
    if (m_callControl) ol::CallByName(m_callControl, u"DataPass"_s, ol::VbMethod, {BuildGiveUp(callerName)});
}

int modTray::Notify(const QString& member, const QString& text)
{
    if (!m_store.HoldsFolder() && m_store.Connect() != 0) return 0;
    const std::shared_ptr<ol::Inspector> inspector = m_store.application().ActiveInspector();
    if (!inspector) return 0;
    const ol::Item current = inspector->CurrentItem();
    current.NickName();
    if (ol::Err()) return ol::Err().Number;
    if (const auto page = inspector->ModifiedFormPages(ChatPageName.toString()))
        ol::CallByName(page->Controls(ChatControlName.toString()), member, ol::VbMethod, {text});
    return 0;
}

int modTray::NotifyFormStatus(const QString& text)
{
    return Notify(u"SetStatus"_s, text);
}

int modTray::NotifyFormUserName(const QString& name)
{
    return Notify(u"ChangeUserName"_s, name);
}

void modTray::FillFromRecord(const ol::Item& item, const ProfileRecord& r)
{
    item.setFullName(r.FullName);
    item.setFileAs(r.FullName);
    item.setCompanyName(r.Company);
    item.setBusinessAddressCity(r.City);
    item.setBusinessAddressState(r.State);
    item.setBusinessAddressCountry(r.Country);
    item.setEmail1Address(r.Email);
    item.setBody(r.Comment);
    SetUserProperty(item, u"QuillonName"_s, r.ChatName);
    SetUserProperty(item, u"UserStatus"_s, r.UserStatus);
    SetUserProperty(item, u"LocalHost"_s, r.IPAddress);
    SetUserProperty(item, u"LocalPort"_s, r.LocalPort);
    SetUserProperty(item, u"SerialNumber"_s, r.SerialNum);
}

int modTray::CallFromPeerslip(const QString& path)
{
    BusyCursor busy;
    if (!QFile::exists(path)) {
        MsgBox(handofftext::PeerslipNotFound.toString() + path, MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    const std::optional<ProfileRecord> record = ReadPeerslipFile(path);
    if (!record || Connected() != 0) {
        Fail();
        return -1;
    }
    const ol::Item item = FindOrAddContact(record->SerialNum);
    if (!item) {
        Fail();
        return -1;
    }
    FillFromRecord(item, *record);
    item.Save();
    QObject* control = TakeControl(item.GetInspector());
    if (!control) {
        Fail();
        return -1;
    }
    ol::CallByName(control, u"TrayOpened"_s, ol::VbLet, {true});
    ol::CallByName(control, u"RemoteHost"_s, ol::VbLet, {record->IPAddress});
    ol::CallByName(control, u"RemotePort"_s, ol::VbLet, {record->LocalPort});
    ol::CallByName(control, u"Connect"_s, ol::VbMethod);
    return 0;
}

void modTray::AddPeerslipContact(const QString& path)
{
    BusyCursor busy;
    if (!QFile::exists(path)) {
        MsgBox(handofftext::PeerslipNotFound.toString() + path, MsgButtons::OK, MsgIcon::Information);
        return;
    }
    const std::optional<ProfileRecord> record = ReadPeerslipFile(path);
    ol::Item item;
    if (record && (m_store.HoldsFolder() || m_store.Connect() == 0))
        item = FindOrAddContact(record->SerialNum);
    if (!item) {
        MsgBox(handofftext::FormNotInstalled.toString(), MsgButtons::OK, MsgIcon::Information);
        return;
    }
    FillFromRecord(item, *record);
    item.Save();
    MsgBox(handofftext::PeerslipAdded.toString(), MsgButtons::OK, MsgIcon::Information);
}

} // namespace kv::vigilo
