#include "Platform/Prompt.h"

#include <QTextStream>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

// No desktop to ask on: the question goes to standard error with the answer
// taken, so a command-line program never waits on a dialog nobody can see.
class ConsolePrompt : public Prompt {
public:
    MsgResult msgBox(const MsgBoxRequest& request) override
    {
        const MsgResult answer = defaultAnswer(request);
        QString text = request.text;
        text.replace(u'\r', u'\n');
        QTextStream(stderr) << request.title << u": "_s << text << u"\n"_s;
        return answer;
    }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(const FileDialogRequest&) override { return {}; }
    QStringList openFiles(const FileDialogRequest&) override { return {}; }
    QString saveFile(const FileDialogRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    PrintAnswer print(const PrintRequest&) override { return {}; }
    void formShown(QWidget*) override {}

private:
    static MsgResult defaultAnswer(const MsgBoxRequest& request)
    {
        using enum MsgResult;
        const auto pick = [&](std::initializer_list<MsgResult> buttons) {
            const int index = qBound(1, request.defaultButton, int(buttons.size())) - 1;
            return *(buttons.begin() + index);
        };
        switch (request.buttons) {
        case MsgButtons::OK: return OK;
        case MsgButtons::OKCancel: return pick({OK, Cancel});
        case MsgButtons::AbortRetryIgnore: return pick({Abort, Retry, Ignore});
        case MsgButtons::YesNoCancel: return pick({Yes, No, Cancel});
        case MsgButtons::YesNo: return pick({Yes, No});
        case MsgButtons::RetryCancel: return pick({Retry, Cancel});
        }
        return Cancel;
    }
};

std::unique_ptr<Prompt>& Installed()
{
    static std::unique_ptr<Prompt> prompt;
    return prompt;
}

Prompt::Factory& DefaultFactory()
{
    static Prompt::Factory factory = nullptr;
    return factory;
}

} // namespace

std::unique_ptr<Prompt> Prompt::createDefault()
{
    if (const Factory factory = DefaultFactory()) return factory();
    return std::make_unique<ConsolePrompt>();
}

void Prompt::setDefaultFactory(Factory factory)
{
    DefaultFactory() = factory;
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
