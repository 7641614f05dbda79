#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ambrel::ui {

bool InstallQtTranslations(const QString& folder) {
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  QLocale::setDefault(chinese);
  const QString where = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  // Owned by the application, which removes it from its list when it goes.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), where)) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace ambrel::ui
