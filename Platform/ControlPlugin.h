#pragma once
// Controls that a form hosts are loaded by class name from the system folder
// (the folder of the product's programs), as Qt plugins. A plugin lists the
// classes it provides in its metadata ("classes": ["Kivara"]) so that the
// loader finds the right library without loading the others.
#include <QString>
#include <QStringList>
#include <QtPlugin>
#include <memory>

class QWidget;

namespace kv::outlook {
class WindowSide;
}

namespace kv::platform {

class ControlFactory {
public:
    virtual ~ControlFactory() = default;
    // A new instance of the class, or nullptr when this library has no such class.
    virtual QWidget* create(const QString& className, QWidget* parent) = 0;
    // The library carries its own copy of the platform layer: give it the
    // host's window side so that its object-model calls reach the host's windows.
    virtual void attachHost(std::shared_ptr<kv::outlook::WindowSide> windows) = 0;
};

// The metadata key listing the classes of a plugin.
inline constexpr QStringView ControlClassesKey = u"classes";

// Where the control libraries of the programs in systemFolder (empty: this
// program's folder) are: the installed layout's library folder, relative to
// the programs so that a moved prefix still works, or else the system folder
// itself, as in the build tree.
QString ControlFolder(const QString& systemFolder = {});

// Creates a control of the class from the first library in folder (empty:
// ControlFolder()) that provides it. Null with *error set when none does or
// the library fails to load; never throws.
QWidget* CreateControl(const QString& className, QWidget* parent, QString* error = nullptr,
                       const QString& folder = {});

// The library in folder that provides the class, or empty.
QString FindControlLibrary(const QString& className, const QString& folder = {});

} // namespace kv::platform

#define KivaraControlFactory_iid "org.kivara.ControlFactory/1.0"
Q_DECLARE_INTERFACE(kv::platform::ControlFactory, KivaraControlFactory_iid)
