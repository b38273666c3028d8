#pragma once
// Registered forms: the message classes beyond the standard ones, and their properties.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QList>
#include <QString>

namespace kv::outlook {

// The forms registry. A class other than the standard ones ("IPM.Note",
// "IPM.Contact", ...) is usable with Items.Add only while its form is
// registered; a form defines the user properties its items carry.
struct FormProperty {
    QString name;
    int type = olText;
};
bool RegisterForm(const Application& app, const QString& messageClass, const QList<FormProperty>& properties);
bool UnregisterForm(const Application& app, const QString& messageClass);
bool IsFormRegistered(const Application& app, const QString& messageClass);

inline constexpr QStringView KivaraContactClass = u"IPM.Contact.Kivara Contact";
inline constexpr QStringView KivaraMessageClass = u"IPM.Note.Kivara Message";
// The product set-up's registration of both forms (idempotent).
bool RegisterProductForms(const Application& app);
bool RegisterProductForms(const QString& storePath);

} // namespace kv::outlook
