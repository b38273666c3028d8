#include "Vigilo/Opener/frmFile.h"

#include "Platform/Events.h"
#include "Platform/Prompt.h"
#include "Platform/Shell.h"
#include "Platform/Socket.h"
#include "Shared/Protocol.h"
#include "Shared/modMisc.h"
#include "Shared/modReg.h"
#include "Vigilo/Opener/Log.h"
#include "Vigilo/Opener/ReceivedFiles.h"
#include "ui_frmFile.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace kv::dorvan {

namespace {

using platform::MsgButtons;
using platform::MsgIcon;
using platform::MsgResult;
using platform::Socket;

constexpr QChar CR = u'\r';
// Partial files get a hidden name of their own in the target folder, so an
// incomplete file never appears under the name the user sees.
constexpr QStringView PartialPrefix = u".~kvpart-";
constexpr int PartialNameAttempts = 100;
// "name (2).ext" up to this number; a folder with more copies takes no further one.
constexpr int MaxNumberedNames = 9999;

void Notice(const QString& message)
{
    platform::MsgBox(message, MsgButtons::OK, MsgIcon::Information);
}

// received ÷ size × 100, rounded half to even.
int Percentage(qint32 received, qint32 size)
{
    if (size <= 0) return 100;
    return static_cast<int>(std::nearbyint(static_cast<double>(received) / size * 100.0));
}

// Why a write or the final rename failed: a full disk, a name taken meanwhile, or the system's reason.
QString WriteFailure(int error, const QString& detail)
{
    if (error == ENOSPC || error == EDQUOT) return failure::DiskFull.toString();
    if (error == EEXIST) return failure::NameRefused.toString();
    return failure::WriteFailed.toString() + detail;
}

} // namespace

QString FormatSize(qint32 n)
{
    if (n < 1024) return QString::number(n) + u" bytes"_s;
    if (n < 1024000) return QString::number(n / 1024.0, 'f', 2) + u" k"_s;
    return QString::number(n / 1024000.0, 'f', 2) + u" M"_s;
}

SavePathChoice ChooseSavePath(QString path, const QString& folder, bool ask)
{
    if (!ask) {
        // Saved without asking: an existing file is kept, the new one takes the next free "name (n).ext".
        const QFileInfo wanted(path);
        const QString suffix = wanted.suffix().isEmpty() ? QString() : u'.' + wanted.suffix();
        QString candidate = path;
        for (int n = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n) {
            if (n > MaxNumberedNames) return {};
            candidate = wanted.dir().filePath(wanted.completeBaseName() + u" ("_s + QString::number(n) + u')' + suffix);
        }
        return {candidate, false};
    }
    for (;;) {
        if (ask) {
            platform::FileDialogRequest request;
            request.title = text::SaveDialogTitle.toString();
            request.filter = text::SaveDialogFilter.toString();
            request.initialDir = folder;
            request.fileName = path;
            const QString chosen = platform::Prompt::current().saveFile(request);
            if (chosen.isEmpty()) {
                if (platform::MsgBox(text::CancelQuestion.toString(), MsgButtons::YesNo, MsgIcon::Question) ==
                    MsgResult::Yes)
                    return {};
                continue;
            }
            path = chosen;
        }
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) return {path, false};
        const QString question =
            text::AlreadyExistsHead.toString() + info.fileName() + text::AlreadyExistsTail.toString();
        if (platform::MsgBox(question, MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes)
            return {path, true};
    }
}

frmFile::frmFile(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmFile>()), wskFile(new Socket(Socket::Protocol::Tcp, this)),
      wskCtrl(new Socket(Socket::Protocol::Udp, this)), tmrConnect(new QTimer(this)),
      tmrProgressPaint(new QTimer(this))
{
    ui->setupUi(this);
    // The sender chooses these texts: never let them be read as markup.
    ui->lblFile_0->setTextFormat(Qt::PlainText);
    ui->lblFile_1->setTextFormat(Qt::PlainText);
    // Always on top, and not resizable (the design removes the Size command).
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setFixedSize(sizeHint().expandedTo(size()));
    // The progress label changes with nearly every block that arrives; at a fixed
    // size a change repaints the label only, instead of laying out the whole window again.
    layout()->activate();
    ui->lblProgress->setFixedSize(ui->lblProgress->size());

    m_saveFolder = ReadSetting(Deliverable::Dorvan, settings::FileFolder);
    if (!m_saveFolder.isEmpty() && !QFileInfo(m_saveFolder).isDir()) QDir().mkpath(m_saveFolder);
    setSelection(1);

    tmrConnect->setSingleShot(true);
    tmrConnect->setInterval(ConnectTimeoutMs);
    connect(tmrConnect, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Connecting)
            onError(platform::SocketError::TimedOut,
                    Socket::ErrorDescription(platform::SocketError::TimedOut));
    });
    tmrProgressPaint->setSingleShot(true);
    tmrProgressPaint->setInterval(ProgressPaintMs);
    connect(tmrProgressPaint, &QTimer::timeout, this, [this] {
        // Shows the counts that came while painting was held.
        ui->prgFile->setUpdatesEnabled(true);
        ui->lblProgress->setUpdatesEnabled(true);
    });
    connect(ui->cmdFile_0, &QPushButton::clicked, this, [this] { cmdFileClick(0); });
    connect(ui->cmdFile_1, &QPushButton::clicked, this, [this] { cmdFileClick(1); });
    connect(wskFile, &Socket::Connected, this, &frmFile::onConnected);
    connect(wskFile, &Socket::DataArrival, this, &frmFile::onDataArrival);
    connect(wskFile, &Socket::Closed, this, &frmFile::onClosed);
    connect(wskFile, &Socket::Error, this, &frmFile::onError);
}

