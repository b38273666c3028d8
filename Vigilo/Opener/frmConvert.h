#pragma once
// The folder-conversion window: Dorvan started without a command turns the
// items of a contacts folder into the product's contacts or back into
// standard ones.
#include <QWidget>
#include <memory>

namespace Ui {
class frmConvert;
}

namespace kv::dorvan {

class frmOpen;

class frmConvert : public QWidget {
    Q_OBJECT
public:
    // The main window carries the conversions; the store is the configured one.
    frmConvert(frmOpen* owner, const QString& store, const QString& productFolder);
    ~frmConvert() override;

    // Fills the folder list (with the hourglass) and shows the window.
    void Load();
    // "&Update folder items".
    void Command1Click();
    // The folder named by the selected entry "'<name>' folder"; empty when none.
    QString SelectedFolder() const;

    bool isUnloaded() const { return m_unloaded; }
    void Unload();

Q_SIGNALS:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::frmConvert> ui;
    frmOpen* m_owner;
    QString m_store;
    QString m_productFolder;
    bool m_unloaded = false;
};

} // namespace kv::dorvan
