#pragma once

// What a search looks for, as a value: the text the user typed, and the terms made of it.
//
// A phrase query (the default) is one required term, the text as typed, found anywhere in an
// article. A words query splits the text at white space into terms that an article must all
// hold, in any order, each where a word starts (the character before it is no letter, mark
// or digit; a term that does not begin with a letter or digit is found anywhere). Within
// double quotes white space is part of the term ("two words" is one term), and a term that
// begins with "-" is excluded: an article that holds it is not found.
//
// How a term is compared with an article (bytes or text, which letters count as the same) is
// the match settings' concern (app/match/match_settings.h); the query only holds the terms as
// typed.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

enum class QueryKind {
  kPhrase,  // the text is one term
  kWords,   // the text is split into terms
};

struct QueryTerm {
  std::string text;  // as typed, without its quotes and its "-"
  bool excluded = false;

  bool operator==(const QueryTerm&) const = default;
};

struct Query {
  QueryKind kind = QueryKind::kPhrase;
  std::string text;  // as typed: what the page and the messages show
  std::vector<QueryTerm> terms;

  // The query of one required term: `text` itself.
  static Query Phrase(std::string_view text);

  bool is_words() const { return kind == QueryKind::kWords; }
  // The terms an article must hold, in the order typed.
  std::vector<std::string_view> RequiredTerms() const;

  bool operator==(const Query&) const = default;
};

// What went wrong reading a words query.
enum class QueryProblem {
  kNone,
  kUnclosedQuote,    // a double quote without its closing one
  kNothingRequired,  // no term that an article must hold: none at all, or only excluded ones
};

// Reads `text` as a query of `kind`; a phrase query is never a problem. On a problem, `query`
// is left as it was.
QueryProblem ParseQuery(std::string_view text, QueryKind kind, Query& query);

// The message for `problem` (not kNone), in the program's texts in use.
std::string QueryProblemText(QueryProblem problem);

}  // namespace kb
