// The deep scan's options as the window keeps them, and the settings
// dialog "参数设置": the priority range and option check boxes on one page,
// the file types to search on the other.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <bitset>
#include <cstdint>
#include <string>

#include "session/worded_prompt.h"
#include "catalog/file_types.h"
#include "catalog/partition_info.h"

namespace ambrel::ui {

class FileTypePage;
class ScanPanel;

// The options of one scan: the partition, the priority range, and the
// option bytes 32 to 42 (index 0 is byte 32). A byte of 2 among 32-39 is
// fixed by the mode and not taken from its check box.
struct DeepScanOptions {
  std::uint64_t partStart = 0;
  std::uint64_t partSectors = 0;
  std::uint64_t priorityStart = 0;
  std::uint64_t priorityLength = 0;
  std::array<std::uint8_t, 11> option{{0, 1, 1, 1, 1, 1, 0, 1, 0, 0, 1}};
  std::bitset<kTypeSlots> typesLeftOut;  // the file page's clear boxes
  // The video reassembly switches; until the dialog stored them, the
  // settings MovFragRecovery and MtsFragRecovery decide.
  bool videoChosen = false;
  bool movFragRecovery = false;
  bool mtsFragRecovery = false;
  std::uint8_t& Byte(int number) { return option[std::size_t(number - 32)]; }
  std::uint8_t Byte(int number) const { return option[std::size_t(number - 32)]; }
};

DeepScanOptions CurrentDeepScanOptions();
void StoreDeepScanOptions(const DeepScanOptions& options);

// A priority field's text: at most 10 characters, digits only; a
// 10-character text must not begin above "4", nor with "4" followed by a
// character above "2".
bool PriorityTextAccepted(const QString& text);
// The label beside a priority field: "%u(GB)" of sectors / 2^21 when the
// text has more than three characters, else "0(GB)".
QString PriorityGbText(const QString& text);

class DeepScanSettingsDialog final : public QDialog {
  Q_OBJECT
 public:
  DeepScanSettingsDialog(const PartitionInfo& partition, DeepScanOptions options, WordedPrompt& prompt,
                         QWidget* parent = nullptr);
  const DeepScanOptions& options() const { return options_; }
  bool TryAccept();

  QLineEdit* startField() const { return start_; }
  QLineEdit* countField() const { return count_; }
  QLabel* startLabel() const { return startGb_; }
  QCheckBox* optionBox(int number) const { return boxes_[std::size_t(number - 32)]; }
  QCheckBox* movFragBox() const { return movFrag_; }
  QCheckBox* mtsFragBox() const { return mtsFrag_; }
  FileTypePage* filePage() const { return filePage_; }

 private:
  void FieldEdited(QLineEdit* field, QLabel* label, QString& accepted, const char* message);

  WordedPrompt& prompt_;
  DeepScanOptions options_;
  QLineEdit* start_;
  QLineEdit* count_;
  QLabel* startGb_;
  QLabel* countGb_;
  QString startAccepted_, countAccepted_;
  std::array<QCheckBox*, 11> boxes_{};
  QCheckBox* movFrag_ = nullptr;
  QCheckBox* mtsFrag_ = nullptr;
  FileTypePage* filePage_;
};


}  // namespace ambrel::ui
