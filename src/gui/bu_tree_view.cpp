#include "gui/bu_tree_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTabWidget>
#include <QToolTip>

namespace morvane {

TBUTreeView::TBUTreeView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::itemChanged, this, &TBUTreeView::ItemChanged);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &TBUTreeView::SelectionChanged);
}

void TBUTreeView::SetCheckboxes(bool on) {
  if (on == checkboxes_) return;
  checkboxes_ = on;
  ++quiet_;
  for (QTreeWidgetItem* node : AllNodes()) {
    if (on) {
      node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
      node->setCheckState(0, Qt::Unchecked);
    } else {
      node->setFlags(node->flags() & ~Qt::ItemIsUserCheckable);
      node->setData(0, Qt::CheckStateRole, QVariant());
    }
  }
  --quiet_;
}

QTreeWidgetItem* TBUTreeView::AddNode(QTreeWidgetItem* parent, const QString& text) {
  ++quiet_;
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  node->setText(0, text);
  // Plain two-state boxes: the owner decides how groups follow their items.
  node->setFlags((node->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
  if (checkboxes_) node->setCheckState(0, Qt::Unchecked);
  --quiet_;
  return node;
}

bool TBUTreeView::GetChecked(const QTreeWidgetItem* node) { return node && node->checkState(0) == Qt::Checked; }

void TBUTreeView::SetChecked(QTreeWidgetItem* node, bool checked) {
  if (!node || !checkboxes_) return;
  Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
  if (node->checkState(0) == state) return;
  ++quiet_;
  node->setCheckState(0, state);
  --quiet_;
}

bool TBUTreeView::GetBold(const QTreeWidgetItem* node) { return node && node->font(0).bold(); }

void TBUTreeView::SetBold(QTreeWidgetItem* node, bool bold) {
  if (!node) return;
  QFont f = node->font(0);
  f.setBold(bold);
  node->setFont(0, f);
}

void TBUTreeView::SetNodePopup(const QTreeWidgetItem* node, QMenu* menu) {
  if (menu)
    popups_.insert(node, menu);
  else
    popups_.remove(node);
}

QList<QTreeWidgetItem*> TBUTreeView::AllNodes() const {
  QList<QTreeWidgetItem*> nodes;
  for (QTreeWidgetItemIterator it(const_cast<TBUTreeView*>(this)); *it; ++it) nodes.push_back(*it);
  return nodes;
}

void TBUTreeView::ItemChanged(QTreeWidgetItem* item, int column) {
  if (quiet_ > 0 || column != 0 || !checkboxes_) return;
  emit NodeToggled(item, GetChecked(item));
}

void TBUTreeView::SelectionChanged() {
  if (!pages_) return;
  QTreeWidgetItem* node = currentItem();
  if (!node) return;
  for (int i = 0; i < pages_->count(); ++i) {
    if (pages_->tabText(i) == node->text(0)) {
      pages_->setCurrentIndex(i);
      emit OnPageChanged(i);
      return;
    }
  }
}

void TBUTreeView::mousePressEvent(QMouseEvent* event) {
  // A click selects the node under the cursor, wherever on its row it lands.
  QTreeWidgetItem* node = itemAt(event->position().toPoint());
  if (!node && checkboxes_) node = itemAt(event->position().toPoint() + QPoint(16, 0));
  if (node && event->button() == Qt::RightButton) {
    setCurrentItem(node);
    if (QMenu* menu = GetNodePopup(node)) {
      menu->popup(event->globalPosition().toPoint());
      event->accept();
      return;
    }
  }
  QTreeWidget::mousePressEvent(event);
}

void TBUTreeView::enterEvent(QEnterEvent* event) {
  if (HintColor.isValid()) {
    savedToolTipPalette_ = QToolTip::palette();
    QPalette p = savedToolTipPalette_;
    p.setColor(QPalette::ToolTipBase, HintColor);
    QToolTip::setPalette(p);
  }
  emit OnMouseEnter();
  QTreeWidget::enterEvent(event);
}

void TBUTreeView::leaveEvent(QEvent* event) {
  if (HintColor.isValid()) QToolTip::setPalette(savedToolTipPalette_);
  emit OnMouseLeave();
  QTreeWidget::leaveEvent(event);
}

}  // namespace morvane
