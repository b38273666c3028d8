// kvhostdriver: runs inside one simulated computer (its environment names the
// computer's bus) and drives the mail host there as the product's own callers
// do: it opens a user's Kivara contact form and reaches the control "Kivara1"
// on its "Kivara" page by member name. Requests on standard input, answers on
// standard output, one line each (see HostDriver in SimSession.h).
#include "Platform/Events.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/RemoteWindowSide.h"
#include "Platform/QtPrompt.h"
#include "Shared/StoreAccess.h"
#include "testing/StdinLines.h"

#include <QApplication>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;
using namespace kv;
namespace ol = kv::outlook;

namespace {

constexpr int LifetimeMs = 30 * 60 * 1000; // a forgotten driver still ends

QString failure(const QString& what = QString())
{
    const ol::OlError& e = ol::Err();
    if (e) return u"err\t"_s + e.hex() + u'\t' + e.Description;
    return u"err\t0\t"_s + what;
}

QString valueText(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(u'|');
    if (v.metaType().id() == QMetaType::Bool) return v.toBool() ? u"true"_s : u"false"_s;
    return v.toString();
}

class Driver {
public:
    QString handle(const QStringList& f)
    {
        const QString& word = f.value(0);
        if (word == u"open"_s && f.size() == 4) return open(f[1], f[2], f[3]);
        if (word == u"active"_s) return active();
        if (word == u"close"_s) return close();
        if (word == u"stored"_s && (f.size() == 3 || f.size() == 4))
            return stored(f[1], f[2], f.size() == 4 ? std::optional(f[3]) : std::nullopt);
        if (word == u"call"_s || word == u"calllist"_s || word == u"get"_s || word == u"let"_s) {
            if (!m_control) return u"err\t0\tno control"_s;
            const int type = word.startsWith(u"call"_s) ? ol::VbMethod
                             : word == u"get"_s         ? ol::VbGet
                                                        : ol::VbLet;
            QVariantList args;
            if (word == u"calllist"_s)
                args.append(QVariant(f.mid(2)));
            else
                for (const QString& a : f.mid(2))
                    args.append(a);
            const QVariant result = ol::CallByName(m_control, f.value(1), type, args);
            return ol::Err() ? failure() : u"ok\t"_s + valueText(result);
        }
        return u"err\t0\tunknown request"_s;
    }

private:
    // In the product's contacts folder, which the caller has opened.
    static ol::Item findContact(StoreAccess& access, const QString& serial)
    {
        return access.currentFolder().Items().Find(u"[SerialNumber] = '"_s + serial + u"'"_s);
    }

    QString stored(const QString& serial, const QString& property, const std::optional<QString>& value)
    {
        StoreAccess access(Deliverable::Quillon);
        if (access.OpenFolder(access.folderName()) != 0) return failure(u"no contacts folder"_s);
        ol::Item contact = findContact(access, serial);
        if (!contact) return failure(u"no such contact"_s);
        if (value) {
            contact.UserProperties().Find(property).setValue(*value);
            if (!contact.Save()) return failure(u"cannot save the contact"_s);
        }
        return u"ok\t"_s + contact.UserProperties().Find(property).Value().toString();
    }

    QString open(const QString& serial, const QString& chatName, const QString& address)
    {
        StoreAccess access(Deliverable::Quillon);
        if (access.OpenFolder(access.folderName()) != 0) return failure(u"no contacts folder"_s);
        ol::Item contact = findContact(access, serial);
        if (!contact) {
            contact = access.currentFolder().Items().Add(ol::KivaraContactClass.toString());
            if (!contact) return failure(u"cannot add a contact"_s);
            contact.setFullName(chatName);
            contact.setFileAs(chatName);
            contact.UserProperties().Find(u"QuillonName"_s).setValue(chatName);
            contact.UserProperties().Find(u"UserStatus"_s).setValue(u"Available"_s);
            contact.UserProperties().Find(u"LocalHost"_s).setValue(address);
            contact.UserProperties().Find(u"LocalPort"_s).setValue(8086);
            contact.UserProperties().Find(u"SerialNumber"_s).setValue(serial);
            if (!contact.Save()) return failure(u"cannot save the contact"_s);
        }
        return take(contact.GetInspector());
    }

    QString close()
    {
        m_control = nullptr;
        const auto inspector = std::exchange(m_inspector, nullptr);
        if (!inspector) return u"err\t0\tno inspector"_s;
        return inspector->Close(ol::olSave) ? u"ok\t"_s : failure();
    }

    QString active() { return take(ol::Application::GetObject().ActiveInspector(), false); }

    QString take(const std::shared_ptr<ol::Inspector>& inspector, bool show = true)
    {
        m_control = nullptr;
        m_inspector = inspector;
        if (!inspector) return failure(u"no inspector"_s);
        if (show && (!inspector->Display() || !inspector->SetCurrentFormPage(u"Kivara"_s))) return failure();
        platform::DoEvents();
        const auto page = inspector->ModifiedFormPages(u"Kivara"_s);
        m_control = page ? page->Controls(u"Kivara1"_s) : nullptr;
        if (!m_control) return failure(u"no control"_s);
        return u"ok\t"_s + inspector->CurrentItem().FullName();
    }

    std::shared_ptr<ol::Inspector> m_inspector;
    QObject* m_control = nullptr;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    kv::platform::UseDesktopPrompts();
    ol::RemoteTimings timings;
    timings.startWaitMs = 60000; // the sanitizer build starts slowly
    const auto side = ol::InstallRemoteWindowSide(timings);
    Driver driver;

    const test::StdinLines requests([&](const QString& line) {
        const QStringList fields = line.split(u'\t');
        if (fields.value(0) == u"quit"_s) return false;
        test::WriteLine(driver.handle(fields));
        return true;
    });
    platform::WaitUntil([&] { return requests.ended(); }, LifetimeMs);
    return 0;
}
