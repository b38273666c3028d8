#pragma once
// The receiving window: tells the user who offers which file, opens or saves
// it, connects back to the sender's file port and stores exactly the bytes the
// offer announced. Either side may cancel. Dorvan ends when it unloads.
#include "Vigilo/Opener/FileOffer.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class QTimer;

namespace Ui {
class frmFile;
}

namespace kv::platform {
class Socket;
}

namespace kv::dorvan {

// Texts of the window's message boxes.
namespace text {
inline constexpr QStringView IsSending = u"is sending a file.";
inline constexpr QStringView FileName = u"Filename:";
inline constexpr QStringView WaitingForFile = u"Waiting for file...";
inline constexpr QStringView SaveDialogTitle = u"Save file as...";
inline constexpr QStringView SaveDialogFilter = u"All files (*.*)|*.*";
inline constexpr QStringView CancelQuestion = u"Do you wish to cancel the file transfer ?";
inline constexpr QStringView AlreadyExistsHead = u"The file '";
inline constexpr QStringView AlreadyExistsTail = u"' already exists.\r\rOverwrite ?";
inline constexpr QStringView SavedAs = u"Saved received file as:";
inline constexpr QStringView CouldNotOpen = u"Could not open ";
inline constexpr QStringView NoAssociation =
    u"No application is associated with the specified file for this operation.";
inline constexpr QStringView SenderCancelled = u" has cancelled the file transfer.";
inline constexpr QStringView TransferError = u"A file transfer error has occured.";
inline constexpr QStringView OfferRefused = u"The file offer cannot be accepted.";
inline constexpr QStringView Overrun =
    u"The sender sent more data than the file size it announced.\r\rThe file was not saved.";
inline constexpr QStringView CannotCreate = u"The received file cannot be stored in:";
inline constexpr QStringView CannotWrite = u"The received file could not be written.";
inline constexpr QStringView CannotSave = u"The received file could not be saved as:";
} // namespace text

// How often the progress label is refreshed: on received counts divisible by this.
inline constexpr int ProgressLabelStep = 32;
// Bound on connecting to the sender before it counts as a time-out.
inline constexpr int ConnectTimeoutMs = 30000;
// The progress bar and label take every count as it arrives, but are painted at
// most about this often: painting after each block cost a tenth of receiving.
inline constexpr int ProgressPaintMs = 40;

// A byte count as the window shows it: "1023 bytes", "1.00 k", "1.00 M"
// (a megabyte here is 1 024 000 bytes).
QString FormatSize(qint32 n);

struct SavePathChoice {
    QString path;               // empty: the user cancelled the transfer
    bool replaceAgreed = false; // an existing file there may be replaced
};

// With `ask`, asks through the save dialog until there is a path the user
// accepts: a free name, or an existing file they agreed to overwrite (it stays
// until the new one is complete, and is then replaced). Without, never asks and
// never overwrites: a taken name becomes the next free "name (2).ext".
SavePathChoice ChooseSavePath(QString path, const QString& folder, bool ask);

class frmFile : public QWidget {
    Q_OBJECT
public:
    enum class Phase { Asking, Connecting, Receiving, Failed, Done };

    explicit frmFile(QWidget* parent = nullptr);
    ~frmFile() override;

    // The offer's pieces from the command line; refuses a malformed or unsafe
    // offer with a message (and a cancel notice when the sender can be told).
    void setInfo(const QStringList& pieces);
    void setSender(const QString& sender);
    void setFileTitle(const QString& title);
    void setFileSize(qint32 size);
    void setAutoMode(short mode);
    short AutoMode() const { return m_autoMode; }
    short Selection() const;
    void setSelection(short selection);
    short Button() const { return m_button; }
    void setRemoteHost(const QString& host) { m_remoteHost = host; }
    void setRemotePort(int port) { m_remotePort = port; }
    void setParentX(int) {}

    // Presses button 0 ("OK") or 1 ("Cancel").
    void cmdFileClick(int index);

    Phase phase() const { return m_phase; }
    QString saveFolder() const { return m_saveFolder; }
    QString targetPath() const { return m_targetPath; }
    qint32 receivedCount() const { return m_received; }
    bool isUnloaded() const { return m_unloaded; }

Q_SIGNALS:
    // The window is gone; Dorvan ends.
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void accept();
    void cancelByUser();
    void unload();
    void refuse(const QString& reason, bool notify, const QString& ownName);
    void sendCancelNotice();
    bool createPartial();
    void discardPartial();
    void finish();
    bool moveIntoPlace(int* error);
    // Adds the transfer to the received-files list, once; an empty failure: saved.
    void record(const QString& failure = {});
    void showSize();
    void take(const QByteArray& bytes);
    void holdProgressPaint();

    void onConnected();
    void onDataArrival();
    void onClosed();
    void onError(int number, const QString& description);

    std::unique_ptr<Ui::frmFile> ui;
    platform::Socket* wskFile;
    platform::Socket* wskCtrl;
    QTimer* tmrConnect;
    QTimer* tmrProgressPaint;

    QString m_sender;
    QString m_fileTitle;
    qint32 m_fileSize = 0;
    QString m_remoteHost;
    int m_remotePort = 0;
    QString m_ownName;
    short m_autoMode = 0;
    short m_button = -1;
    bool m_notifySender = false; // the address was checked and may be told of a cancel

    QString m_saveFolder;
    QString m_targetPath;
    bool m_replaceAgreed = false;
    QString m_partialPath;
    QFile m_partial;
    qint32 m_received = 0;
    QString m_totalText;
    Phase m_phase = Phase::Asking;
    bool m_unloaded = false;
    bool m_recorded = false;
};

} // namespace kv::dorvan
