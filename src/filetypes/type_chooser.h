// The file-type chooser (TForm6) without its window: a two-level tree of check boxes,
// group captions over type items, kept consistent after every toggle.
//
// A front end shows Nodes() and forwards the user's actions: SetChecked for a toggled box,
// btnAllClick / btnClrClick, and Button1Click on OK. Cancel simply does not call
// Button1Click. Opening the chooser is Open(TypeMask).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

struct TTypeTreeNode {
  std::string Text;       // trimmed item text, or the group caption
  int Parent = -1;        // index of the group node; -1 for a group
  bool Checked = false;
  std::string ShortName;  // type items only: the key into the catalogue
  bool IsGroup() const { return Parent < 0; }
};

class TypeChooser {
 public:
  // Capacity of the check snapshot, and therefore of the tree.
  static constexpr size_t kSnapshotSize = 100;

  // Adds a group caption (no leading blank) or a type item (leading blank) as described
  // with the tree lists; a type item whose text is already in the tree, an empty item and
  // an item before any group are ignored. False only when the tree is full.
  bool AddTreeItem(std::string_view text);
  // Adds the catalogue's tree lists item by item (a second call adds nothing).
  void Populate();
  // Populate, then InitTreeChecks: what opening the chooser does.
  void Open(uint32_t TypeMask);

  // Checks the type items selected in TypeMask, and each group whose items are all
  // checked (a group without items counts as checked); then takes a snapshot.
  void InitTreeChecks(uint32_t TypeMask);
  // Snapshot of every node's checked state.
  void CollectChecks();
  // Handles the first node whose state differs from the snapshot: a type item updates its
  // group, a group passes its state to all its items.
  void CompareChecks();

  // The user toggles a box: the node changes, then CompareChecks and CollectChecks run.
  // False (and nothing changes) when `node` is not a node of the tree.
  bool SetChecked(int node, bool checked);
  void btnAllClick();
  void btnClrClick();
  // OK: every catalogue entry with a type item takes that item's state into TypeMask;
  // entries without an item keep their bit.
  void Button1Click(uint32_t& TypeMask) const;

  const std::vector<TTypeTreeNode>& Nodes() const { return nodes_; }
  // First node with this text, or -1.
  int FindNode(std::string_view text) const;
  // The type item with this short name, or -1.
  int FindTypeItem(std::string_view shortName) const;
  // Indexes of the type items of group `group`, in tree order.
  std::vector<int> ItemsOf(int group) const;
  bool GetChecked(int node) const;

 private:
  bool AllItemsChecked(int group) const;
  void SetAll(bool checked);

  std::vector<TTypeTreeNode> nodes_;
  int currentGroup_ = -1;
  std::array<bool, kSnapshotSize> snapshot_{};
};

}  // namespace morvane
