#include "Counter/TallyoPlugin.h"

#include "Counter/Counter.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/QtPrompt.h"

using namespace Qt::StringLiterals;

namespace kv::tallyo {

QWidget* TallyoPlugin::create(const QString& className, QWidget* parent)
{
    platform::UseDesktopPrompts(); // this library's own copy of the prompt service
    if (className.compare(u"Counter"_s, Qt::CaseInsensitive) != 0) return nullptr;
    return new Counter(parent);
}

void TallyoPlugin::attachHost(std::shared_ptr<kv::outlook::WindowSide> windows)
{
    // Clicks then switch the host's own explorer to the Messages folder.
    kv::outlook::WindowSide::install(std::move(windows));
}

} // namespace kv::tallyo