frmFile::~frmFile()
{
    discardPartial();
}

// ---- properties ---------------------------------------------------------------

void frmFile::setInfo(const QStringList& pieces)
{
    const OfferCheck check = CheckOffer(pieces);
    if (check.fault != OfferFault::None) {
        if (check.addressUsable) m_remoteHost = *ParseSenderAddress(pieces[piece::RemoteHost]);
        qCDebug(lcOpener, "file offer from %s refused: %s",
                check.addressUsable ? qUtf8Printable(m_remoteHost) : "an address that cannot be used",
                qUtf8Printable(OfferFaultText(check.fault)));
        if (pieces.size() > piece::FileTitle) {
            m_sender = pieces[piece::Sender];
            m_fileTitle = pieces[piece::FileTitle];
            m_fileSize = ParseOfferSize(pieces.value(piece::FileSize)).value_or(0);
            record(check.fault == OfferFault::BadTitle ? failure::NameRefused.toString()
                                                       : OfferFaultText(check.fault));
        }
        refuse(OfferFaultText(check.fault), check.addressUsable,
               pieces.size() > piece::OwnName ? pieces[piece::OwnName] : QString());
        return;
    }
    const FileOffer& offer = check.offer;
    setSender(offer.sender);
    setFileTitle(offer.fileTitle);
    setFileSize(offer.fileSize);
    setRemoteHost(offer.remoteHost);
    setRemotePort(offer.remotePort.toInt());
    m_notifySender = true;
    // Known before AutoMode may press OK, so a cancel from there names the user.
    m_ownName = offer.ownName;
    setAutoMode(static_cast<short>(ReadSetting(Deliverable::Dorvan, settings::AcceptFiles).toInt()));
    if (m_unloaded) return;
    show();
    platform::Prompt::current().formShown(this);
}

void frmFile::setSender(const QString& sender)
{
    m_sender = sender;
    ui->lblFile_0->setText(sender + u' ' + text::IsSending.toString());
}

void frmFile::setFileTitle(const QString& title)
{
    m_fileTitle = title;
    showSize();
}

void frmFile::setFileSize(qint32 size)
{
    m_fileSize = size;
    ui->prgFile->setMaximum(std::max(size, 0));
    showSize();
}

void frmFile::showSize()
{
    ui->lblFile_1->setText(text::FileName.toString() + u' ' + m_fileTitle + u" ("_s + FormatSize(m_fileSize) +
                           u')');
    ui->lblSize->setText(FormatSize(m_fileSize));
}

void frmFile::setAutoMode(short mode)
{
    m_autoMode = mode;
    if (mode == 1) cmdFileClick(0);
}

short frmFile::Selection() const
{
    return ui->optFile_0->isChecked() ? 0 : 1;
}

void frmFile::setSelection(short selection)
{
    (selection == 0 ? ui->optFile_0 : ui->optFile_1)->setChecked(true);
}

// ---- buttons ------------------------------------------------------------------

void frmFile::cmdFileClick(int index)
{
    if (m_unloaded) return;
    m_button = static_cast<short>(index);
    if (index == 0) {
        if (m_phase == Phase::Asking) accept();
    } else {
        cancelByUser();
    }
}

void frmFile::closeEvent(QCloseEvent* event)
{
    // Closing the window before the end is the user's cancel.
    if (!m_unloaded) cancelByUser();
    event->accept();
}

