// What the modal progress dialog and the scan panel show for a progress
// record: pure functions of the record, so that they can be tested alone.
#pragma once

#include <QString>
#include <QStringList>

#include "session/program.h"

namespace ambrel::ui {

struct ProgressLines {
  bool shown = false;    // false: the stage is not one this view shows
  QString title;
  QStringList lines;     // the further lines, in order
  bool showBar = false;
  int barPercent = -1;   // -1: leave the bar as it is
};

// The modal dialog's lines for stages 1, 2, 3, 5, 7, 8 and 11.
ProgressLines DialogLines(const ScanProgress& record);
// The scan panel's two lines for stages 1, 2, 7, 8, 10, 11, 12 and 13.
// `timing` is the elapsed / remaining / speed text appended in stages 2, 13.
ProgressLines PanelLines(const ScanProgress& record, const QString& timing = {});

}  // namespace ambrel::ui
