#include "Shared/ContactRecords.h"

#include "Platform/Prompt.h"
#include "Shared/StoreAccess.h"
#include "Shared/modUser.h"

#include <QCursor>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace kv {

using namespace outlook;
using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {

constexpr QChar CR = u'\r';

// The arrow-and-hourglass pointer while the store is searched; restored once,
// before any message and at the end. Without a GUI there is no pointer.
class BusyPointer {
public:
    BusyPointer()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
            m_shown = true;
        }
    }
    ~BusyPointer() { restore(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
    void restore()
    {
        if (!m_shown) return;
        QGuiApplication::restoreOverrideCursor();
        m_shown = false;
    }

private:
    bool m_shown = false;
};

// A value inside a quoted filter literal: a quote is doubled, so an identifier
// holding one still finds its contact instead of failing the search.
QString filterLiteral(const QString& value)
{
    QString v = value;
    return u"'"_s + v.replace(u'\'', u"''"_s) + u"'"_s;
}

} // namespace

int SaveContact(StoreAccess& access, const QStringList& fields, bool interactive, const Item& shown)
{
    const auto field = [&](int i) { return fields.value(i); };
    using namespace contactfield;

    if (field(IPAddress).isEmpty()) {
        MsgBox(contacttext::NoAddress.toString() + CR + CR + contacttext::CannotSave.toString(),
               MsgButtons::OK, MsgIcon::Information);
        return -1;
    }

    BusyPointer pointer;
    // Without the folder there is nothing to search or add to; the reason has been shown.
    if (!access.currentFolder() && access.OpenFolder(access.folderName()) != 0) return -1;
    const MAPIFolder folder = access.currentFolder();

    // Without an identifier there is nothing to find: an empty one would match any contact made by hand.
    Item contact = field(SerialNum).isEmpty()
                       ? Item()
                       : folder.Items().Find(u"["_s + contactprop::SerialNumber.toString() + u"] = "_s +
                                             filterLiteral(field(SerialNum)));
    const qint32 findError = field(SerialNum).isEmpty() ? ErrNo::None : Err().Number;
    if (!contact && findError != ErrNo::None && findError != ErrNo::Exception &&
        findError != ErrNo::NotFound) {
        // The store failed (not merely "no such contact"): adding one now could duplicate it.
        pointer.restore();
        access.ShowOpenError(Err());
        return -1;
    }
    if (!contact && shown && shown.EntryID().isEmpty() &&
        shown.UserProperties().Find(contactprop::SerialNumber.toString()).Value().toString() ==
            field(SerialNum))
        contact = shown;
    if (!contact) {
        contact = folder.Items().Add(outlook::KivaraContactClass.toString());
        if (!contact) {
            pointer.restore();
            MsgBox(contacttext::FormNotInstalled.toString(), MsgButtons::OK, MsgIcon::Information);
            return -1;
        }
    } else if (interactive) {
        pointer.restore();
        if (MsgBox(contacttext::AlreadyExists.toString() + CR + CR + contacttext::UpdateQuestion.toString(),
                   MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes)
            return -1;
    }

    contact.setFullName(field(FullName));
    if (contact.FullName().isEmpty()) contact.setFullName(field(ChatName));
    contact.setCompanyName(field(Company));
    contact.setEmail1Address(field(Email));
    contact.setBusinessAddressCity(field(City));
    contact.setBusinessAddressState(field(State));
    contact.setBusinessAddressCountry(field(Country));
    contact.setBody(field(Comment));
    const UserProperties props = contact.UserProperties();
    props.Find(contactprop::QuillonName.toString()).setValue(field(ChatName));
    props.Find(contactprop::UserStatus.toString()).setValue(field(UserStatus));
    props.Find(contactprop::LocalHost.toString()).setValue(field(IPAddress));
    // The field list carries no port: a contact is always called on the chat port.
    props.Find(contactprop::LocalPort.toString()).setValue(DefaultLocalPort);
    props.Find(contactprop::SerialNumber.toString()).setValue(field(SerialNum));
    if (!contact.Save()) {
        pointer.restore();
        access.ShowOpenError(Err());
        return -1;
    }

    if (interactive) {
        pointer.restore();
        MsgBox(contacttext::SavedBefore.toString() + field(ChatName) + contacttext::SavedMiddle.toString() +
                   access.folderName() + contacttext::SavedAfter.toString(),
               MsgButtons::OK, MsgIcon::Information);
    }
    return 0;
}

} // namespace kv
