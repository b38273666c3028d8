#include "Control/frmEntry.h"

#include "Control/Kivara.h"
#include "Platform/Ansi.h"
#include "Platform/Events.h"
#include "Platform/Sound.h"
#include "Shared/modUser.h"
#include "ui_frmEntry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QRadioButton>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {} // namespace

frmEntry::frmEntry(int ringMs, int refuseMs, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmEntry>())
{
    ui->setupUi(this);
    setObjectName(u"frmEntry"_s);
    m_tmrRing = new QTimer(this);
    m_tmrRing->setObjectName(u"tmrRing"_s);
    m_tmrRing->setInterval(ringMs);
    m_tmrCancel = new QTimer(this);
    m_tmrCancel->setObjectName(u"tmrCancel"_s);
    m_tmrCancel->setInterval(refuseMs);
    m_tmrCancel->setSingleShot(true);
    connect(m_tmrRing, &QTimer::timeout, this, &frmEntry::ring);
    connect(m_tmrCancel, &QTimer::timeout, this, &frmEntry::refuseUnanswered);

    QRadioButton* options[] = {ui->optEnter_0, ui->optEnter_1, ui->optEnter_2};
    for (short k = 0; k < 3; ++k) {
        connect(options[k], &QRadioButton::clicked, this, [this, k] { m_selection = k; });
        options[k]->installEventFilter(this);
    }
    connect(ui->cmdFile_0, &QPushButton::clicked, this, [this] { press(0); });
    connect(ui->cmdFile_1, &QPushButton::clicked, this, [this] { press(1); });
    connect(ui->cmdMsg, &QPushButton::clicked, this, [this] { press(2); });

    // Loading: the last admission choice comes preselected; the dialog stays on top.
    setSelection(short(ReadSetting(Deliverable::Quillon, settings::AutoEnter).toInt()));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setModal(true);
}

frmEntry::~frmEntry() = default;

void frmEntry::setMode(short mode)
{
    m_mode = mode;
    if (mode == Entering) {
        ui->picEnter->setVisible(true);
        ui->picMsg->setVisible(false);
        setWindowTitle(EntryCaption.toString());
        ui->cmdFile_0->setVisible(true);
        ui->cmdFile_1->setVisible(false);
        ui->cmdMsg->setVisible(false);
        m_tmrRing->start();
        m_tmrCancel->start();
    } else {
        ui->picEnter->setVisible(false);
        ui->picMsg->setVisible(true);
        setWindowTitle(MessageCaption.toString());
        ui->cmdFile_0->setVisible(false);
        ui->cmdFile_1->setVisible(true);
        ui->cmdMsg->setVisible(true);
        m_tmrRing->stop();
        m_tmrCancel->stop();
        ui->txtMsg_1->setTabChangesFocus(true);
        ui->txtMsg_1->setFocusPolicy(Qt::ClickFocus);
    }
}

QString frmEntry::captionFor(const QString& name)
{
    return name + EntryCaptionSuffix.toString();
}

void frmEntry::setSender(const QString& name)
{
    m_sender = name;
    if (m_mode != Entering) return;
    setWindowTitle(captionFor(name));
    ui->lblEnter_0->setText(name + EnteringLabel.toString());
}

void frmEntry::setSelection(short choice)
{
    m_selection = choice;
    QRadioButton* options[] = {ui->optEnter_0, ui->optEnter_1, ui->optEnter_2};
    if (choice < 0 || choice >= 3) return;
    options[choice]->setChecked(true);
    // The arrow keys move on from the choice, and Enter takes it.
    options[choice]->setFocus();
}

QString frmEntry::subject() const { return ui->txtMsg_0->text(); }

QString frmEntry::body() const
{
    QString text = ui->txtMsg_1->toPlainText();
    if (!ui->chkMsg->isChecked()) return text + u"|0"_s;
    QByteArray content;
    QFile file(PeerslipPath(ReadSetting(Deliverable::Quillon, settings::ChatName)));
    if (file.open(QIODevice::ReadOnly)) content = file.read(qint64(64) * 1024);
    return text + u"|1|"_s + platform::FromAnsi(content);
}

void frmEntry::press(short index)
{
    if (index == 1) m_selection = ChoiceRefuse;
    if (index == 2) m_selection = ChoiceMessage;
    // Whatever option the user clicked last is the choice, also one set by a script.
    if (index == 0 && m_mode == Entering && m_selection < ChoiceGaveUp) {
        if (ui->optEnter_0->isChecked()) m_selection = ChoiceEnter;
        if (ui->optEnter_1->isChecked()) m_selection = ChoiceRefuse;
        if (ui->optEnter_2->isChecked()) m_selection = ChoicePrivate;
    }
    m_button = index;
    m_tmrRing->stop();
    m_tmrCancel->stop();
    done(QDialog::Accepted);
    hide();
    platform::DoEvents();
}

void frmEntry::closeEvent(QCloseEvent* event)
{
    // The close box acts on the option chosen at that moment, as "OK" does.
    event->ignore();
    if (m_button < 0 && isVisible()) press(m_mode == Entering ? 0 : 1);
}

void frmEntry::reject()
{
    if (m_button < 0) press(m_mode == Entering ? 0 : 1);
}

bool frmEntry::eventFilter(QObject* watched, QEvent* event)
{
    // Double-clicking an option chooses it and acts as "OK".
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (auto* option = qobject_cast<QRadioButton*>(watched)) {
            option->setChecked(true);
            press(0);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

int frmEntry::flash(bool invert)
{
    const int before = m_highlighted ? 1 : 0;
    if (invert) m_highlighted = !m_highlighted;
    if (m_highlighted) QApplication::alert(this);
    return before;
}

void frmEntry::ring()
{
    m_previousFlash = flash(~m_previousFlash != 0);
    m_ringCounter += m_previousFlash;
    if (m_ringCounter % 256 == 0) {
        m_ringCounter = 64;
        if (ReadFlag(Deliverable::Quillon, settings::UseCallSnd))
            platform::Sound::current().play(ReadSetting(Deliverable::Quillon, settings::CallFile));
    }
}

void frmEntry::refuseUnanswered()
{
    if (m_mode != Entering || m_button >= 0) return;
    m_selection = ChoiceRefuse;
    m_button = 0;
    m_tmrRing->stop();
    done(QDialog::Rejected);
    hide();
}

void frmEntry::unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    m_tmrRing->stop();
    m_tmrCancel->stop();
    // Only admission choices are remembered; a cancelled message must not change how the next caller is met.
    if (m_mode == Entering && m_selection >= 0 && m_selection < ChoiceGaveUp)
        WriteSetting(settings::AutoEnter, QString::number(m_selection));
}

} // namespace kv::control
