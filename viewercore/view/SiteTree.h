#pragma once
// The DVR tree and the group tree: their items are dragged onto the view's
// cells, and a right click opens the tree's menu.
#include <QTreeWidget>

#include <functional>

namespace viewer {

inline constexpr const char* kTreeItemMime = "application/x-vyr-tree-item";

class SiteTree : public QTreeWidget {
public:
    SiteTree(QWidget* parent, int controlId, bool groupTree);
    // Opens the tree's menu at a global position; the item under the click
    // is current by then.
    std::function<void(SiteTree* tree, const QPoint& globalPos)> onContextMenu;
    int ControlId() const { return controlId_; }
    bool IsGroupTree() const { return groupTree_; }
    // The item a drag carries, while one is under way.
    QTreeWidgetItem* DraggedItem() const { return dragged_; }

    // Inserts a top-level item, keeping the alphabetical order of the texts.
    QTreeWidgetItem* InsertSorted(const QString& text, const QIcon& icon);
    static QTreeWidgetItem* InsertSortedChild(QTreeWidgetItem* parent, const QString& text, const QIcon& icon);

protected:
    void startDrag(Qt::DropActions actions) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int controlId_;
    bool groupTree_;
    QTreeWidgetItem* dragged_ = nullptr;
};

} // namespace viewer
