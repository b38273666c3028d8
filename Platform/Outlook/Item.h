#pragma once
// One item; unsaved changes live in the shared ItemData until Save.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace kv::outlook {

// A contact, mail or other message item. Which members it has follows its
// message class ("IPM.Contact..." a contact item, any other a mail item); a
// member it lacks fails with 438, as reading NickName of a mail does.
class Item {
public:
    Item() = default;
    explicit operator bool() const { return d != nullptr; }
    // The same object (shares its unsaved state).
    bool operator==(const Item& o) const { return d == o.d; }
    // The same stored item (two handles found separately).
    bool isSameStored(const Item& o) const;

    // Common
    QString MessageClass() const;
    bool setMessageClass(const QString& messageClass) const;
    QString Body() const;
    bool setBody(const QString& body) const;
    QString EntryID() const; // empty until saved
    bool Saved() const;      // stored and unchanged since
    MAPIFolder Parent() const;
    kv::outlook::UserProperties UserProperties() const;
    bool Save() const;
    // Moves the item to "Deleted Items" of its store; there, removes it.
    bool Delete() const;
    // Returns the item in its new folder (an unsaved item is saved there).
    Item Move(const MAPIFolder& folder) const;
    bool Display(bool modal = false) const;
    std::shared_ptr<Inspector> GetInspector() const;
    // olSave saves, olDiscard drops unsaved changes; closes its inspector.
    bool Close(int saveMode) const;
    // olRTF: rich text (body with the attachments at their positions); olTXT: plain text.
    bool SaveAs(const QString& path, int type = olRTF) const;
    // Appends a rich-text file saved by SaveAs (a signature) to the body, with
    // its attachments; false, with nothing changed, when it cannot be read.
    bool InsertSignature(const QString& path) const;

    // Contact items
    QString FullName() const;
    bool setFullName(const QString& v) const;
    QString FileAs() const;
    bool setFileAs(const QString& v) const;
    QString CompanyName() const;
    bool setCompanyName(const QString& v) const;
    QString Email1Address() const;
    bool setEmail1Address(const QString& v) const;
    QString BusinessAddressCity() const;
    bool setBusinessAddressCity(const QString& v) const;
    QString BusinessAddressState() const;
    bool setBusinessAddressState(const QString& v) const;
    QString BusinessAddressCountry() const;
    bool setBusinessAddressCountry(const QString& v) const;
    QString NickName() const;
    bool setNickName(const QString& v) const;

    // Mail items
    QString Subject() const;
    bool setSubject(const QString& v) const;
    QString SentOnBehalfOfName() const;
    bool setSentOnBehalfOfName(const QString& v) const;
    kv::outlook::Recipients Recipients() const;
    kv::outlook::Attachments Attachments() const;

    // Late-bound access by member name (the host program and D-Bus use it).
    QVariant GetMember(const QString& name) const;
    bool SetMember(const QString& name, const QVariant& value) const;

    // An unsaved item handed to another process: message class, folder,
    // members, user properties and attachments (see Application::ItemFromSnapshot).
    QVariantMap Snapshot() const;

    bool isContact() const;

private:
    friend class Items;
    friend class Application;
    friend class NameSpace;
    friend class UserProperties;
    explicit Item(std::shared_ptr<detail::ItemData> data) : d(std::move(data)) {}
    bool check() const; // clears Err; Nothing keeps the pending one

    std::shared_ptr<detail::ItemData> d;
};

} // namespace kv::outlook
