#include "Control/QuillonPlugin.h"

#include "Control/Kivara.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/QtPrompt.h"

using namespace Qt::StringLiterals;

namespace kv::control {

QWidget* QuillonPlugin::create(const QString& className, QWidget* parent)
{
    platform::UseDesktopPrompts(); // this library's own copy of the prompt service
    if (className.compare(u"Kivara"_s, Qt::CaseInsensitive) != 0) return nullptr;
    return new Kivara(parent);
}

void QuillonPlugin::attachHost(std::shared_ptr<kv::outlook::WindowSide> windows)
{
    // The library's own copy of the object model then opens forms in the host.
    kv::outlook::WindowSide::install(std::move(windows));
}

} // namespace kv::control
