#include "Platform/Outlook/Application.h"

#include "Platform/Outlook/Item.h"
#include "Platform/Outlook/NameSpace.h"
#include "Platform/Outlook/ObjectData.h"
#include "Platform/Outlook/Values.h"
#include "Platform/Outlook/WindowSide.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

Application::Application(const QString& storePath)
    : d(std::make_shared<AppData>(AppData{Store::forPath(storePath)}))
{}

Application Application::GetObject()
{
    ClearErr();
    if (!WindowSide::current()->IsRunning()) {
        SetErr(ErrNo::CannotCreateObject, u"ActiveX component can't create object"_s);
        return {};
    }
    return Application(DefaultStorePath());
}

Application Application::CreateObject()
{
    ClearErr();
    const std::shared_ptr<WindowSide> side = WindowSide::current();
    if (!side->IsRunning() && !side->Start()) {
        SetErr(ErrNo::CannotCreateObject, u"ActiveX component can't create object"_s);
        return {};
    }
    return Application(DefaultStorePath());
}

NameSpace Application::GetNamespace(const QString& type) const
{
    if (!Valid(d)) return {};
    if (type.compare(u"MAPI"_s, Qt::CaseInsensitive) != 0) {
        SetErr(ErrNo::InvalidArg, u"Only the \"MAPI\" namespace is available."_s);
        return {};
    }
    NameSpace ns;
    ns.d = d;
    return ns;
}

Item Application::CreateItem(int itemType) const
{
    if (!Valid(d)) return {};
    QString cls;
    if (itemType == olMailItem)
        cls = u"IPM.Note"_s;
    else if (itemType == olContactItem)
        cls = u"IPM.Contact"_s;
    else {
        SetErr(ErrNo::InvalidArg, u"That kind of item cannot be created."_s);
        return {};
    }
    auto data = std::make_shared<ItemData>();
    data->app = d;
    data->messageClass = cls;
    data->attsLoaded = data->recipsLoaded = true;
    return Item(data);
}

std::shared_ptr<Explorer> Application::ActiveExplorer() const
{
    if (!Valid(d)) return nullptr;
    return WindowSide::current()->ActiveExplorer();
}

std::shared_ptr<Inspector> Application::ActiveInspector() const
{
    if (!Valid(d)) return nullptr;
    return WindowSide::current()->ActiveInspector();
}

QString Application::StorePath() const
{
    return d ? d->store->path() : QString();
}

Item Application::ItemFromSnapshot(const QVariantMap& snapshot) const
{
    if (!Valid(d)) return {};
    if (!openStore(*d)) return {};
    const QString cls = snapshot.value(u"messageClass"_s).toString();
    if (!validClass(cls)) {
        SetErr(ErrNo::InvalidArg, u"The item has no message class."_s);
        return {};
    }
    auto data = std::make_shared<ItemData>();
    data->app = d;
    data->messageClass = cls;
    data->folderId = snapshot.value(u"folder"_s).toLongLong();
    if (data->folderId != 0 && !folderRow(d->s(), data->folderId)) {
        SetErr(ErrNo::NotFound, FolderGoneText);
        return {};
    }
    data->attsLoaded = data->recipsLoaded = true;
    mergeFormProperties(*data);
    const QVariantMap fields = snapshot.value(u"members"_s).toMap();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const int i = memberIndex(it.key());
        if (i >= 0) data->fields[i] = it.value().toString();
    }
    const QVariantList props = snapshot.value(u"userProperties"_s).toList();
    for (const QVariant& pv : props) {
        const QVariantMap p = pv.toMap();
        const int type = p.value(u"type"_s).toInt();
        QVariant value;
        if (!detail::IsKnownPropertyType(type) || !detail::Coerce(type, p.value(u"value"_s), &value))
            continue;
        const QString name = p.value(u"name"_s).toString();
        if (PropValue* existing = data->prop(name))
            existing->value = value;
        else if (!name.isEmpty())
            data->props.append({name, type, value, true});
    }
    const QVariantList atts = snapshot.value(u"attachments"_s).toList();
    for (const QVariant& av : atts) {
        const QVariantMap a = av.toMap();
        data->atts.append({a.value(u"type"_s).toInt(), a.value(u"position"_s).toInt(),
                           a.value(u"displayName"_s).toString(), a.value(u"fileName"_s).toString(),
                           a.value(u"data"_s).toByteArray()});
    }
    const QVariantList recips = snapshot.value(u"recipients"_s).toList();
    for (const QVariant& rv : recips) {
        const QVariantMap r = rv.toMap();
        data->recips.append({r.value(u"type"_s).toInt(), r.value(u"name"_s).toString(),
                             r.value(u"address"_s).toString(), r.value(u"resolved"_s).toBool()});
    }
    data->attsDirty = !data->atts.isEmpty();
    data->recipsDirty = !data->recips.isEmpty();
    for (int i = 0; i < MemberCount; ++i)
        data->dirtyFields.insert(i);
    return Item(data);
}

} // namespace kv::outlook
