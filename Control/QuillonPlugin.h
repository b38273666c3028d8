#pragma once
// The chat control library as the mail host loads it: a plugin that makes
// the control `Kivara` by class name.
#include "Platform/ControlPlugin.h"

#include <QObject>

namespace kv::control {

class QuillonPlugin : public QObject, public kv::platform::ControlFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KivaraControlFactory_iid FILE "quillon.json")
    Q_INTERFACES(kv::platform::ControlFactory)
public:
    QWidget* create(const QString& className, QWidget* parent) override;
    void attachHost(std::shared_ptr<kv::outlook::WindowSide> windows) override;
};

} // namespace kv::control
