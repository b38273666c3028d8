#pragma once
// The chat control's small modal dialog. Entering mode: a caller knocks; it
// rings, flashes and lets the user admit, refuse or take the caller into a
// private room, and refuses by itself when nobody answers. Message mode: the
// callee cannot answer; the user writes a message, optionally with the own Peerslip.
#include "Control/Session/ChatSession.h"

#include <QDialog>
#include <memory>

class QTimer;

namespace Ui {
class frmEntry;
}

namespace kv::control {



inline constexpr QStringView EntryCaption = u"Caller entering room...";
inline constexpr QStringView EntryCaptionSuffix = u" entering room...";
inline constexpr QStringView MessageCaption = u"Kivara Message Center";
inline constexpr QStringView EnteringLabel = u" is entering your Public room...";

class frmEntry : public QDialog {
    Q_OBJECT
public:
    enum Mode : short { Entering = 0, Message = 1 };

    // ringMs / refuseMs: the ring and the refusal intervals (600 ms and 45 s in the product).
    frmEntry(int ringMs, int refuseMs, QWidget* parent = nullptr);
    ~frmEntry() override;

    short mode() const { return m_mode; }
    void setMode(short mode);
    QString sender() const { return m_sender; }
    void setSender(const QString& name);
    short selection() const { return m_selection; }
    void setSelection(short choice);
    short button() const { return m_button; }
    QString subject() const;
    // The message text, then "|1|" and the own Peerslip file's content when attached, else "|0".
    QString body() const;

    // Presses a button from code: 0 "OK", 1 "Cancel", 2 "&Leave Message".
    void press(short index);
    // Stores an entering-mode choice below 3 as the next preselection.
    void unload();

    int ringCounter() const { return m_ringCounter; }
    // One tick of the ring (the timer calls it; tests may too).
    void ring();

    // The caption the dispatcher looks for to avoid a second dialog for one caller.
    static QString captionFor(const QString& name);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Toggles the caption highlight; returns whether it was highlighted before.
    int flash(bool invert);
    void refuseUnanswered();

    std::unique_ptr<Ui::frmEntry> ui;
    QTimer* m_tmrRing = nullptr;
    QTimer* m_tmrCancel = nullptr;
    short m_mode = Entering;
    QString m_sender;
    short m_selection = ChoiceEnter;
    short m_button = -1;
    qint32 m_previousFlash = 0;
    qint32 m_ringCounter = 0;
    bool m_highlighted = false;
    bool m_unloaded = false;
};

} // namespace kv::control
