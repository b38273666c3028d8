#include "Platform/Outlook/FormRegistry.h"

#include "Platform/Outlook/Application.h"
#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/Values.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

bool RegisterForm(const Application& app, const QString& messageClass, const QList<FormProperty>& properties)
{
    if (!Valid(app.d)) return false;
    if (!validClass(messageClass)) return SetErr(ErrNo::InvalidArg, u"The message class is not valid."_s);
    QSet<QString> seen;
    for (const FormProperty& p : properties) {
        if (p.name.trimmed().isEmpty() || !detail::IsKnownPropertyType(p.type) ||
            seen.contains(p.name.toLower()))
            return SetErr(ErrNo::InvalidArg, u"The form's property \"%1\" is not valid."_s.arg(p.name));
        seen.insert(p.name.toLower());
    }
    if (!openStore(*app.d)) return false;
    Store& s = app.d->s();
    return s.write([&] {
        Query del(s, u"DELETE FROM forms WHERE message_class = ?"_s, {messageClass});
        Query ins(s, u"INSERT INTO forms (message_class) VALUES (?)"_s, {messageClass});
        if (!del.ok() || !ins.ok()) return false;
        int idx = 0;
        for (const FormProperty& p : properties) {
            Query q(s, u"INSERT INTO form_props (message_class, name, type, idx) VALUES (?, ?, ?, ?)"_s,
                    {messageClass, p.name, p.type, ++idx});
            if (!q.ok()) return false;
        }
        return true;
    });
}

bool UnregisterForm(const Application& app, const QString& messageClass)
{
    if (!Valid(app.d)) return false;
    if (!openStore(*app.d)) return false;
    Store& s = app.d->s();
    return s.write([&] {
        Query q(s, u"DELETE FROM forms WHERE message_class = ?"_s, {messageClass});
        if (!q.ok()) return false;
        if (q.rowsAffected() == 0) return SetErr(ErrNo::Exception, NotFoundText);
        return true;
    });
}

bool IsFormRegistered(const Application& app, const QString& messageClass)
{
    if (!Valid(app.d)) return false;
    if (!openStore(*app.d)) return false;
    return formRegistered(app.d->s(), messageClass);
}

bool RegisterProductForms(const Application& app)
{
    return RegisterForm(app, KivaraContactClass.toString(),
                        {{u"QuillonName"_s, olText},
                         {u"UserStatus"_s, olText},
                         {u"LocalHost"_s, olText},
                         {u"LocalPort"_s, olNumber},
                         {u"SerialNumber"_s, olText}}) &&
           RegisterForm(app, KivaraMessageClass.toString(),
                        {{u"IPAddress"_s, olText},
                         {u"ChatName"_s, olText},
                         {u"Availability"_s, olText},
                         {u"MsgRead"_s, olYesNo}});
}

bool RegisterProductForms(const QString& storePath)
{
    return RegisterProductForms(Application(storePath));
}

} // namespace kv::outlook
