#include "scan_prompt.h"

namespace ambrel::cli {

namespace {
constexpr char kReuseQuestion[] = "磁盘上保存有当前设备以前扫描的数据，是否复用？";
constexpr char kSaveQuestion[] = "是否保存当前已扫描的数据？";
}  // namespace

bool ScanPrompt::AskYesNo(const std::string& text) {
  const Answer given = text == kReuseQuestion ? reuse_ : text == kSaveQuestion ? save_ : Answer::kAsk;
  const bool yes = given == Answer::kAsk ? inner_.AskYesNo(text) : given == Answer::kYes;
  if (text == kSaveQuestion && yes) savedAtEnd_ = true;
  return yes;
}

bool ParseAnswer(const std::string& text, Answer& out) {
  if (text == "yes") out = Answer::kYes;
  else if (text == "no") out = Answer::kNo;
  else if (text == "ask") out = Answer::kAsk;
  else return false;
  return true;
}

}  // namespace ambrel::cli
