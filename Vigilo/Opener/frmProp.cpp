#include "Vigilo/Opener/frmProp.h"

#include "Shared/ContactRecords.h"
#include "Shared/StoreAccess.h"
#include "Shared/modMisc.h"
#include "ui_frmProp.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QTimer>

using namespace Qt::StringLiterals;

// The resources of a static library are brought in by name.
static void InitDorvanResources()
{
    Q_INIT_RESOURCE(dorvan);
}

namespace kv::dorvan {

namespace {
// Value labels by field of the profile text (1-based): lblProp(i) shows field ...
constexpr int FullNameLabel = 0, EmailLabel = 1, CityStateLabel = 2, CountryLabel = 3, CommentLabel = 4,
              ChatNameLabel = 5, AvailabilityLabel = 6, CompanyLabel = 7;
} // namespace

frmProp::frmProp(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::frmProp>())
{
    ui->setupUi(this);
    InitDorvanResources();
    // Topmost without moving or resizing.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    connect(ui->cmdProp_0, &QPushButton::clicked, this, [this] { cmdPropClick(0); });
    connect(ui->cmdProp_1, &QPushButton::clicked, this, [this] { cmdPropClick(1); });
}

frmProp::~frmProp() = default;

void frmProp::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!m_iconPending) return;
    m_iconPending = false;
    // The icon is drawn from SVG (a plugin to load, an image to render): after the
    // window's first paint, so the Peerslip shows without waiting for it.
    QTimer::singleShot(0, this, [this] { setWindowIcon(QIcon(u":/dorvan/kivara.svg"_s)); });
}

QString frmProp::piece(int index) const
{
    return index < m_pieces.size() ? m_pieces.at(index) : QString();
}

void frmProp::setUser(const QStringList& pieces)
{
    m_pieces = pieces;
    setWindowTitle(windowTitle() + text::TitleSeparator.toString() + piece(contactfield::ChatName));
    const auto set = [this](int label, const QString& value) {
        if (auto* l = findChild<QLabel*>(u"lblProp_"_s + QString::number(label))) l->setText(value);
    };
    set(FullNameLabel, piece(contactfield::FullName));
    set(CompanyLabel, piece(contactfield::Company));
    set(EmailLabel, piece(contactfield::Email));
    set(CityStateLabel, JoinNonEmpty(piece(contactfield::City), piece(contactfield::State)));
    set(CountryLabel, piece(contactfield::Country));
    set(CommentLabel, piece(contactfield::Comment));
    set(ChatNameLabel, piece(contactfield::ChatName));
    set(AvailabilityLabel, piece(contactfield::UserStatus));
}

void frmProp::cmdPropClick(int index)
{
    if (index == 0) {
        // SaveContact shows the busy pointer itself, and the normal one while it asks.
        if (!m_store) m_store = std::make_unique<StoreAccess>(Deliverable::Dorvan);
        m_lastSave = SaveContact(*m_store, m_pieces, true);
        return;
    }
    Unload();
}

void frmProp::closeEvent(QCloseEvent* event)
{
    event->accept();
    Unload();
}

void frmProp::Unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    hide();
    if (m_store) m_store->Release();
    Q_EMIT Unloaded();
}

} // namespace kv::dorvan
