#pragma once
// What stands in for the person and the desktop in a test: prompts answered
// by rules (and logged), sounds and shell calls recorded instead of made.
#include "Prompt.h"
#include "ScriptedPrompt.h"
#include "Shell.h"
#include "Sound.h"
#include "modUser.h"

#include <QStringList>

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

// A user's profile as the suites make it: "<name> Example", <name>@example.org, available.
ProfileRecord UserProfile(const QString& name, const QString& ip, const QString& serial);
// The complete profile the suites call from: Ann at ip, with a comment and a chat type.
ProfileRecord AnnProfile(const QString& ip);

} // namespace kv::test
