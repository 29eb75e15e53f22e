// TBUTreeView: a tree with a check box on every node, per-node bold state and popup menus,
// and an optional tab widget whose page follows the selected node.
//
// Toggles of a check box by the user (mouse or Space) are reported by NodeToggled; changes
// made through SetChecked are not.
#pragma once

#include <QColor>
#include <QHash>
#include <QTreeWidget>

class QMenu;
class QTabWidget;

namespace morvane {

class TBUTreeView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TBUTreeView(QWidget* parent = nullptr);

  // Check boxes on every node (on by default). Turning them off hides the boxes.
  void SetCheckboxes(bool on);
  bool Checkboxes() const { return checkboxes_; }
  // The width the widest item needs (its indentation, box and text), as the view measures it.
  int ContentsWidth() const { return sizeHintForColumn(0); }

  // Adds a node under `parent` (top level for nullptr), unchecked.
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& text);

  static bool GetChecked(const QTreeWidgetItem* node);
  // Sets a node's box without reporting it as a toggle.
  void SetChecked(QTreeWidgetItem* node, bool checked);
  static bool GetBold(const QTreeWidgetItem* node);
  static void SetBold(QTreeWidgetItem* node, bool bold);

  // The popup menu of a node, opened by a right click on it; not owned.
  QMenu* GetNodePopup(const QTreeWidgetItem* node) const { return popups_.value(node, nullptr); }
  void SetNodePopup(const QTreeWidgetItem* node, QMenu* menu);

  // The tab widget whose page, captioned like the selected node, is activated on every
  // selection change; nullptr detaches it.
  void SetPageControl(QTabWidget* pages) { pages_ = pages; }

  // Tooltip background while the mouse is over the control (invalid: the system's).
  QColor HintColor;

  // All nodes in tree order (pre-order).
  QList<QTreeWidgetItem*> AllNodes() const;

 signals:
  // The user toggled `node`'s check box; `checked` is its new state.
  void NodeToggled(QTreeWidgetItem* node, bool checked);
  void OnPageChanged(int index);
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void ItemChanged(QTreeWidgetItem* item, int column);
  void SelectionChanged();

  bool checkboxes_ = true;
  int quiet_ = 0;  // > 0 while the program itself changes boxes
  QHash<const QTreeWidgetItem*, QMenu*> popups_;
  QTabWidget* pages_ = nullptr;
  QPalette savedToolTipPalette_;
};

}  // namespace morvane