void frmFile::accept()
{
    ui->picQuestion->hide();
    ui->cmdFile_0->hide();
    if (Selection() == 0) {
        // A private temporary name ending in the title, so the desktop opens it by its extension.
        m_targetPath = MakeTempFileName(m_fileTitle);
        m_replaceAgreed = true;
    } else {
        const SavePathChoice choice =
            ChooseSavePath(QDir(m_saveFolder).filePath(m_fileTitle), m_saveFolder, m_autoMode != 1);
        if (m_unloaded) return;
        if (choice.path.isEmpty()) {
            // Unasked, only a folder full of numbered copies leaves no name.
            if (m_autoMode == 1) record(failure::NameRefused.toString());
            cancelByUser();
            return;
        }
        m_targetPath = choice.path;
        m_replaceAgreed = choice.replaceAgreed;
    }
    m_totalText = FormatSize(m_fileSize);
    m_received = 0;
    if (m_targetPath.isEmpty() || !createPartial()) {
        record(failure::NameRefused.toString());
        Notice(text::CannotCreate.toString() + CR + CR + u"'"_s + QFileInfo(m_targetPath).absolutePath() +
               u"'."_s);
        cancelByUser();
        return;
    }

    m_phase = Phase::Connecting;
    wskFile->Close();
    wskFile->setLocalPort(0);
    wskFile->setRemoteHost(m_remoteHost);
    // Always the file-transfer port: the offer's own port piece is not used.
    wskFile->setRemotePort(FileTransferPort);
    if (const int number = wskFile->Connect()) {
        onError(number, Socket::ErrorDescription(number));
        return;
    }
    tmrConnect->start();
}

void frmFile::cancelByUser()
{
    if (m_unloaded) return;
    if (m_phase == Phase::Connecting || m_phase == Phase::Receiving)
        record(failure::CancelledHere.toString());
    sendCancelNotice();
    discardPartial();
    wskFile->Close();
    unload();
}

void frmFile::refuse(const QString& reason, bool notify, const QString& ownName)
{
    Notice(text::OfferRefused.toString() + CR + CR + reason);
    if (notify) {
        m_ownName = ownName;
        m_notifySender = true;
        sendCancelNotice();
    }
    unload();
}

void frmFile::sendCancelNotice()
{
    if (!m_notifySender) return;
    wskCtrl->setRemoteHost(m_remoteHost);
    wskCtrl->setRemotePort(ChatDatagramPort);
    wskCtrl->SendData(FrameDatagram(BuildNoFile(m_ownName)));
}

void frmFile::unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    m_phase = Phase::Done;
    tmrConnect->stop();
    wskFile->Close();
    wskCtrl->Close();
    platform::WaitUntil([this] { return wskCtrl->State() == Socket::sckClosed; }, SocketCloseWaitMs);
    hide();
    Q_EMIT Unloaded();
}

// ---- the partial file -----------------------------------------------------------

bool frmFile::createPartial()
{
    const QString folder = QFileInfo(m_targetPath).absolutePath();
    for (int attempt = 0; attempt < PartialNameAttempts; ++attempt) {
        const QString name =
            PartialPrefix.toString() +
            QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, u'0');
        m_partial.setFileName(QDir(folder).filePath(name));
        // A new file only (never through an existing name or link), created without execute permission.
        // Unbuffered, so a full disk shows at the block that did not fit, not at the end.
        if (m_partial.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_partialPath = m_partial.fileName();
            return true;
        }
        if (m_partial.error() != QFileDevice::OpenError || !QFileInfo::exists(folder)) break;
    }
    return false;
}

void frmFile::discardPartial()
{
    if (m_partial.isOpen()) m_partial.close();
    if (!m_partialPath.isEmpty()) QFile::remove(m_partialPath);
    m_partialPath.clear();
}

// The complete file takes its final name in one step; an existing file there
// is replaced only when the user agreed to it.
bool frmFile::moveIntoPlace(int* error)
{
    m_partial.close();
    const QByteArray from = QFile::encodeName(m_partialPath);
    const QByteArray to = QFile::encodeName(m_targetPath);
    int rc;
    if (m_replaceAgreed) {
        rc = ::rename(from.constData(), to.constData());
    } else {
        rc = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: check, then rename.
            if (QFileInfo::exists(m_targetPath) || QFileInfo(m_targetPath).isSymLink()) {
                errno = EEXIST;
            } else {
                rc = ::rename(from.constData(), to.constData());
            }
        }
    }
    if (rc != 0) {
        *error = errno;
        return false;
    }
    m_partialPath.clear();
    return true;
}

// ---- the connection -------------------------------------------------------------

void frmFile::onConnected()
{
    if (m_phase != Phase::Connecting) return;
    tmrConnect->stop();
    m_phase = Phase::Receiving;
    // Nothing will arrive for an empty file: the connection itself completes it.
    if (m_fileSize == 0) finish();
}

