#include "app/page/results_page.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

#include "app/page/excerpt_text.h"
#include "app/page/snippets_page.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr std::string_view kSummaryTableOpen =
    R"(<table bgcolor="#CDC5B6" border="0" cellpadding="4" width="100%">)";
constexpr std::string_view kSummaryCellOpen = R"(<tr><td><font face="Verdana,Arial" size="3">)";
constexpr std::string_view kSummaryTableClose = "</font></td></tr></table>";
constexpr std::string_view kResultsTableOpen =
    R"(<table bgcolor="#FEFF91" border="1" cellpadding="4" width="100%">)";
constexpr std::string_view kExcerptCellOpen =
    R"(<td><left><font face="Verdana,Arial" size="2"><pre>)";
constexpr std::string_view kExcerptCellClose = "</pre></font></td></tr>";
constexpr std::string_view kResultsTableClose = "</table>";

// The character reference EscapeHtml writes for each byte; empty for a byte written as it is.
constexpr std::array<std::string_view, 256> kReferences = [] {
  std::array<std::string_view, 256> references{};
  references['&'] = "&amp;";
  references['<'] = "&lt;";
  references['>'] = "&gt;";
  references['"'] = "&quot;";
  return references;
}();

// Adds the page's lines one by one until the first failure, which it keeps for the report.
class PageWriter {
 public:
  explicit PageWriter(TextLineFile& file) : file_(file) {}

  void Line(std::string_view text) {
    if (failed()) return;
    if (file_.record().Assign(text)) {
      file_.Add();
    } else {
      PostError(error::kInsufficientMemory);
    }
    if (ErrorCode() != 0) KeepFailure();
  }

  void TemplateLines(TextQueue& queue) {
    const int32_t count = queue.Count();
    for (int32_t entry = 1; entry <= count && !failed(); ++entry) Line(queue.Get(entry));
  }

  // Puts the page in place of the old one, unless a write failed or `keep_old_page`: the
  // old page then stays as it was.
  void Finish(bool keep_old_page) {
    if (failed() || keep_old_page) {
      file_.Close();
      return;
    }
    file_.Commit();
    if (ErrorCode() != 0) KeepFailure();
  }

  bool failed() const { return failed_code_ != 0; }
  int32_t failed_code() const { return failed_code_; }
  std::string_view failed_text() const { return failed_text_.view(); }

 private:
  void KeepFailure() {
    failed_code_ = ErrorCode();
    failed_text_.Assign(ErrorText());
  }

  TextLineFile& file_;
  int32_t failed_code_ = 0;
  FixedString<kErrorTextLength> failed_text_;
};

void WriteSummary(SearchState& state, PageWriter& page) {
  page.TemplateLines(state.header_queue);
  page.Line(kSummaryTableOpen);
  page.Line(kSummaryCellOpen);
  page.Line(SummaryLine(state.result_queue.Count(), Clip(state.search_text.view())));
  page.Line(kSummaryTableClose);
}

void WritePageHead(SearchState& state, PageWriter& page) {
  WriteSummary(state, page);
  page.Line(kResultsTableOpen);
}

// The rows of the snippets page, in listing order or by hits, most first.
void WriteSnippetsRows(SearchState& state, PageWriter& page) {
  const std::vector<ArticleSnippets>& shown = state.result_snippets;
  std::vector<std::size_t> order(shown.size());
  std::iota(order.begin(), order.end(), 0);
  if (state.results_settings.order == ResultsOrder::kHits) {
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return shown[a].hits > shown[b].hits; });
  }
  for (const std::size_t index : order) {
    if (page.failed()) return;
    state.result_queue.Get(static_cast<int32_t>(index + 1));
    const ResultRecord& result = state.result_queue.record();
    for (const std::string& line :
         SnippetsRowLines(result.file.clipped(), result.excerpt.view(), shown[index])) {
      page.Line(line);
    }
  }
}

