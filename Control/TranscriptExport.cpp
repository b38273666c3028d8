#include "Control/TranscriptExport.h"

#include "Control/Transcript.h"
#include "Platform/Prompt.h"
#include "Platform/Rtf.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>

using namespace Qt::StringLiterals;

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;

namespace {
const char* const MonthAbbreviations[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
} // namespace

QString DefaultTranscriptName(const QDate& date)
{
    return exporttext::NamePrefix.toString() + QString::number(date.month()) + u'-' +
           QString::number(date.day()) + exporttext::RtfExtension.toString();
}

QString TranscriptAttachmentName(const QDate& date)
{
    // English month names whatever the locale, as the format's "mmm" gave them.
    const int m = qBound(1, date.month(), 12);
    return exporttext::NamePrefix.toString() + QString::fromLatin1(MonthAbbreviations[m - 1]) + u". "_s +
           u"%1"_s.arg(date.day(), 2, 10, QChar(u'0'));
}

TranscriptFormat FormatForPath(const QString& path)
{
    return path.right(3).compare(u"txt"_s, Qt::CaseInsensitive) == 0 ? TranscriptFormat::Plain
                                                                     : TranscriptFormat::Rich;
}

QByteArray TranscriptRtf(const QTextDocument& document)
{
    // The writer's document conversion takes tab stops from each paragraph;
    // the transcript keeps its one stop for the whole view, so paragraphs are
    // written here with it.
    platform::rtf::Writer w;
    const QFont base = document.defaultFont();
    w.addFont(base.family());
    if (base.pointSizeF() > 0) w.setDefaultSize(qRound(base.pointSizeF() * 2));
    platform::rtf::ParagraphFormat pf;
    pf.tabStopsTwips = {TranscriptTabStopTwips};
    const QTextBlock last = document.lastBlock();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        // The last line ends with a line break, so the empty paragraph after it is not written.
        if (block == last && block.length() <= 1 && block != document.begin()) break;
        w.beginParagraph(pf);
        platform::rtf::WriteFragments(w, block);
        w.endParagraph();
    }
    return w.toRtf();
}

bool WriteTranscript(const QTextEdit& transcript, const QString& path, TranscriptFormat format, QString* error)
{
    QByteArray bytes;
    if (format == TranscriptFormat::Rich) {
        bytes = TranscriptRtf(*transcript.document());
    } else {
        // Plain text with the line breaks of the product's files.
        QString text = transcript.toPlainText();
        text.replace(u'\n', u"\r\n"_s);
        bytes = text.toLocal8Bit();
    }
    QSaveFile f(path);
    const bool written = f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
    if (!written && error) *error = f.errorString();
    return written;
}

int SaveTranscript(const QTextEdit& transcript, QString& lastSavedPath, QString path, bool alwaysAsk,
                   const QDate& today)
{
    // 1. The dialog
    if (path.isEmpty() || alwaysAsk) {
        platform::FileDialogRequest request;
        request.title = exporttext::SaveTitle.toString();
        request.filter = exporttext::SaveFilter.toString();
        request.fileName = DefaultTranscriptName(today);
        if (!lastSavedPath.isEmpty()) request.initialDir = QFileInfo(lastSavedPath).absolutePath();
        path = platform::Prompt::current().saveFile(request);
        if (path.isEmpty()) return -1;
    }
    // 2. Overwrite question
    if (QFileInfo::exists(path) &&
        MsgBox(exporttext::FileExists.toString(), MsgButtons::YesNo, MsgIcon::Question) != MsgResult::Yes)
        return -1;
    // 3-4. Format and write
    QString why;
    if (!WriteTranscript(transcript, path, FormatForPath(path), &why)) {
        MsgBox(exporttext::SaveFailed.toString() + QDir::toNativeSeparators(path) + u".\r\r"_s + why,
               MsgButtons::OK, MsgIcon::Exclamation);
        return -1;
    }
    // 5. Only a save that did not insist on asking sets the path "&Save" writes to.
    if (!alwaysAsk) lastSavedPath = path;
    return 0;
}

int PrintTranscript(const QTextEdit& transcript, QPrinter& printer)
{
    const QTextCursor selection = transcript.textCursor();
    platform::PrintRequest request;
    request.title = exporttext::PrintTitle.toString();
    request.selectionAvailable = selection.hasSelection();
    request.printer = &printer;
    const platform::PrintAnswer answer = platform::Prompt::current().print(request);
    if (!answer.accepted) return -1;
    // What is printed: the selection as it is formatted, or the whole transcript.
    QTextDocument part;
    const QTextDocument* source = transcript.document();
    if (answer.selectionOnly && selection.hasSelection()) {
        part.setDefaultFont(source->defaultFont());
        part.setDefaultTextOption(source->defaultTextOption());
        QTextCursor(&part).insertFragment(selection.selection());
        source = &part;
    }
    int printed = 0;
    for (int copy = 0; copy < qMax(1, answer.copies); ++copy) {
        // One document per copy, as the copies come off the printer one after the other.
        source->print(&printer);
        ++printed;
    }
    return printed;
}

