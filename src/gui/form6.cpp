#include "gui/form6.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "filetypes/catalogue.h"
#include "gui/bu_tree_view.h"
#include "gui/message_boxes.h"
#include "gui/progress_window.h"

namespace morvane {

TForm6::TForm6(QWidget* parent) : QDialog(parent), typeMask_(kAllFileTypesMask) {
  setObjectName(QStringLiteral("Form6"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  tree = new TBUTreeView(this);
  tree->setObjectName(QStringLiteral("BUTreeView1"));
  tree->setMinimumWidth(300);

  auto makeButton = [this](const char* name) {
    auto* b = new QPushButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  btnAll = makeButton("btnAll");
  btnClr = makeButton("btnClr");
  Button1 = makeButton("Button1");
  Button2 = makeButton("Button2");
  Button1->setDefault(true);

  // The buttons stand in a column beside the tree, so that the tree can be as tall as its
  // thirty-odd rows on a 768-pixel screen.
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnAll);
  buttons->addWidget(btnClr);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 12);
  layout->setSpacing(10);
  layout->addWidget(tree, 1);
  layout->addLayout(buttons);

  connect(tree, &TBUTreeView::NodeToggled, this, &TForm6::BUTreeView1Change);
  connect(btnAll, &QPushButton::clicked, this, &TForm6::btnAllClick);
  connect(btnClr, &QPushButton::clicked, this, &TForm6::btnClrClick);
  connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
}

void TForm6::AddTreeItem(const QString& text) {
  size_t before = model_.Nodes().size();
  model_.AddTreeItem(text.toStdString());
  const auto& nodes = model_.Nodes();
  for (size_t i = before; i < nodes.size(); ++i) {
    const TTypeTreeNode& n = nodes[i];
    QTreeWidgetItem* parent = n.IsGroup() ? nullptr : items_[static_cast<size_t>(n.Parent)];
    QTreeWidgetItem* item = tree->AddNode(parent, QString::fromStdString(n.Text));
    item->setToolTip(0, item->text(0));
    if (n.IsGroup()) TBUTreeView::SetBold(item, true);
    if (parent) parent->setExpanded(true);
    items_.push_back(item);
  }
}

void TForm6::AddTypeLists() {
  for (auto list : TypeTreeLists())
    for (std::string_view text : list) AddTreeItem(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

int TForm6::Execute() {
  AddTypeLists();
  return exec();
}

QTreeWidgetItem* TForm6::NodeItem(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

QTreeWidgetItem* TForm6::FindItem(const QString& text) const { return NodeItem(model_.FindNode(text.toStdString())); }

int TForm6::IndexOf(const QTreeWidgetItem* node) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == node) return static_cast<int>(i);
  return -1;
}

void TForm6::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TForm6::FormShow() {
  const TFaceTexts& texts = texts_ ? *texts_ : FaceTexts();
  ApplyFaceFont(this, texts);
  setWindowTitle(FaceText(texts, 89));
  btnAll->setText(FaceText(texts, 90));
  btnClr->setText(FaceText(texts, 91));
  Button1->setText(FaceText(texts, 92));
  Button2->setText(FaceText(texts, 93));
  FitTreeToItems();
  // The boxes are set once the window is on screen; a later showing supersedes an earlier
  // one that has not got that far.
  checksReady_ = false;
  int serial = ++showSerial_;
  QTimer::singleShot(20, this, [this, serial] {
    if (serial == showSerial_ && !checksReady_) InitTreeChecks();
  });
}

// The tree as tall and as wide as its items in the window's font: no kind hides below a
// scroll bar or loses the end of its name.
void TForm6::FitTreeToItems() {
  tree->expandAll();
  if (items_.empty()) return;
  const int frame = 2 * tree->frameWidth();
  int rows = 0;
  for (QTreeWidgetItem* item : items_)
    if (!item->isHidden()) ++rows;
  const int rowHeight = std::max(tree->sizeHintForRow(0), tree->fontMetrics().height() + 4);
  // On a screen too short for every row (or with a font that spaces its lines wide) the
  // tree scrolls, and the window stays on the screen.
  const QMargins margins = layout()->contentsMargins();
  const QRect room = ScreenRoom(this);
  int height = rows * rowHeight + frame + 4;
  if (!room.isEmpty()) height = std::min(height, room.height() - margins.top() - margins.bottom());
  tree->setMinimumHeight(height);
  tree->setMinimumWidth(std::max(300, tree->ContentsWidth() + frame + 8));
  adjustSize();
}

void TForm6::InitTreeChecks() {
  model_.InitTreeChecks(typeMask_);
  ShowModelChecks();
  checksReady_ = true;
  emit TreeChecksReady();
}

void TForm6::ShowModelChecks() {
  const auto& nodes = model_.Nodes();
  for (size_t i = 0; i < nodes.size() && i < items_.size(); ++i) tree->SetChecked(items_[i], nodes[i].Checked);
}

void TForm6::BUTreeView1Change(QTreeWidgetItem* node, bool checked) {
  int index = IndexOf(node);
  if (index >= 0) model_.SetChecked(index, checked);
  ShowModelChecks();
}

void TForm6::btnAllClick() {
  model_.btnAllClick();
  ShowModelChecks();
}

void TForm6::btnClrClick() {
  model_.btnClrClick();
  ShowModelChecks();
}

void TForm6::Button1Click() {
  // OK pressed before the boxes were set from TypeMask must not apply what an earlier,
  // cancelled showing left in them.
  if (!checksReady_) InitTreeChecks();
  model_.Button1Click(typeMask_);
  accept();
}

void TForm6::Button2Click() { reject(); }

}  // namespace morvane
