// The chat control's menus: building them and what each item does.
#include "Control/Kivara.h"

#include "Control/Icons.h"
#include "Control/KivaraUi.h"
#include "Control/Layout.h"
#include "Control/Session/ChatName.h"
#include "Control/Session/FanOut.h"
#include "Control/Session/FileSend.h"
#include "Control/Session/MessageEntry.h"
#include "Control/Transcript.h"
#include "Control/TranscriptExport.h"
#include "Control/frmHistory.h"
#include "Control/frmOptions.h"
#include "Platform/Outlook/Automation.h"
#include "Platform/Outlook/WindowSide.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Platform/Sound.h"
#include "Shared/PeerslipMail.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "ui_Kivara.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace kv::control {

using namespace kivaraui;

namespace {

// The availability menu's captions, in order ("-" is its separator).
const QStringList& StatusCaptions()
{
    static const QStringList captions = {availability::Available.toString(),
                                         availability::Unavailable.toString(),
                                         u"-"_s,
                                         availability::BeRightBack.toString(),
                                         availability::OnThePhone.toString(),
                                         availability::SteppedOut.toString(),
                                         availability::OutOfOffice.toString()};
    return captions;
}

const QStringList& UserMenuCaptions()
{
    static const QStringList captions = {u"&Change Chat Name..."_s, u"-"_s, u"Send &E-Mail..."_s,
                                         u"Send &File..."_s,        u"-"_s, u"View &Peerslip..."_s,
                                         u"&Add to Contacts"_s,     u"-"_s, u"I&gnore Contact"_s,
                                         u"Dis&connect Contact"_s,  u"-"_s, u"&Open Private Room"_s,
                                         u"&Close Private Room"_s,  u"-"_s, u"&Show Room Details"_s};
    return captions;
}

QMenu* makeMenu(QWidget* owner, const QString& name, const QStringList& captions)
{
    auto* menu = new QMenu(owner);
    menu->setObjectName(name);
    for (int i = 0; i < captions.size(); ++i) {
        QAction* a = captions[i] == u"-"_s ? menu->addSeparator() : menu->addAction(captions[i]);
        a->setObjectName(name + u'_' + QString::number(i));
    }
    return menu;
}

} // namespace