QStringList RemovableMediaRoots()
{
    const QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) return {};
    return {u"/media/"_s + user, u"/run/media/"_s + user};
}

QString FloppyFolder(const QStringList& roots)
{
    for (const QString& root : roots) {
        const QFileInfoList media = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& medium : media) {
            if (medium.isWritable()) return medium.absoluteFilePath();
        }
    }
    return {};
}

QString TranscriptTempCopy(const QTextEdit& transcript)
{
    QString path = MakeTempFileName(QString());
    if (path.size() >= 4)
        path = path.left(path.size() - 4) + exporttext::RtfExtension.toString();
    else
        path.clear();
    if (path.isEmpty()) {
        MsgBox(exporttext::NoAttachment.toString(), MsgButtons::OK, MsgIcon::Information);
        return {};
    }
    WriteTranscript(transcript, path, TranscriptFormat::Rich);
    return path;
}

bool CopyToFloppy(const QString& file, const QStringList& roots, const QDate& today)
{
    const QString folder = FloppyFolder(roots);
    if (folder.isEmpty()) {
        MsgBox(exporttext::NoMedium.toString(), MsgButtons::OK, MsgIcon::Exclamation);
        return false;
    }
    const QString target = folder + u'/' + DefaultTranscriptName(today);
    auto failed = [&target](const QFile& f) {
        MsgBox(exporttext::CopyFailed.toString() + target + u".\r\r"_s + f.errorString(), MsgButtons::OK,
               MsgIcon::Exclamation);
        return false;
    };
    // A copy replaces a transcript of the same day.
    QFile old(target);
    if (old.exists() && !old.remove()) return failed(old);
    QFile source(file);
    return source.copy(target) || failed(source);
}

int MailTranscript(const QString& recipients, const QString& file, const QDate& today)
{
    StoreAccess access(Deliverable::Quillon);
    access.GetOutlook();
    const outlook::Item mail = access.application().CreateItem(outlook::olMailItem);
    if (!mail) {
        MsgBox(exporttext::CannotCreateMessage.toString(), MsgButtons::OK, MsgIcon::Information);
        return -1;
    }
    // An address that does not resolve is still shown, for the user to correct.
    const outlook::Recipients to = mail.Recipients();
    if (!recipients.isEmpty()) to.Add(recipients);
    to.ResolveAll();
    mail.Attachments().Add(file, outlook::olByValue, 1, TranscriptAttachmentName(today));
    mail.Display();
    return 0;
}

// ---- The view --------------------------------------------------------------------

TranscriptView::TranscriptView(Actions actions, QObject* parent)
    : QObject(parent), m_actions(std::move(actions))
{}

void TranscriptView::watch(QTextEdit* transcript)
{
    transcript->setContextMenuPolicy(Qt::NoContextMenu);
    transcript->viewport()->installEventFilter(this);
    transcript->installEventFilter(this);
}

void TranscriptView::popupFor(const QTextEdit* transcript, const QPoint& global) const
{
    const QTextCursor cursor = transcript->textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    if (EditMenuFor(selected)) {
        if (m_actions.popupEdit) m_actions.popupEdit(global);
    } else if (m_actions.popupFile) {
        m_actions.popupFile(global);
    }
}

bool TranscriptView::eventFilter(QObject* watched, QEvent* event)
{
    if (auto* transcript = qobject_cast<QTextEdit*>(watched)) {
        if (KeyboardContextMenu(watched, event)) return true;
        if (event->type() != QEvent::ContextMenu) return QObject::eventFilter(watched, event);
        popupFor(transcript, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (event->type() != QEvent::MouseButtonRelease) return QObject::eventFilter(watched, event);
    auto* viewport = qobject_cast<QWidget*>(watched);
    auto* transcript = viewport ? qobject_cast<QTextEdit*>(viewport->parentWidget()) : nullptr;
    if (!transcript) return QObject::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
        if (!transcript->textCursor().hasSelection()) {
            transcript->moveCursor(QTextCursor::End);
            if (m_actions.focusEntry) m_actions.focusEntry();
        }
        return QObject::eventFilter(watched, event);
    }
    popupFor(transcript, mouse->globalPosition().toPoint());
    return true;
}

} // namespace kv::control
