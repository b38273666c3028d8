#pragma once
// Kivara contacts: a peer's profile stored as, or updating, a contact item of
// the product's form in the product folder, found by the peer's installation
// identifier.
#include "Platform/Outlook/Outlook.h"

#include <QStringList>

namespace kv {

class StoreAccess;

namespace contacttext {
inline constexpr QStringView NoAddress = u"No network address was specified for this contact.";
inline constexpr QStringView CannotSave = u"Cannot save this contact.";
inline constexpr QStringView FormNotInstalled =
    u"Cannot create new Kivara Contact item.  The Kivara Contact form is not installed.";
inline constexpr QStringView AlreadyExists = u"This Kivara Contact already exists.";
inline constexpr QStringView UpdateQuestion = u"Do you want to update their profile ?";
inline constexpr QStringView SavedBefore = u"Saved '";
inline constexpr QStringView SavedMiddle = u"' in '";
inline constexpr QStringView SavedAfter = u"' folder.";
} // namespace contacttext

// The user properties of a Kivara contact.
namespace contactprop {
inline constexpr QStringView QuillonName = u"QuillonName";
inline constexpr QStringView UserStatus = u"UserStatus";
inline constexpr QStringView LocalHost = u"LocalHost";
inline constexpr QStringView LocalPort = u"LocalPort";
inline constexpr QStringView SerialNumber = u"SerialNumber";
} // namespace contactprop

// Positions in the field list (the order of ProfileFieldString; index 0 holds
// the command word and is ignored).
namespace contactfield {
inline constexpr int FullName = 1, Company = 2, Email = 3, City = 4, State = 5, Country = 6, Comment = 7,
                     ChatName = 8, UserStatus = 9, IPAddress = 10, SerialNum = 11;
} // namespace contactfield

// Creates or updates the peer's Kivara contact. Interactive: asks before
// updating an existing contact and confirms the save. Returns 0, or -1 when
// nothing was saved. shown: the contact a form shows, if any; when it was never
// saved and carries the peer's identifier, it becomes the stored contact, so
// that closing the form later does not store the peer a second time.
int SaveContact(StoreAccess& access, const QStringList& fields, bool interactive,
                const outlook::Item& shown = {});

} // namespace kv
