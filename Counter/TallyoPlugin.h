#pragma once
// The counter library as the mail host loads it: a plugin that makes the
// control `Counter` by class name for the Today page.
#include "Platform/ControlPlugin.h"

#include <QObject>

namespace kv::tallyo {

class TallyoPlugin : public QObject, public kv::platform::ControlFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KivaraControlFactory_iid FILE "tallyo.json")
    Q_INTERFACES(kv::platform::ControlFactory)
public:
    QWidget* create(const QString& className, QWidget* parent) override;
    void attachHost(std::shared_ptr<kv::outlook::WindowSide> windows) override;
};

} // namespace kv::tallyo
