#pragma once
// The chat options dialog. Its profile page ("My Infomation") edits the
// user's profile; in the new-user mode it creates the profile at session start.
#include "modUser.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmOptions;
}

namespace kv::control {

class frmOptions : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Normal, NewUser, About };

    // What the dialog answers when it saved a profile.
    static constexpr auto Success = u"SUCCESS";
    static constexpr auto Caption = u"Options";
    static constexpr auto NewProfileCaption = u"Kivara - New Profile";
    static constexpr auto NoChatNameText = u"You must supply a Chat name.";

    // localIp: the address of the control's datagram socket, stored in a new profile.
    frmOptions(Mode mode, const QString& localIp, QWidget* parent = nullptr);
    ~frmOptions() override;

    // "SUCCESS" after OK saved the profile, empty otherwise.
    QString resultText() const { return m_result; }

    // Shows the dialog modally (through the prompt service) and returns resultText().
    static QString Run(Mode mode, const QString& localIp, QWidget* parent);

private:
    void load();
    void accept() override;

    std::unique_ptr<Ui::frmOptions> ui;
    Mode m_mode;
    QString m_localIp;
    ProfileRecord m_profile;
    QString m_result;
};

} // namespace kv::control
