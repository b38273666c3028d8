#pragma once
// The Peerslip viewer: a small always-on-top window showing a peer's profile,
// handed over as the pieces of a SHOWUSER command line, with a button that
// adds the peer to the product's contacts. Closing it ends Dorvan.
#include <QStringList>
#include <QWidget>
#include <memory>

namespace Ui {
class frmProp;
}

namespace kv {
class StoreAccess;
}

namespace kv::dorvan {

namespace text {
inline constexpr QStringView ViewerTitle = u"Peerslip";
inline constexpr QStringView TitleSeparator = u" - ";
} // namespace text

class frmProp : public QWidget {
    Q_OBJECT
    // The pieces of the command line, piece 0 being the command word.
    Q_PROPERTY(QStringList User READ user WRITE setUser)
public:
    explicit frmProp(QWidget* parent = nullptr);
    ~frmProp() override;

    void setUser(const QStringList& pieces);
    const QStringList& user() const { return m_pieces; }

    // 0 "&Add to Contacts", 1 "&Close".
    void cmdPropClick(int index);
    // The result of the last add (0 saved, -1 nothing saved).
    int lastSaveResult() const { return m_lastSave; }

    bool isUnloaded() const { return m_unloaded; }
    void Unload();

Q_SIGNALS:
    void Unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString piece(int index) const;

    std::unique_ptr<Ui::frmProp> ui;
    std::unique_ptr<StoreAccess> m_store;
    QStringList m_pieces;
    int m_lastSave = 0;
    bool m_unloaded = false;
    bool m_iconPending = true;
};

} // namespace kv::dorvan
