#pragma once
// The chat options dialog: the user's profile ("My Infomation"), messages,
// sounds, colours and view ("Options"), file transfer and adding callers
// ("Settings"), and "About". In the new-user mode it creates the profile at
// session start.
#include "Shared/modUser.h"

#include <QColor>
#include <QDialog>
#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;

namespace Ui {
class frmOptions;
}

namespace kv::control {

class frmOptions : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Normal, NewUser, About };

    // What the dialog answers when it saved a profile.
    static constexpr QStringView Success = u"SUCCESS";
    static constexpr QStringView Caption = u"Options";
    static constexpr QStringView NewProfileCaption = u"Kivara - New Profile";
    static constexpr QStringView NoChatNameText = u"You must supply a Chat name.";
    static constexpr QStringView StandardContactsFound =
        u"Standard Outlook contacts were found in this folder.\r\rWould you like to update these contacts to "
        u"Kivara contacts ?";
    static constexpr QStringView ContactsUpdatedBefore = u"The '";
    static constexpr QStringView ContactsUpdatedAfter = u"' contacts were updated successfully.";
    static constexpr QStringView DefaultFolderBefore =
        u"The default Outlook folder for your Kivara contacts is now '";
    static constexpr QStringView DefaultFolderAfter = u"'.";
    static constexpr QStringView NoFolderText =
        u"You must specify a folder name if you choose to automatically save file transfers.";
    static constexpr QStringView FolderMissingBefore = u"The folder '";
    static constexpr QStringView FolderMissingAfter = u"' does not exist.\r\rDo you want to create it ?";
    static constexpr QStringView SoundTitle = u"Select Sound File...";
    static constexpr QStringView SoundFilter = u"Sound Files (*.wav)|*.wav|All Files (*.*)|*.*";
    static constexpr QStringView FolderTitle = u"Save Kivara file transfers to...";
    static constexpr QStringView CannotOpen = u"Could not open ";
    static constexpr QStringView UnknownUser = u"Unknown";
    static constexpr QStringView ClearHistoryQuestion =
        u"Delete every line of your conversation history?\r\rThis cannot be undone.";

    // localIp: the address of the control's datagram socket, stored in a new profile.
    frmOptions(Mode mode, const QString& localIp, QWidget* parent = nullptr);
    ~frmOptions() override;

    // "SUCCESS" after OK saved the profile, empty otherwise.
    QString resultText() const { return m_result; }

    // Asked before a new chat name is saved; true when it is refused (the
    // refusal already told). The control refuses the names of its participants.
    using NameCheck = std::function<bool(const QString&)>;
    void setNameCheck(NameCheck check) { m_nameCheck = std::move(check); }

    // Shows the dialog modally (through the prompt service) and returns resultText().
    static QString Run(Mode mode, const QString& localIp, QWidget* parent, NameCheck nameCheck = {});

    // The folder name in a folder-list entry ("'Kivara' folder" gives "Kivara").
    static QString FolderOfEntry(const QString& entry);
    // The font sizes offered.
    static QList<int> FontSizes();

    QColor color(int index) const { return m_colors[index & 1]; }
    void setColor(int index, const QColor& color);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void applyEnabling();
    void browseSound(int index);
    void browseFolder();
    void openPalette(int index);
    void nextTab();
    // Empties the conversation history once the user confirms.
    void clearHistory();
    bool storeFolder();
    void accept() override;

    std::unique_ptr<Ui::frmOptions> ui;
    Mode m_mode;
    QString m_localIp;
    ProfileRecord m_profile;
    QString m_result;
    QColor m_colors[2];
    QStringList m_listedFolders; // the contacts folders the store holds
    NameCheck m_nameCheck;
};

} // namespace kv::control
