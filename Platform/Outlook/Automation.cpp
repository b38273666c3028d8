#include "Platform/Outlook/Automation.h"

#include "Platform/Outlook/WindowSide.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <array>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using detail::SetErr;

namespace {

const QString NoMemberText = u"Object doesn't support this property or method"_s;
const QString ArgCountText = u"Wrong number of arguments or invalid property assignment"_s;
const QString MismatchText = u"Type mismatch"_s;
const QString ClosedText = u"The window has been closed."_s;
constexpr int MaxArguments = 10; // what QMetaMethod::invoke takes

int findProperty(const QMetaObject* mo, const QString& name)
{
    for (int i = 0; i < mo->propertyCount(); ++i)
        if (QString::fromLatin1(mo->property(i).name()).compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

// Methods of that name; a method with default arguments appears once per arity.
QList<QMetaMethod> findMethods(const QMetaObject* mo, const QString& name)
{
    QList<QMetaMethod> found;
    for (int i = 0; i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.access() != QMetaMethod::Public) continue;
        if (m.methodType() != QMetaMethod::Method && m.methodType() != QMetaMethod::Slot) continue;
        if (QString::fromLatin1(m.name()).compare(name, Qt::CaseInsensitive) == 0) found.append(m);
    }
    return found;
}

bool convertTo(QVariant& value, QMetaType type)
{
    if (type.id() == QMetaType::QVariant) return true;
    if (value.metaType() == type) return true;
    if (type.id() == QMetaType::QObjectStar) {
        if (value.isNull() || !value.isValid()) {
            value = QVariant::fromValue<QObject*>(nullptr);
            return true;
        }
        return value.convert(type);
    }
    if (!value.isValid()) {
        value = QVariant(type);
        return true;
    }
    QVariant copy = value;
    if (!copy.convert(type)) return false;
    value = copy;
    return true;
}

QVariant invokeMethod(QObject* object, const QMetaMethod& method, QVariantList args)
{
    std::array<QGenericArgument, MaxArguments> gargs{};
    for (int i = 0; i < args.size(); ++i) {
        const QMetaType want = method.parameterMetaType(i);
        if (!convertTo(args[i], want)) {
            SetErr(ErrNo::TypeMismatch, MismatchText);
            return {};
        }
        // A QVariant parameter receives the QVariant itself.
        gargs[i] = want.id() == QMetaType::QVariant ? QGenericArgument("QVariant", &args[i])
                                                    : QGenericArgument(want.name(), args[i].constData());
    }
    QVariant result;
    QGenericReturnArgument ret;
    if (method.returnMetaType().isValid() && method.returnMetaType().id() != QMetaType::Void) {
        result = QVariant(method.returnMetaType());
        ret = method.returnMetaType().id() == QMetaType::QVariant
                  ? QGenericReturnArgument("QVariant", &result)
                  : QGenericReturnArgument(method.typeName(), result.data());
    }
    const bool ok = method.invoke(object, Qt::DirectConnection, ret, gargs[0], gargs[1], gargs[2], gargs[3],
                                  gargs[4], gargs[5], gargs[6], gargs[7], gargs[8], gargs[9]);
    if (!ok) {
        SetErr(ErrNo::NotSupported, NoMemberText);
        return {};
    }
    return result;
}

} // namespace

QVariant CallByName(QObject* object, const QString& name, int callType, const QVariantList& args)
{
    ClearErr();
    if (!object) {
        SetErr(ErrNo::ObjectNotSet, u"Object variable or With block variable not set"_s);
        return {};
    }
    if (auto* remote = dynamic_cast<AutomationObject*>(object)) return remote->invokeMember(name, callType, args);
    if (args.size() > MaxArguments) {
        SetErr(ErrNo::WrongArguments, ArgCountText);
        return {};
    }
    const QMetaObject* mo = object->metaObject();
    const int prop = findProperty(mo, name);
    if (callType == VbLet) {
        if (prop < 0 || !mo->property(prop).isWritable()) {
            SetErr(ErrNo::NotSupported, NoMemberText);
            return {};
        }
        if (args.size() != 1) {
            SetErr(ErrNo::WrongArguments, ArgCountText);
            return {};
        }
        const QMetaProperty p = mo->property(prop);
        QVariant value = args.first();
        if (!convertTo(value, p.metaType()) || !p.write(object, value)) {
            SetErr(ErrNo::TypeMismatch, MismatchText);
            return {};
        }
        return {};
    }
    if (prop >= 0 && args.isEmpty() && (callType == VbGet || findMethods(mo, name).isEmpty()))
        return mo->property(prop).read(object);
    const QList<QMetaMethod> methods = findMethods(mo, name);
    if (methods.isEmpty()) {
        SetErr(ErrNo::NotSupported, NoMemberText);
        return {};
    }
    for (const QMetaMethod& m : methods)
        if (m.parameterCount() == args.size()) return invokeMethod(object, m, args);
    SetErr(ErrNo::WrongArguments, ArgCountText);
    return {};
}

// ---------------------------------------------------------------- InspectorObject

InspectorObject::InspectorObject(std::weak_ptr<Inspector> inspector, QObject* parent)
    : QObject(parent), m_inspector(std::move(inspector))
{
    setObjectName(u"Inspector"_s);
}

QVariant InspectorObject::CurrentItem()
{
    const auto i = m_inspector.lock();
    if (!i) {
        SetErr(ErrNo::NotFound, ClosedText);
        return {};
    }
    const Item item = i->CurrentItem();
    return item ? QVariant::fromValue(item) : QVariant();
}

bool InspectorObject::Close(int saveMode)
{
    const auto i = m_inspector.lock();
    return i ? i->Close(saveMode) : SetErr(ErrNo::NotFound, ClosedText);
}

bool InspectorObject::Display()
{
    const auto i = m_inspector.lock();
    return i ? i->Display(false) : SetErr(ErrNo::NotFound, ClosedText);
}

bool InspectorObject::SetCurrentFormPage(const QString& pageName)
{
    const auto i = m_inspector.lock();
    return i ? i->SetCurrentFormPage(pageName) : SetErr(ErrNo::NotFound, ClosedText);
}

} // namespace kv::outlook
