// The window's geometry and the positions of its named splitters, kept
// between runs in "WindowState.ini" in the program folder (beside the log
// and the scan state).
#pragma once

#include <QString>
#include <QWidget>

namespace ambrel::ui {

// The file the state lives in: `folder` (the program folder when empty)
// + "/WindowState.ini".
QString WindowStateFile(const QString& folder = {});
// Writes the geometry of `window` and the state of every splitter under
// it that has an object name.
void SaveWindowState(const QWidget& window, const QString& file);
// Restores what SaveWindowState wrote; false (the window left as it is)
// when the file holds nothing usable.
bool RestoreWindowState(QWidget& window, const QString& file);

}  // namespace ambrel::ui
