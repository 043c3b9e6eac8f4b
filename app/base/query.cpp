#include "app/base/query.h"

#include "app/base/replaceable_texts.h"

namespace kb {
namespace {

bool IsQuerySpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f' ||
         byte == '\v';
}

}  // namespace

Query Query::Phrase(std::string_view text) {
  return {.kind = QueryKind::kPhrase, .text = std::string(text), .terms = {{std::string(text)}}};
}

std::vector<std::string_view> Query::RequiredTerms() const {
  std::vector<std::string_view> required;
  for (const QueryTerm& term : terms) {
    if (!term.excluded) required.push_back(term.text);
  }
  return required;
}

QueryProblem ParseQuery(std::string_view text, QueryKind kind, Query& query) {
  if (kind == QueryKind::kPhrase) {
    query = Query::Phrase(text);
    return QueryProblem::kNone;
  }
  Query words{.kind = QueryKind::kWords, .text = std::string(text), .terms = {}};
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsQuerySpace(text[at])) {
      ++at;
      continue;
    }
    // A term runs to the next white space outside quotes; its quotes are left out. A "-"
    // before anything else excludes it, unless it is all there is.
    QueryTerm term;
    if (text[at] == '-' && at + 1 < text.size() && !IsQuerySpace(text[at + 1])) {
      term.excluded = true;
      ++at;
    }
    bool quoted = false;
    for (; at < text.size() && (quoted || !IsQuerySpace(text[at])); ++at) {
      if (text[at] == '"') {
        quoted = !quoted;
      } else {
        term.text += text[at];
      }
    }
    if (quoted) return QueryProblem::kUnclosedQuote;
    // "" stands for nothing; a lone "-" is looked for as it is.
    if (!term.text.empty()) words.terms.push_back(std::move(term));
  }
  if (words.RequiredTerms().empty()) return QueryProblem::kNothingRequired;
  query = std::move(words);
  return QueryProblem::kNone;
}

std::string QueryProblemText(QueryProblem problem) {
  return std::string(ProgramText(problem == QueryProblem::kUnclosedQuote
                                     ? text::kQueryUnclosedQuote
                                     : text::kQueryNothingRequired));
}

}  // namespace kb
