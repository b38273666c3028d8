#include "Prompt.h"

#include "QtPrompt.h"
#include "ScriptedPrompt.h"

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {
constexpr auto RulesVariable = "KIVARA_PROMPTS";
constexpr auto LogVariable = "KIVARA_PROMPT_LOG";

std::unique_ptr<Prompt>& Installed()
{
    static std::unique_ptr<Prompt> prompt;
    return prompt;
}
} // namespace

std::unique_ptr<Prompt> Prompt::createDefault()
{
    const QString rules = qEnvironmentVariable(RulesVariable);
    const QString log = qEnvironmentVariable(LogVariable);
    if (!rules.isEmpty()) return ScriptedPrompt::fromFile(rules, log);
    if (!log.isEmpty()) return std::make_unique<ScriptedPrompt>(QString(), log);
    return std::make_unique<QtPrompt>();
}

Prompt& Prompt::current()
{
    std::unique_ptr<Prompt>& prompt = Installed();
    if (!prompt) prompt = createDefault();
    return *prompt;
}

void Prompt::install(std::unique_ptr<Prompt> prompt)
{
    Installed() = std::move(prompt);
}

MsgResult MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title)
{
    MsgBoxRequest request;
    request.text = text;
    request.buttons = buttons;
    request.icon = icon;
    request.title = title;
    return Prompt::current().msgBox(request);
}

} // namespace kv::platform
