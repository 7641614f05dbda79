// Qt's own dialogs (file choosers, standard buttons, context menus of the
// text fields) in Chinese: the program has no other language.
#pragma once

#include <QString>

namespace ambrel::ui {

// Loads Qt's simplified-Chinese catalogue (qtbase_zh_CN, from Qt's
// translations folder or `folder` when given) into the application and
// makes zh_CN the default locale. False when the catalogue was not found;
// the dialogs then stay in English.
bool InstallQtTranslations(const QString& folder = {});

}  // namespace ambrel::ui
