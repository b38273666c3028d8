// The object model's Find and Restrict filters: each input is a filter text,
// parsed and then run by Find, FindNext and Restrict against a folder of
// contacts and one of messages. A text the parser refuses finds nothing.
#include "fuzz/FuzzSupport.h"

#include "Platform/Outlook/Filter.h"
#include "Platform/Outlook/Outlook.h"
#include "Platform/Outlook/Store.h"

using namespace Qt::StringLiterals;
using namespace kv;
using namespace kv::outlook;

namespace {

struct Targets {
    MAPIFolder contacts;
    MAPIFolder messages;
};

Targets& folders()
{
    static Targets f;
    return f;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Start(u"127.130.3.2"_s);
    const Application app(DefaultStorePath());
    MAPIFolder root = app.GetNamespace(u"MAPI"_s).Folders().Item(PersonalFoldersName.toString());
    Targets& f = folders();
    f.contacts = root.Folders().Add(u"Kivara"_s, olFolderContacts);
    f.messages = f.contacts.Folders().Add(u"Messages"_s, olFolderInbox);
    if (!f.contacts || !f.messages) fuzz::Fail(u"the folders could not be made"_s);
    const QStringList names{u"Bob"_s, u"O'Hara"_s, u"Zoë"_s, u""_s};
    for (int i = 0; i < names.size(); ++i) {
        Item c = f.contacts.Items().Add(KivaraContactClass.toString());
        c.setFullName(names[i]);
        c.UserProperties().Find(u"SerialNumber"_s).setValue(u"KV-%1"_s.arg(i));
        c.UserProperties().Find(u"LocalPort"_s).setValue(8086 + i);
        c.Save();
        Item m = f.messages.Items().Add(KivaraMessageClass.toString());
        m.setSubject(u"Hello from "_s + names[i]);
        m.UserProperties().Find(u"ChatName"_s).setValue(names[i]);
        m.UserProperties().Find(u"MsgRead"_s).setValue(i % 2 == 0);
        m.Save();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString why;
    const std::optional<detail::ParsedFilter> parsed = detail::ParseFilter(text, &why);
    if (parsed) {
        if (parsed->name.isEmpty() || parsed->name != parsed->name.trimmed())
            fuzz::Fail(u"filter \"%1\" gives the property name \"%2\""_s.arg(text, parsed->name));
    } else if (why.isEmpty()) {
        fuzz::Fail(u"filter \"%1\" was refused without a reason"_s.arg(text));
    }
    for (const MAPIFolder& folder : {folders().contacts, folders().messages}) {
        const Items items = folder.Items();
        const Item first = items.Find(text);
        if (first && !parsed) fuzz::Fail(u"filter \"%1\" was refused but found an item"_s.arg(text));
        int found = first ? 1 : 0;
        while (first && found <= items.Count() && items.FindNext())
            ++found;
        if (found > items.Count()) fuzz::Fail(u"filter \"%1\" finds more items than there are"_s.arg(text));
        const Items restricted = items.Restrict(text);
        if (restricted && !parsed) fuzz::Fail(u"filter \"%1\" was refused but restricts"_s.arg(text));
        if (restricted && restricted.Count() != found)
            fuzz::Fail(u"filter \"%1\": Restrict counts %2, Find and FindNext %3"_s.arg(text)
                           .arg(restricted.Count())
                           .arg(found));
    }
    return 0;
}
