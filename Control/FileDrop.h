#pragma once
// Files dropped on a participant list, offered to the row they land on.
#include <QObject>
#include <functional>

class QTreeView;

namespace kv::control {

// Files dropped on a participant list: the row under the pointer is
// highlighted while dragging, selected on the drop, and each dropped file is
// offered to it in order; folders are skipped with a message.
class FileDrop : public QObject {
public:
    using OfferFn = std::function<void(const QString& name, const QString& path)>;
    explicit FileDrop(OfferFn offer, QObject* parent = nullptr);
    void watch(QTreeView* list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OfferFn m_offer;
};

} // namespace kv::control
