// TForm6: the file-type chooser. Groups of file types with check boxes, Select All,
// Clear All, OK and Cancel, bound to the TypeChooser model, which keeps groups and their
// items consistent. The window holds the program's TypeMask; OK writes the boxes into it,
// Cancel leaves it alone.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QString>

#include <cstdint>
#include <vector>

#include "app/language.h"
#include "filetypes/type_chooser.h"

namespace morvane {

class TBUTreeView;

class TForm6 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm6(QWidget* parent = nullptr);

  TBUTreeView* tree;  // objectName "BUTreeView1"
  QPushButton* btnAll;
  QPushButton* btnClr;
  QPushButton* Button1;  // OK
  QPushButton* Button2;  // Cancel

  // The texts FormShow puts on the window; the process-wide texts until set.
  void SetFaceTexts(const TFaceTexts& texts) { texts_ = &texts; }

  // A group caption (no leading blank) or a type item (leading blank), as the model takes
  // it; the tree shows every node the model adds. A second identical item adds nothing.
  void AddTreeItem(const QString& text);
  // Adds the catalogue's lists item by item: what the main window does before showing the
  // chooser (opening it twice adds nothing).
  void AddTypeLists();

  uint32_t TypeMask() const { return typeMask_; }
  void SetTypeMask(uint32_t mask) { typeMask_ = mask; }

  // Adds the lists, shows the window modally and returns its result (Accepted after OK).
  int Execute();

  const TypeChooser& Model() const { return model_; }
  // The tree node of model node `index`, or nullptr.
  QTreeWidgetItem* NodeItem(int index) const;
  // The tree node with this text (trimmed item text or group caption), or nullptr.
  QTreeWidgetItem* FindItem(const QString& text) const;
  // True once InitTreeChecks has run for the current showing.
  bool ChecksReady() const { return checksReady_; }

 public slots:
  // Texts and font on the window, then InitTreeChecks shortly after the window is on
  // screen. Runs on every showing.
  void FormShow();
  // The boxes from TypeMask, groups from their items; then the snapshot.
  void InitTreeChecks();
  void btnAllClick();
  void btnClrClick();
  void Button1Click();  // OK: TypeMask from the boxes, close with Accepted
  void Button2Click();  // Cancel: close with Rejected, TypeMask unchanged

 signals:
  // InitTreeChecks has run.
  void TreeChecksReady();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BUTreeView1Change(QTreeWidgetItem* node, bool checked);
  void ShowModelChecks();
  void FitTreeToItems();
  int IndexOf(const QTreeWidgetItem* node) const;

  TypeChooser model_;
  std::vector<QTreeWidgetItem*> items_;  // by model node index
  uint32_t typeMask_;
  const TFaceTexts* texts_ = nullptr;
  bool checksReady_ = false;
  int showSerial_ = 0;
};

}  // namespace morvane