void Kivara::buildMenus()
{
    m_mnuFile = makeMenu(this, u"mnuFile"_s,
                         {text::PlaceCallAtLoad.toString(), u"-"_s, u"&Save"_s, u"Save &As..."_s, u"-"_s,
                          u"Print Set&up..."_s, u"&Print..."_s, u"-"_s, u"Se&nd To"_s, u"-"_s,
                          u"&Options..."_s, u"-"_s, u"Search &History..."_s});
    m_mnuSendTo = makeMenu(this, u"mnuSendTo"_s, {u"3x &Floppy (A)"_s, u"&Outlook Recipient"_s});
    item(m_mnuFile, 8)->setMenu(m_mnuSendTo);
    item(m_mnuFile, 2)->setShortcut(QKeySequence(u"Ctrl+S"_s));
    item(m_mnuFile, 6)->setShortcut(QKeySequence(u"Ctrl+P"_s));
    m_mnuEdit = makeMenu(this, u"mnuEdit"_s, {u"&Copy"_s, u"-"_s, u"Select A&ll"_s});
    item(m_mnuEdit, 0)->setShortcut(QKeySequence(u"Ctrl+C"_s));
    item(m_mnuEdit, 2)->setShortcut(QKeySequence(u"Ctrl+A"_s));
    // The shortcuts work while the focus is anywhere in the control; the entry
    // box keeps its own copy and select-all while it has the focus.
    for (QAction* a : {item(m_mnuFile, 2), item(m_mnuFile, 6), item(m_mnuEdit, 0), item(m_mnuEdit, 2)}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }
    m_transcriptView = new TranscriptView({[this] { focusEntry(); },
                                           [this](const QPoint& at) {
                                               m_mnuEdit->setDefaultAction(item(m_mnuEdit, 0));
                                               m_mnuEdit->popup(at);
                                           },
                                           [this](const QPoint& at) {
                                               m_mnuFile->setDefaultAction(item(m_mnuFile, 0));
                                               m_mnuFile->popup(at);
                                           }},
                                          this);
    m_mnuUser = makeMenu(this, u"mnuUser"_s, UserMenuCaptions());
    item(m_mnuUser, 8)->setCheckable(true);
    item(m_mnuUser, 14)->setCheckable(true);
    m_mnuPrivate = makeMenu(this, u"mnuPrivate"_s, {u"&Close room"_s});
    m_mnuStatus = makeMenu(this, u"mnuStatus"_s, StatusCaptions());
    for (QAction* a : m_mnuStatus->actions())
        a->setCheckable(!a->isSeparator());
    item(m_mnuStatus, 0)->setChecked(true);
    m_mnuSendEdit =
        makeMenu(this, u"mnuSendEdit"_s, {u"Cu&t"_s, u"&Copy"_s, u"&Paste"_s, u"-"_s, u"&Delete"_s});
    for (int i = 0; i < m_mnuSendEdit->actions().size(); ++i)
        item(m_mnuSendEdit, i)->setObjectName(u"mnuSE_"_s + QString::number(i));
    item(m_mnuSendEdit, 0)->setShortcut(QKeySequence(u"Ctrl+X"_s));
    item(m_mnuSendEdit, 2)->setShortcut(QKeySequence(u"Ctrl+V"_s));

    auto wire = [this](QMenu* menu, void (Kivara::*handler)(short)) {
        const QList<QAction*> actions = menu->actions();
        for (int i = 0; i < actions.size(); ++i) {
            if (actions[i]->isSeparator() || actions[i]->menu()) continue;
            connect(actions[i], &QAction::triggered, this,
                    [this, handler, i] { (this->*handler)(short(i)); });
        }
    };
    wire(m_mnuFile, &Kivara::FileMenu_Click);
    wire(m_mnuSendTo, &Kivara::SendToTarget_Click);
    wire(m_mnuEdit, &Kivara::EditMenu_Click);
    wire(m_mnuUser, &Kivara::UserMenu_Click);
    wire(m_mnuPrivate, &Kivara::PrivateMenu_Click);
    wire(m_mnuStatus, &Kivara::StatusMenu_Click);
    // Checkable items toggle their own mark when triggered; the handlers then set it as it must be.

    QTextEdit* box = ui->txtSend;
    connect(item(m_mnuSendEdit, 0), &QAction::triggered, box, &QTextEdit::cut);
    connect(item(m_mnuSendEdit, 1), &QAction::triggered, box, &QTextEdit::copy);
    connect(item(m_mnuSendEdit, 2), &QAction::triggered, box, &QTextEdit::paste);
    connect(item(m_mnuSendEdit, 4), &QAction::triggered, box,
            [box] { box->textCursor().removeSelectedText(); });
}

void Kivara::FileMenu_Click(short Index)
{
    switch (Index) {
    case 0:
        if (item(m_mnuFile, 0)->text() == text::PlaceCall.toString())
            Connect(RemoteHost(), RemotePort());
        else
            Disconnect(false);
        break;
    case 2:
        SaveSession(m_lastSavedPath, false);
        break;
    case 3:
        if (!m_lastSavedPath.isEmpty())
            SaveSession(m_lastSavedPath, true);
        else
            SaveSession(QString(), false);
        break;
    case 5: {
        platform::PrintRequest setup;
        setup.title = item(m_mnuFile, 5)->text().remove(u'&');
        setup.setup = true;
        setup.printer = &printer();
        platform::Prompt::current().print(setup);
        break;
    }
    case 6:
        PrintTranscript(*roomView(rooms().current).transcript, printer());
        break;
    case 10:
        openOptions(int(frmOptions::Mode::Normal));
        break;
    case 12:
        frmHistory::Run(m_session->history(), this);
        break;
    default:
        break;
    }
    focusEntry();
}

void Kivara::EditMenu_Click(short Index)
{
    QTextEdit* transcript = roomView(rooms().current).transcript;
    if (Index == 0) {
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->clear();
        // The selection as plain text; a paragraph break reads as a line break.
        clipboard->setText(transcript->textCursor().selection().toPlainText());
    } else if (Index == 2) {
        transcript->selectAll();
    }
    focusEntry();
}

void Kivara::SendToTarget_Click(short Index)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString temp = TranscriptTempCopy(*roomView(rooms().current).transcript);
    if (!temp.isEmpty()) {
        if (Index == 0) {
            CopyToFloppy(temp);
        } else if (Index == 1) {
            SendSession(selectedAddresses().trimmed(), temp);
        }
        // The mail holds its own copy of the bytes; the temporary file has served.
        QFile::remove(temp);
    }
    QApplication::restoreOverrideCursor();
    focusEntry();
}

