// Text between the core (UTF-8 std::string) and Qt (QString).
#pragma once

#include <QString>
#include <string>

namespace ambrel::ui {

inline QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }
inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
inline std::string U8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), std::size_t(bytes.size()));
}

}  // namespace ambrel::ui