void frmFile::onDataArrival()
{
    if (m_phase != Phase::Receiving) {
        wskFile->GetData();
        return;
    }
    take(wskFile->GetData());
}

void frmFile::take(const QByteArray& bytes)
{
    if (bytes.isEmpty() || m_phase != Phase::Receiving) return;
    // Never more than announced: extra bytes end the transfer and nothing is kept.
    if (bytes.size() > static_cast<qint64>(m_fileSize) - m_received) {
        record(failure::Overrun.toString());
        wskFile->Close();
        discardPartial();
        sendCancelNotice();
        Notice(text::Overrun.toString());
        unload();
        return;
    }
    if (m_partial.write(bytes) != bytes.size()) {
        const int error = errno;
        const QString reason = m_partial.errorString();
        record(WriteFailure(error, reason));
        wskFile->Close();
        discardPartial();
        sendCancelNotice();
        Notice(text::CannotWrite.toString() + CR + CR + reason);
        unload();
        return;
    }
    m_received += static_cast<qint32>(bytes.size());
    holdProgressPaint();
    ui->prgFile->setValue(m_received);
    if (m_received != m_fileSize) {
        if (m_received % ProgressLabelStep == 0)
            ui->lblProgress->setText(QString::number(Percentage(m_received, m_fileSize)) + u" % ("_s +
                                     FormatSize(m_received) + u" of "_s + m_totalText + u" bytes)"_s);
        return;
    }
    finish();
}

// The first change after a pause is painted at once; changes within
// ProgressPaintMs of it are painted together when that time is up.
void frmFile::holdProgressPaint()
{
    if (!tmrProgressPaint->isActive()) {
        tmrProgressPaint->start();
        return;
    }
    ui->prgFile->setUpdatesEnabled(false);
    ui->lblProgress->setUpdatesEnabled(false);
}

void frmFile::finish()
{
    wskFile->Close();
    m_phase = Phase::Done;
    int error = 0;
    if (!moveIntoPlace(&error)) {
        const QString reason = QString::fromLocal8Bit(std::strerror(error));
        record(WriteFailure(error, reason));
        discardPartial();
        Notice(text::CannotSave.toString() + CR + CR + u"'"_s + m_targetPath + u"'."_s + CR + CR + reason);
        unload();
        return;
    }
    record();
    if (Selection() == 1) {
        Notice(text::SavedAs.toString() + CR + CR + u"'"_s + m_targetPath + u"'."_s);
    } else if (!platform::Shell::current().open(m_targetPath)) {
        Notice(text::CouldNotOpen.toString() + m_targetPath + u"."_s + CR + CR +
               text::NoAssociation.toString());
    }
    unload();
}

void frmFile::onClosed()
{
    if (m_phase != Phase::Receiving && m_phase != Phase::Connecting) return;
    // Bytes that came before the close count first.
    take(wskFile->GetData());
    if (m_unloaded || m_phase == Phase::Done) return;
    record(failure::SenderCancelled.toString());
    Notice(m_sender + text::SenderCancelled.toString());
    discardPartial();
    wskFile->Close();
    unload();
}

void frmFile::onError(int number, const QString& description)
{
    if (m_unloaded) return;
    // Refused or unreachable before any byte; a connection lost later is the sender's end of it.
    record(m_phase == Phase::Connecting ? failure::ConnectionRefused.toString()
                                        : failure::SenderCancelled.toString());
    tmrConnect->stop();
    wskFile->Close();
    m_phase = Phase::Failed;
    Notice(text::TransferError.toString() + CR + CR + QString::number(number) + u':' + description);
    // The window stays; its Cancel ends the transfer and removes what was stored.
}

// ---- the received-files list -------------------------------------------------------

void frmFile::record(const QString& failure)
{
    if (m_recorded) return;
    m_recorded = true;
    if (!failure.isEmpty()) {
        // The reason takes the progress line's place, in as many rows as it needs.
        ui->lblProgress->setWordWrap(true);
        ui->lblProgress->setText(failure);
        ui->lblProgress->setFixedHeight(ui->lblProgress->heightForWidth(ui->lblProgress->width()));
        setFixedSize(width(), std::max(height(), sizeHint().height()));
    }
    const ReceivedFile entry{m_fileTitle,
                             m_sender,
                             QDateTime::currentDateTimeUtc(),
                             m_fileSize,
                             failure.isEmpty() ? m_targetPath : QString(),
                             failure};
    if (!AddReceivedFile(entry)) qCDebug(lcOpener, "the received-files list could not be written");
}

} // namespace kv::dorvan