void Kivara::PrivateMenu_Click(short Index)
{
    if (Index == 0) ConfirmClosePrivateRoom(rooms().menuTag);
    focusEntry();
}

void Kivara::StatusMenu_Click(short Index)
{
    QAction* a = item(m_mnuStatus, Index);
    if (a && !a->isSeparator()) SetStatus(a->text());
    focusEntry();
}

void Kivara::PrepareUserMenu()
{
    const Participant p = selectedRow();
    const bool own = selectionIsOwnRow();
    const bool other = !p.isNull() && !own;
    for (int i = 0; i <= 13; ++i)
        item(m_mnuUser, i)->setVisible(false);
    item(m_mnuUser, 14)->setVisible(true);
    m_mnuUser->setDefaultAction(nullptr);
    if (own) {
        item(m_mnuUser, 0)->setVisible(true);
        item(m_mnuUser, 1)->setVisible(true);
        m_mnuUser->setDefaultAction(item(m_mnuUser, 0));
    } else if (other) {
        for (int i = 2; i <= 10; ++i)
            item(m_mnuUser, i)->setVisible(true);
        m_mnuUser->setDefaultAction(item(m_mnuUser, 5));
        const bool hasRoom = rooms().FindRoom(p.name()) >= 1;
        item(m_mnuUser, 11)->setVisible(!hasRoom);
        item(m_mnuUser, 12)->setVisible(hasRoom);
        item(m_mnuUser, 13)->setVisible(true);
        QAction* ignore = item(m_mnuUser, 8);
        ignore->setCheckable(true);
        ignore->setChecked(p.isIgnored());
    }
}

void Kivara::UserMenu_Click(short Index)
{
    Participant p = selectedRow();
    const bool own = selectionIsOwnRow();
    const QString name = p.name();
    auto chooseSelf = [this] {
        if (MsgBox(text::ChoseYourself.toString(), MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes)
            openOptions(int(frmOptions::Mode::Normal));
    };
    switch (Index) {
    case 0:
        if (own) ChangeUserName();
        break;
    case 2:
        EMailContact(selectedAddresses());
        break;
    case 3:
        if (!p.isNull() && !own) DataSend(mode::FilePrep, name);
        break;
    case 5:
        if (own)
            chooseSelf();
        else if (!p.isNull())
            DataSend(mode::GetUserProfile, name);
        break;
    case 6:
        if (own)
            chooseSelf();
        else if (!p.isNull())
            DataSend(mode::GetUserSimple, name, QString(word::Normal));
        break;
    case 8:
        if (!p.isNull() && !own) {
            ToggleIgnore(p);
            QAction* a = item(m_mnuUser, 8);
            a->setCheckable(true);
            a->setChecked(p.isIgnored());
        }
        break;
    case 9:
        if (!p.isNull() && !own) DataSend(mode::DumpUser, name);
        break;
    case 11:
        if (!p.isNull() && !own) RequestPrivateRoom(name);
        break;
    case 12:
        if (!p.isNull() && !own) ConfirmClosePrivateRoom(name);
        break;
    case 14:
        m_roomDetails = !m_roomDetails;
        item(m_mnuUser, 14)->setChecked(m_roomDetails);
        toggleRoomDetails(m_roomDetails);
        break;
    default:
        break;
    }
    focusEntry();
}

void Kivara::toggleRoomDetails(bool on)
{
    for (const RoomView& view : m_roomViews) {
        QTreeView* list = view.list;
        const int w = on ? list->columnWidth(ColName) : 0;
        list->header()->setSectionResizeMode(ColName, on ? QHeaderView::Interactive : QHeaderView::Stretch);
        for (int c = ColAvailability; c < ColumnCount; ++c)
            list->header()->resizeSection(c, w);
    }
}

void Kivara::ConfirmClosePrivateRoom(const QString& tag)
{
    QString question = text::CloseRoomQuestion.toString() + tag + text::CloseRoomQuestionEnd.toString();
    if (rooms().publicRoom().findRow(tag).isNull()) question += text::CloseDisconnects.toString();
    if (MsgBox(question, MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes) {
        const int position = rooms().FindRoom(tag);
        if (position < 1) {
            MsgBox(text::RoomNotFound.toString(), MsgButtons::OK, MsgIcon::Information);
        } else {
            DataSend(mode::Leave, tag, QString::number(position));
            ClosePrivateRoom(tag);
        }
    }
    focusEntry();
}

} // namespace kv::control
