// The search filter dialog "文件搜索设置": keywords, a size range in KiB and
// three date ranges. OK runs the checks in order; the first failing one is
// shown and the dialog stays open.
#pragma once

#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include "session/worded_prompt.h"
#include "catalog/search_filter.h"

namespace ambrel::ui {

class FilterDialog final : public QDialog {
  Q_OBJECT
 public:
  FilterDialog(const FilterSettings& current, WordedPrompt& prompt, QWidget* parent = nullptr);
  // The settings chosen (valid after the dialog was accepted).
  const FilterSettings& chosen() const { return chosen_; }
  FilterDialogInput Input() const;
  // The OK button's work; true when the dialog closed.
  bool TryAccept();

  QLineEdit* keywords() const { return keywords_; }
  QLineEdit* minSize() const { return minSize_; }
  QLineEdit* maxSize() const { return maxSize_; }
  QLabel* minSizeLabel() const { return minLabel_; }
  QLabel* maxSizeLabel() const { return maxLabel_; }
  QDateEdit* dateEdit(int pair, bool to) const { return dates_[pair * 2 + (to ? 1 : 0)]; }

 private:
  void SizeEdited(QLineEdit* field, QLabel* label, QString& accepted);

  WordedPrompt& prompt_;
  FilterSettings chosen_;
  QLineEdit* keywords_;
  QLineEdit* minSize_;
  QLineEdit* maxSize_;
  QLabel* minLabel_;
  QLabel* maxLabel_;
  QString minAccepted_, maxAccepted_;
  QDateEdit* dates_[6]{};
};

// The date a PackedTime bound names (1980-01-01 for 0).
QDate DateOfPacked(PackedTime t);

}  // namespace ambrel::ui
