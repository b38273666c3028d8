#pragma once
// The received-files window: the list of files others sent, newest first,
// each shown in its folder or opened with the desktop's handler, and the
// transfers that failed with their reason. Closing it ends Dorvan.
#include <QWidget>
#include <memory>

namespace Ui {
class frmReceived;
}

namespace kv::dorvan {

namespace text {
inline constexpr QStringView FileGone = u"The received file is no longer there:";
} // namespace text

class frmReceived : public QWidget {
    Q_OBJECT
public:
    explicit frmReceived(QWidget* parent = nullptr);
    ~frmReceived() override;

    // Shows the chosen file in its folder, or opens it (Enter and double-click too).
    void showInFolder();
    void openFile();

    bool isUnloaded() const { return m_unloaded; }
    void Unload();

Q_SIGNALS:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The chosen entry's saved file, after telling the user when it is gone; empty: none.
    QString chosenFile() const;
    void updateButtons();

    std::unique_ptr<Ui::frmReceived> ui;
    bool m_unloaded = false;
};

} // namespace kv::dorvan
