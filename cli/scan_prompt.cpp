#include "scan_prompt.h"

namespace ambrel::cli {

bool ScanPrompt::Ask(const PromptMessage& question) {
  const Answer given = question.id == PromptId::kReuseSavedScan  ? reuse_
                       : question.id == PromptId::kSaveScanAtEnd ? save_
                                                                 : Answer::kAsk;
  const bool yes = given == Answer::kAsk ? inner_.Ask(question) : given == Answer::kYes;
  if (question.id == PromptId::kSaveScanAtEnd && yes) savedAtEnd_ = true;
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
