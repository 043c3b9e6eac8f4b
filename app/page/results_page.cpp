#include "app/page/results_page.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/base/knowledge_base.h"

#include "app/base/replaceable_texts.h"
#include "app/match/byte_vectors.h"
#include "app/page/excerpt_text.h"
#include "app/page/snippets_page.h"
#include "files/text_line_file.h"
#include "platform/file_identity.h"
#include "platform/private_folder.h"
#include "platform/process.h"
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

// The first byte of `text` from `from` on that EscapeHtml writes as a reference, or
// text.size(): looked for 16 bytes at a time.
std::size_t NextEscapedByte(std::string_view text, std::size_t from) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (; from + sizeof(Bytes16) <= text.size(); from += sizeof(Bytes16)) {
    const Bytes16 sixteen = Load16(bytes + from);
    const Bytes16 escaped = Bytes16(sixteen == '&') | Bytes16(sixteen == '<') |
                            Bytes16(sixteen == '>') | Bytes16(sixteen == '"');
    if (const uint32_t bits = ByteBits(escaped); bits != 0) {
      return from + static_cast<std::size_t>(std::countr_zero(bits));
    }
  }
  while (from < text.size() && kReferences[static_cast<unsigned char>(text[from])].empty()) ++from;
  return from;
}

// Adds the page's lines one by one until the first failure, which it keeps for the report.
class PageWriter {
 public:
  explicit PageWriter(TextLineFile& file) : file_(file) {}

  // Adds `text` as a line, or as lines when it holds line ends (kLineEnd).
  void Line(std::string_view text) {
    if (failed()) return;
    if (file_.record().Assign(text)) {
      file_.Add();
    } else {
      PostError(error::kInsufficientMemory);
    }
    if (ErrorCode() != 0) KeepFailure();
  }

  // Fails the page, as a write that failed with `error_code`.
  void Fail(int32_t error_code) {
    if (failed()) return;
    PostError(error_code);
    KeepFailure();
  }

  void TemplateLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      if (failed()) return;
      Line(line);
    }
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

void WriteSummary(const PageTemplates& templates, int32_t count, std::string_view phrase,
                  PageWriter& page) {
  page.TemplateLines(templates.header);
  page.Line(kSummaryTableOpen);
  page.Line(kSummaryCellOpen);
  page.Line(SummaryLine(count, phrase));
  page.Line(kSummaryTableClose);
}

void WritePageHead(const PageTemplates& templates, int32_t count, std::string_view phrase,
                   PageWriter& page) {
  WriteSummary(templates, count, phrase, page);
  page.Line(kResultsTableOpen);
}

// What a found article shows on the snippets page: what the search collected for it.
const ArticleSnippets& ShownOf(const FoundArticle& article) {
  static const ArticleSnippets kNothing;
  return article.details.shown ? *article.details.shown : kNothing;
}

