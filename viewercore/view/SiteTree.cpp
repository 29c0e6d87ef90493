#include "SiteTree.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QMimeData>
#include <QPainter>

namespace viewer {

namespace {

// The order of the tree control's alphabetical insertion: case-insensitive.
bool Before(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; }

} // namespace

SiteTree::SiteTree(QWidget* parent, int controlId, bool groupTree)
    : QTreeWidget(parent), controlId_(controlId), groupTree_(groupTree)
{
    setObjectName(QString::number(controlId));
    setHeaderHidden(true);
    setColumnCount(1);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    // Background 0x793A0F and text 0xFFCB99 as Windows colour values.
    setStyleSheet("QTreeWidget { background: #0F3A79; color: #99CBFF; border: none; }"
                  "QTreeWidget::item:selected { background: #2A5CA8; color: white; }");
}

QTreeWidgetItem* SiteTree::InsertSorted(const QString& text, const QIcon& icon)
{
    int at = 0;
    while (at < topLevelItemCount() && !Before(text, topLevelItem(at)->text(0)))
        ++at;
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setIcon(0, icon);
    insertTopLevelItem(at, item);
    return item;
}

QTreeWidgetItem* SiteTree::InsertSortedChild(QTreeWidgetItem* parent, const QString& text, const QIcon& icon)
{
    int at = 0;
    while (at < parent->childCount() && !Before(text, parent->child(at)->text(0)))
        ++at;
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setIcon(0, icon);
    parent->insertChild(at, item);
    return item;
}

void SiteTree::startDrag(Qt::DropActions)
{
    QTreeWidgetItem* item = currentItem();
    if (!item)
        return;
    if (groupTree_ && item->parent())
        return; // a camera of a group is not dragged
    dragged_ = item;
    auto* mime = new QMimeData;
    mime->setData(kTreeItemMime, QByteArray::number(controlId_));
    QPixmap image(fontMetrics().horizontalAdvance(item->text(0)) + 24, 18);
    image.fill(QColor(15, 58, 121, 200));
    {
        QPainter p(&image);
        p.setPen(QColor(0x99, 0xCB, 0xFF));
        p.drawPixmap(2, 1, item->icon(0).pixmap(16, 16));
        p.drawText(QRect(20, 0, image.width() - 20, 18), Qt::AlignVCenter, item->text(0));
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(10, 10));
    drag->exec(Qt::CopyAction);
    dragged_ = nullptr;
    setCurrentItem(item);
}

void SiteTree::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = itemAt(viewport()->mapFrom(this, event->pos()));
    if (!item)
        return;
    setCurrentItem(item);
    if (onContextMenu)
        onContextMenu(this, event->globalPos());
}

} // namespace viewer
