#include "filetypes/type_chooser.h"

#include <gtest/gtest.h>

#include "filetypes/catalogue.h"

namespace morvane {
namespace {

class TypeChooserTest : public ::testing::Test {
 protected:
  int Node(std::string_view text) {
    int n = tree.FindNode(text);
    EXPECT_GE(n, 0) << text;
    return n;
  }
  bool Checked(std::string_view text) { return tree.GetChecked(Node(text)); }
  uint32_t Ok(uint32_t mask) {
    tree.Button1Click(mask);
    return mask;
  }
  TypeChooser tree;
};

TEST_F(TypeChooserTest, OpensWithOneNodePerGroupAndKind) {
  tree.Open(kAllFileTypesMask);
  tree.Open(kAllFileTypesMask);  // opening again adds nothing
  ASSERT_EQ(tree.Nodes().size(), 35u);
  for (const TTypeTreeNode& n : tree.Nodes()) EXPECT_TRUE(n.Checked) << n.Text;

  // The two "Picture" lists form one group.
  std::vector<std::string> pictures;
  for (int i : tree.ItemsOf(Node("Picture"))) pictures.push_back(tree.Nodes()[i].ShortName);
  EXPECT_EQ(pictures, (std::vector<std::string>{"JPG", "BMP", "PNG", "HEIC", "AVIF", "WEBP", "RAW"}));
}

TEST_F(TypeChooserTest, ItemAndGroupTogglesKeepTheTreeConsistent) {
  tree.Open(kAllFileTypesMask);
  tree.SetChecked(Node("DOC/DOCX/WPS"), false);
  EXPECT_FALSE(Checked("Document"));
  EXPECT_TRUE(Checked("XLS/XLSX/ET"));
  EXPECT_EQ(Ok(kAllFileTypesMask), kAllFileTypesMask & ~kTypeDoc);
  tree.SetChecked(Node("DOC/DOCX/WPS"), true);
  EXPECT_TRUE(Checked("Document"));

  tree.Open(kTypeJpg);
  EXPECT_FALSE(Checked("Video"));
  tree.SetChecked(Node("Video"), true);
  for (int i : tree.ItemsOf(Node("Video"))) EXPECT_TRUE(tree.Nodes()[i].Checked);
  EXPECT_EQ(Ok(kTypeJpg), kTypeJpg | 0xFFF0u | kTypeDat | kTypeWav | kTypeMkv);
}

TEST_F(TypeChooserTest, CancelKeepsTheMaskAndClearAllGivesZero) {
  const uint32_t mask = kAllFileTypesMask & ~kTypeXls;
  tree.Open(mask);
  EXPECT_FALSE(Checked("Document"));
  tree.btnClrClick();  // then Cancel: Button1Click is not called
  tree.Open(mask);
  EXPECT_TRUE(Checked("JPG"));
  EXPECT_EQ(Ok(mask), mask);

  tree.btnClrClick();
  EXPECT_EQ(Ok(kAllFileTypesMask), 0u);
  tree.btnAllClick();
  EXPECT_EQ(Ok(0x80000000u), 0x80000000u | kAllFileTypesMask);  // foreign bits stay
}

TEST_F(TypeChooserTest, TreeStaysWithinItsSnapshot) {
  tree.AddTreeItem("  orphan");  // an item before any group is ignored
  EXPECT_TRUE(tree.Nodes().empty());
  tree.AddTreeItem("Group");
  for (int i = 0; i < 200; ++i) tree.AddTreeItem("  item" + std::to_string(i));
  ASSERT_EQ(tree.Nodes().size(), TypeChooser::kSnapshotSize);

  // The last node is tracked like any other; nodes outside the tree are refused.
  int last = static_cast<int>(tree.Nodes().size()) - 1;
  tree.InitTreeChecks(0);
  tree.SetChecked(0, true);
  EXPECT_TRUE(tree.GetChecked(last));
  tree.SetChecked(last, false);
  EXPECT_FALSE(tree.GetChecked(0));
  EXPECT_FALSE(tree.SetChecked(last + 1, true));
  EXPECT_FALSE(tree.SetChecked(-1, true));
}

}  // namespace
}  // namespace morvane
