#include "Control/FileDrop.h"

#include "Control/Session/FileSend.h"
#include "Platform/Prompt.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

namespace kv::control {

using platform::MsgBox;
using platform::MsgButtons;
using platform::MsgIcon;

// ---- Dropping files on a participant list ------------------------------------

FileDrop::FileDrop(OfferFn offer, QObject* parent) : QObject(parent), m_offer(std::move(offer)) {}

void FileDrop::watch(QTreeView* list)
{
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
}

namespace {

QStringList LocalPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

} // namespace

bool FileDrop::eventFilter(QObject* watched, QEvent* event)
{
    auto* list = qobject_cast<QTreeView*>(watched->parent());
    if (!list) return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (LocalPaths(drag->mimeData()).isEmpty()) return false; // not files: the list's own dragging
        const QModelIndex over = list->indexAt(drag->position().toPoint());
        if (over.isValid()) {
            list->setCurrentIndex(over);
            drag->acceptProposedAction();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = LocalPaths(drop->mimeData());
        if (paths.isEmpty()) return false;
        const QModelIndex over = list->indexAt(drop->position().toPoint());
        if (!over.isValid()) return true;
        drop->acceptProposedAction();
        list->clearSelection();
        list->setCurrentIndex(over);
        list->selectionModel()->select(over, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (over.row() == 0) {
            MsgBox(sendtext::SendToSelf.toString(), MsgButtons::OK, MsgIcon::Information);
            return true;
        }
        const QString name = over.siblingAtColumn(0).data().toString();
        for (const QString& path : paths) {
            if (QFileInfo(path).isDir()) {
                MsgBox(sendtext::NoFolders.toString(), MsgButtons::OK, MsgIcon::Information);
                continue;
            }
            m_offer(name, path);
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace kv::control