// The snippets page's rows in the order `rows` gives, rendered on as many threads as the
// machine runs at once (a few at most), in batches that each takes in turn: a page of
// thousands of rows with their snippets takes longer to render than to write. False when
// memory ran out.
bool RenderRows(std::span<const FoundArticle> found, std::span<const std::size_t> rows,
                std::string_view link_base, std::vector<std::string>& rendered) {
  constexpr std::size_t kRowsPerBatch = 64;
  constexpr std::size_t kMostRenderThreads = 4;
  rendered.resize(rows.size());
  std::atomic<std::size_t> next_batch = 0;
  std::atomic<bool> out_of_memory = false;
  const auto render = [&] {
    try {
      for (std::size_t first = next_batch.fetch_add(kRowsPerBatch); first < rows.size();
           first = next_batch.fetch_add(kRowsPerBatch)) {
        for (std::size_t at = first; at < std::min(rows.size(), first + kRowsPerBatch); ++at) {
          const FoundArticle& article = found[rows[at]];
          rendered[at] = SnippetsRow(article.path, article.excerpt, ShownOf(article), link_base);
        }
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  };
  const std::size_t threads =
      rows.size() > kRowsPerBatch
          ? std::clamp<std::size_t>(platform::ProcessorCount(), 1, kMostRenderThreads)
          : 1;
  {
    std::vector<std::jthread> helpers;
    try {
      for (std::size_t helper = 1; helper < threads; ++helper) helpers.emplace_back(render);
    } catch (const std::system_error&) {
      // A thread that cannot be started leaves its batches to the others.
    }
    render();
  }
  return !out_of_memory;
}

// The rows of the snippets page, in the order of `rows`.
void WriteSnippetsRows(std::span<const FoundArticle> found, std::span<const std::size_t> rows,
                       std::string_view link_base, PageWriter& page) {
  std::vector<std::string> rendered;
  if (!RenderRows(found, rows, link_base, rendered)) {
    page.Fail(error::kInsufficientMemory);
    return;
  }
  for (const std::string& row : rendered) page.Line(row);
}

void WriteResultRows(std::span<const FoundArticle> found, std::span<const std::size_t> rows,
                     std::string_view link_base, PageWriter& page) {
  for (const std::size_t row : rows) {
    const FoundArticle& article = found[row];
    if (page.failed()) return;
    page.Line(LinkLine(article.path, link_base));
    page.Line(kExcerptCellOpen);
    page.Line(ExcerptText(article.excerpt));
    page.Line(kExcerptCellClose);
  }
}

void WritePageTail(const PageTemplates& templates, PageWriter& page) {
  page.Line(kResultsTableClose);
  page.TemplateLines(templates.footer);
}

// How long a kbsearch waits for another one to finish writing the same page.
constexpr std::chrono::milliseconds kPageTurnWait{2000};

// Two kbsearch processes writing the page of one folder take turns: each holds a lock of its
// own while it replaces the page, on a file in the user's private $XDG_RUNTIME_DIR named after
// the folder's device and inode, and waits kPageTurnWait at most for the other. (The page's
// own lock, which another program may hold, still refuses at once.) Nothing when there is no
// such folder, when the wait is over or when `stop` comes first: the page is then written as
// it would be without turns.
std::unique_ptr<platform::File> TakePageTurn(const std::stop_token& stop) {
  const std::optional<std::string> runtime = platform::EnvironmentVariable("XDG_RUNTIME_DIR");
  platform::ExactStatus folder;
  if (!runtime || !platform::StatusOfPath(".", folder)) return nullptr;
  platform::PrivateFolder::Outcome outcome;
  const std::unique_ptr<platform::PrivateFolder> locks =
      platform::PrivateFolder::Open(*runtime, false, outcome);
  if (!locks) return nullptr;
  char name[96];
  std::snprintf(name, sizeof name, "kbsearch-page-%u.%u-%llu.lock", folder.device_major,
                folder.device_minor, static_cast<unsigned long long>(folder.inode));
  std::unique_ptr<platform::File> lock;
  if (!locks->KeepOnlyPrivateFile(name) ||
      !(lock = locks->OpenPrivateFile(name, platform::Creation::kOpenOrCreate))) {
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + kPageTurnWait;
  for (;;) {
    const platform::SystemError locked = lock->Lock(platform::Lock::kExclusive);
    if (locked == platform::system_error::kNone) return lock;
    if (locked != platform::system_error::kSharingViolation || stop.stop_requested() ||
        std::chrono::steady_clock::now() >= deadline) {
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ReportUnopened(FailureReporter& reporter, std::string_view page_path) {
  const std::string text =
      Concat({ProgramText(text::kPageUnopened), NumberToText(ErrorCode()), ", ", ErrorText()});
  reporter.ReportFailure({.text = text,
                          .caption = ProgramText(text::kPageUnopenedCaption),
                          .icon = kStopIcon,
                          .error_code = ErrorCode(),
                          .path = page_path});
}

void ReportUnwritten(FailureReporter& reporter, const PageWriter& page,
                     std::string_view page_path) {
  const std::string text = Concat({ProgramText(text::kPageUnwritten),
                                   NumberToText(page.failed_code()), ", ", page.failed_text()});
  reporter.ReportFailure({.text = text,
                          .caption = ProgramText(text::kPageUnwrittenCaption),
                          .icon = kStopIcon,
                          .error_code = page.failed_code(),
                          .path = page_path});
}

}  // namespace

void AppendEscapedHtml(std::string& out, std::string_view text) {
  // Runs of plain bytes are copied whole; a page of many results is mostly such runs.
  std::size_t plain_from = 0;
  for (std::size_t at = NextEscapedByte(text, 0); at < text.size();
       at = NextEscapedByte(text, at + 1)) {
    out.append(text.substr(plain_from, at - plain_from))
        .append(kReferences[static_cast<unsigned char>(text[at])]);
    plain_from = at + 1;
  }
  out.append(text.substr(plain_from));
}

std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  AppendEscapedHtml(escaped, text);
  return escaped;
}

std::string PercentEncodePath(std::string_view path) {
  return PercentEncoded(path, "-._~/");
}

std::string ArticleHref(std::string_view path, std::string_view link_base) {
  if (link_base.empty()) return PercentEncodePath(path);
  if (path.starts_with("./")) path.remove_prefix(2);
  return Concat({link_base, PercentEncodePath(path)});
}

std::string LinkLine(std::string_view path, std::string_view link_base) {
  return Concat({R"(<tr><td><a href=")", ArticleHref(path, link_base), R"(">)", EscapeHtml(path),
                 "</a></td>"});
}

std::string SummaryLine(int32_t count, std::string_view phrase) {
  return Concat({"<b><u>Search found ", NumberToText(count), R"( pages matching ")",
                 EscapeHtml(phrase), R"("</u></b><br>)"});
}

void WriteResultsPage(platform::Env& env, const PageTemplates& templates,
                      std::span<const FoundArticle> found, std::span<const std::size_t> rows,
                      std::string_view phrase, FailureReporter& reporter,
                      const std::stop_token& stop, ResultsStyle style, PagePlace place) {
  const std::string_view page_path = place.path;
  // ExportFile: its records grow, so that no line of the page is cut.
  // The name variable holds the path whole, however long a page placed elsewhere has it.
  TextLineFile file({.record_length = 255,
                     .options = "/FILEBUFFERS=100",
                     .name_length = std::max(kFileNameLength, page_path.size()),
                     .path_limit = std::max(kMaxPathLength, page_path.size() + 1),
                     .growing_record = true},
                    env);
  file.name().Assign(page_path);
  // Held until the page is in place.
  const std::unique_ptr<platform::File> turn = TakePageTurn(stop);
  file.Replace();
  if (ErrorCode() != 0) {
    ReportUnopened(reporter, page_path);
    return;
  }
  PageWriter page(file);
  const bool snippets = style == ResultsStyle::kSnippets;
  std::vector<std::size_t> found_order;
  if (rows.empty()) {
    found_order.resize(found.size());
    std::iota(found_order.begin(), found_order.end(), 0);
    rows = found_order;
  }
  if (!found.empty()) {
    WritePageHead(templates, static_cast<int32_t>(found.size()), Clip(phrase), page);
    if (snippets) {
      WriteSnippetsRows(found, rows, place.link_base, page);
    } else {
      WriteResultRows(found, rows, place.link_base, page);
    }
    WritePageTail(templates, page);
  } else if (snippets) {
    // The snippets page says that nothing was found, where the classic page stays empty.
    WriteSummary(templates, 0, Clip(phrase), page);
    page.TemplateLines(templates.footer);
  }
  page.Finish(stop.stop_requested());
  if (page.failed()) ReportUnwritten(reporter, page, page_path);
}

}  // namespace kb
