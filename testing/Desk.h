#pragma once
// What stands in for the person and the desktop in a test: prompts answered
// by rules (and logged), sounds and shell calls recorded instead of made.
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/ScriptedPrompt.h"
#include "Platform/Shell.h"
#include "Platform/Sound.h"
#include "Shared/modUser.h"
#include "testing/SimComputer.h"

#include <QObject>
#include <QStringList>
#include <memory>

namespace kv::test {

struct Desk {
    platform::ScriptedPrompt* prompt = nullptr;
    platform::RecordingSound* sound = nullptr;
    platform::RecordingShell* shell = nullptr;

    // Installs all three for this process; the prompts answer by the rules.
    void install(const QString& promptRules = {});
    // A new prompt answering by these rules; its log starts empty.
    void rules(const QString& text);
    // The prompts shown so far: a message box's text, or "form:" and a form's title.
    QStringList promptTexts() const;
};

// The base of a suite whose every case runs in a fresh computer of its own,
// with the store's windows headless and the desk installed.
class HeadlessCase : public QObject {
protected:
    void startCase(const QString& localIp = QStringLiteral("127.0.0.1"),
                   const QString& serialNum = QStringLiteral("KV-TEST-0001"));
    // Takes the window side back before the computer, whose store it uses, goes.
    void endCase();

    std::unique_ptr<SimComputer> m_computer;
    std::shared_ptr<outlook::HeadlessWindowSide> m_side;
    Desk m_desk;
};

// A user's profile as the suites make it: "<name> Example", <name>@example.org, available.
ProfileRecord UserProfile(const QString& name, const QString& ip, const QString& serial);
// The complete profile the suites call from: Ann at ip, with a comment and a chat type.
ProfileRecord AnnProfile(const QString& ip);

} // namespace kv::test
