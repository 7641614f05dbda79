#include "window_state.h"

#include <QSettings>
#include <QSplitter>

#include "qt_text.h"
#include "session/program.h"

namespace ambrel::ui {

namespace {
const QString kGeometry = QStringLiteral("window/geometry");
QString SplitterKey(const QSplitter& splitter) { return QStringLiteral("splitters/") + splitter.objectName(); }
}  // namespace

QString WindowStateFile(const QString& folder) {
  const QString where = folder.isEmpty() ? Q(ProgramFolder()) : folder;
  return where + QStringLiteral("/WindowState.ini");
}

void SaveWindowState(const QWidget& window, const QString& file) {
  QSettings store(file, QSettings::IniFormat);
  store.setValue(kGeometry, window.saveGeometry());
  for (const QSplitter* splitter : window.findChildren<QSplitter*>())
    if (!splitter->objectName().isEmpty()) store.setValue(SplitterKey(*splitter), splitter->saveState());
  store.sync();
}

bool RestoreWindowState(QWidget& window, const QString& file) {
  QSettings store(file, QSettings::IniFormat);
  // A damaged or foreign file gives values restoreGeometry refuses.
  const bool restored = window.restoreGeometry(store.value(kGeometry).toByteArray());
  for (QSplitter* splitter : window.findChildren<QSplitter*>()) {
    if (splitter->objectName().isEmpty()) continue;
    const QByteArray state = store.value(SplitterKey(*splitter)).toByteArray();
    if (!state.isEmpty()) splitter->restoreState(state);
  }
  return restored;
}

}  // namespace ambrel::ui
