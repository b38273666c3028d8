#pragma once
// Calling an object's members by name, as the callers of the chat control and
// of the form objects do. A local object is reached through its meta-object
// (Q_INVOKABLE methods, Q_PROPERTY properties); an object that lives in
// another process answers through AutomationObject. Outcomes go to Err().
#include "Platform/Outlook/Outlook.h"

#include <QObject>
#include <QVariant>
#include <QVariantList>
#include <memory>

namespace kv::outlook {

class Inspector;

// What kind of member access a call is.
enum CallType { VbMethod = 1, VbGet = 2, VbLet = 4 };

// An object that dispatches member calls itself (a proxy of a remote object).
class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    virtual QVariant invokeMember(const QString& name, int callType, const QVariantList& args) = 0;
};

// Calls a method, reads or writes a property of object by name (case-insensitive).
// Arguments convert to the member's parameter types. Errors: 91 no object,
// 438 no such member, 450 wrong number of arguments, 13 an argument that
// does not convert. A method without a result gives an invalid QVariant.
QVariant CallByName(QObject* object, const QString& name, int callType, const QVariantList& args = {});

// The inspector as a form's script and a hosted control see it (the control's
// objParent): CurrentItem and Close by name.
class InspectorObject : public QObject {
    Q_OBJECT
public:
    explicit InspectorObject(std::weak_ptr<Inspector> inspector, QObject* parent = nullptr);

    // The item (a kv::outlook::Item in the variant).
    Q_INVOKABLE QVariant CurrentItem();
    Q_INVOKABLE bool Close(int saveMode);
    Q_INVOKABLE bool Display();
    Q_INVOKABLE bool SetCurrentFormPage(const QString& pageName);

    std::shared_ptr<Inspector> inspector() const { return m_inspector.lock(); }

private:
    std::weak_ptr<Inspector> m_inspector;
};

} // namespace kv::outlook

Q_DECLARE_METATYPE(kv::outlook::Item)
