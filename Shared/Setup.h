#pragma once
// The product set-up an installer performs for the current user: the
// settings it owns, the data files, the link that marks the installation
// folder, the program group and ".kvp" type as desktop entries and a MIME
// package, the registrations the uninstaller removes, the forms and the
// product folder with its welcome contact. Values already set are kept.
#include <QString>

namespace kv::setup {

// The contact the set-up places in the product folder; the uninstaller deletes it.
inline constexpr QStringView WelcomeContactName = u"1. Welcome to Kivara!!!";

struct Options {
    QString systemFolder; // where the programs and control libraries are
    QString share;        // the source tree's share/ (sounds/, help/, icons/); may be empty
};

struct Result {
    QString installDir; // ends with "/"
    QString serialNum;
    int files = 0;      // data files copied
    bool forms = false; // forms registered and the product folder in place
    QString error;
};

// Where the product goes when InstallDir is not set yet.
QString DefaultInstallDir();
// The installed data files (sounds/, help/, icons/) that belong with the
// programs in systemFolder, found relative to it; empty outside an installation.
QString InstalledShare(const QString& systemFolder);
Result Install(const Options& options);
// An installed program's first start for a user who has no installation yet
// (no InstallDir): Install with the installed data files. Does nothing once
// set up, or outside an installation (a build tree is set up by kvsetup).
void FirstStart(const QString& systemFolder);

} // namespace kv::setup