void WriteResultRows(SearchState& state, PageWriter& page) {
  const int32_t count = state.result_queue.Count();
  for (int32_t entry = 1; entry <= count && !page.failed(); ++entry) {
    state.result_queue.Get(entry);
    const ResultRecord& result = state.result_queue.record();
    page.Line(LinkLine(result.file.clipped()));
    page.Line(kExcerptCellOpen);
    page.Line(ExcerptText(result.excerpt.view()));
    page.Line(kExcerptCellClose);
  }
}

void WritePageTail(SearchState& state, PageWriter& page) {
  page.Line(kResultsTableClose);
  page.TemplateLines(state.footer_queue);
}

void ReportUnopened(SearchScreen& screen) {
  const std::string text =
      Concat({ProgramText(TextId::kPageUnopened), NumberToText(ErrorCode()), ", ", ErrorText()});
  screen.ReportFailure({.text = text,
                        .caption = ProgramText(TextId::kPageUnopenedCaption),
                        .icon = kStopIcon,
                        .error_code = ErrorCode(),
                        .path = kResultsPageName});
}

void ReportUnwritten(SearchScreen& screen, const PageWriter& page) {
  const std::string text = Concat({ProgramText(TextId::kPageUnwritten),
                                   NumberToText(page.failed_code()), ", ", page.failed_text()});
  screen.ReportFailure({.text = text,
                        .caption = ProgramText(TextId::kPageUnwrittenCaption),
                        .icon = kStopIcon,
                        .error_code = page.failed_code(),
                        .path = kResultsPageName});
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  // Runs of plain bytes are copied whole; a page of many results is mostly such runs.
  std::size_t plain_from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::string_view reference = kReferences[static_cast<unsigned char>(text[at])];
    if (reference.empty()) continue;
    escaped.append(text.substr(plain_from, at - plain_from)).append(reference);
    plain_from = at + 1;
  }
  escaped.append(text.substr(plain_from));
  return escaped;
}

std::string PercentEncodePath(std::string_view path) {
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(path.size());
  for (char byte : path) {
    const auto value = static_cast<unsigned char>(byte);
    const bool plain = (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z') ||
                       (value >= '0' && value <= '9') || value == '-' || value == '.' ||
                       value == '_' || value == '~' || value == '/';
    if (plain) {
      encoded += byte;
    } else {
      encoded += '%';
      encoded += kHexDigits[value >> 4];
      encoded += kHexDigits[value & 0xF];
    }
  }
  return encoded;
}

std::string LinkLine(std::string_view path) {
  return Concat(
      {R"(<tr><td><a href=")", PercentEncodePath(path), R"(">)", EscapeHtml(path), "</a></td>"});
}

std::string SummaryLine(int32_t count, std::string_view phrase) {
  return Concat({"<b><u>Search found ", NumberToText(count), R"( pages matching ")",
                 EscapeHtml(phrase), R"("</u></b><br>)"});
}

void WriteResultsPage(SearchState& state, SearchScreen& screen, std::stop_token stop) {
  screen.ShowStatus(ProgramText(TextId::kCreatingPageStatus));
  TextLineFile& file = state.export_file;
  file.name().Assign(kResultsPageName);
  state.result_file_name.Assign(file.name().clipped());

  file.Replace();
  if (ErrorCode() != 0) {
    ReportUnopened(screen);
    return;
  }
  PageWriter page(file);
  const bool snippets = state.results_settings.style == ResultsStyle::kSnippets;
  if (state.result_queue.Count() > 0) {
    WritePageHead(state, page);
    if (snippets) {
      WriteSnippetsRows(state, page);
    } else {
      WriteResultRows(state, page);
    }
    WritePageTail(state, page);
  } else if (snippets) {
    // The snippets page says that nothing was found, where the classic page stays empty.
    WriteSummary(state, page);
    page.TemplateLines(state.footer_queue);
  }
  page.Finish(stop.stop_requested());
  if (page.failed()) ReportUnwritten(screen, page);
}

}  // namespace kb
