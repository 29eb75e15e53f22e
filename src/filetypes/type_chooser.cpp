#include "filetypes/type_chooser.h"

#include "app/text_lines.h"
#include "filetypes/catalogue.h"

namespace morvane {

bool TypeChooser::AddTreeItem(std::string_view text) {
  bool isItem = !text.empty() && text.front() == ' ';
  if (isItem) {
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty() || currentGroup_ < 0 || FindNode(trimmed) >= 0) return true;
    if (nodes_.size() >= kSnapshotSize) return false;
    TTypeTreeNode node;
    node.Text = trimmed;
    node.Parent = currentGroup_;
    node.ShortName = ShortNameOf(trimmed);
    nodes_.push_back(std::move(node));
    return true;
  }
  // Only groups are looked up, so the tree stays two levels deep.
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].IsGroup() && nodes_[i].Text == text) {
      currentGroup_ = static_cast<int>(i);
      return true;
    }
  }
  if (nodes_.size() >= kSnapshotSize) return false;
  TTypeTreeNode group;
  group.Text = text;
  nodes_.push_back(std::move(group));
  currentGroup_ = static_cast<int>(nodes_.size() - 1);
  return true;
}

void TypeChooser::Populate() {
  for (std::span<const std::string_view> list : TypeTreeLists())
    for (std::string_view text : list) AddTreeItem(text);
}

void TypeChooser::Open(uint32_t TypeMask) {
  Populate();
  InitTreeChecks(TypeMask);
}

void TypeChooser::InitTreeChecks(uint32_t TypeMask) {
  for (TTypeTreeNode& node : nodes_) node.Checked = false;
  for (const TFileTypeEntry& entry : FileTypeCatalogue()) {
    if ((TypeMask & entry.Mask) == 0) continue;
    int item = FindTypeItem(entry.ShortName);
    if (item >= 0) nodes_[item].Checked = true;
  }
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].IsGroup()) nodes_[i].Checked = AllItemsChecked(static_cast<int>(i));
  CollectChecks();
}

void TypeChooser::CollectChecks() {
  snapshot_.fill(false);
  for (size_t i = 0; i < nodes_.size(); ++i) snapshot_[i] = nodes_[i].Checked;
}

void TypeChooser::CompareChecks() {
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const TTypeTreeNode& node = nodes_[i];
    if (node.Checked == snapshot_[i]) continue;
    if (node.IsGroup()) {
      for (int item : ItemsOf(static_cast<int>(i))) nodes_[item].Checked = node.Checked;
    } else {
      nodes_[node.Parent].Checked = AllItemsChecked(node.Parent);
    }
    return;
  }
}

bool TypeChooser::SetChecked(int node, bool checked) {
  if (node < 0 || static_cast<size_t>(node) >= nodes_.size()) return false;
  nodes_[node].Checked = checked;
  CompareChecks();
  CollectChecks();
  return true;
}

void TypeChooser::btnAllClick() { SetAll(true); }

void TypeChooser::btnClrClick() { SetAll(false); }

void TypeChooser::Button1Click(uint32_t& TypeMask) const {
  for (const TFileTypeEntry& entry : FileTypeCatalogue()) {
    int item = FindTypeItem(entry.ShortName);
    if (item < 0) continue;
    if (nodes_[item].Checked)
      TypeMask |= entry.Mask;
    else
      TypeMask &= ~entry.Mask;
  }
}

int TypeChooser::FindNode(std::string_view text) const {
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].Text == text) return static_cast<int>(i);
  return -1;
}

int TypeChooser::FindTypeItem(std::string_view shortName) const {
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (!nodes_[i].IsGroup() && nodes_[i].ShortName == shortName) return static_cast<int>(i);
  return -1;
}

std::vector<int> TypeChooser::ItemsOf(int group) const {
  std::vector<int> items;
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].Parent == group && group >= 0) items.push_back(static_cast<int>(i));
  return items;
}

bool TypeChooser::GetChecked(int node) const {
  return node >= 0 && static_cast<size_t>(node) < nodes_.size() && nodes_[node].Checked;
}

bool TypeChooser::AllItemsChecked(int group) const {
  for (const TTypeTreeNode& node : nodes_)
    if (node.Parent == group && !node.Checked) return false;
  return true;
}

void TypeChooser::SetAll(bool checked) {
  for (TTypeTreeNode& node : nodes_) node.Checked = checked;
  CollectChecks();
}

}  // namespace morvane
