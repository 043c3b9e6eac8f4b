#include "support/program_texts/program_texts.h"

#include <algorithm>

namespace kb {
namespace {

ProgramTexts& Texts() {
  static ProgramTexts texts;
  return texts;
}

}  // namespace

ProgramTexts::Replacement ProgramTexts::Replace(const ReplaceableText& text,
                                                std::string_view replacement) {
  if (replacement.size() > text.longest) return Replacement::kTooLong;
  const auto same = std::find_if(replaced_.begin(), replaced_.end(),
                                 [&](const auto& replaced) { return replaced.first == text.key; });
  if (same != replaced_.end()) {
    same->second = std::string(replacement);
  } else {
    replaced_.emplace_back(text.key, replacement);
  }
  return Replacement::kDone;
}

std::string_view ProgramTexts::Of(const ReplaceableText& text) const {
  // Asked for the error table's message at the end of every article: without replacements,
  // at once.
  for (const auto& [key, replacement] : replaced_) {
    if (key == text.key) return replacement;
  }
  return text.default_text;
}

const ProgramTexts& CurrentTexts() {
  return Texts();
}

std::string_view ProgramText(const ReplaceableText& text) {
  return Texts().Of(text);
}

void UseProgramTexts(ProgramTexts texts) {
  Texts() = std::move(texts);
}

}  // namespace kb
