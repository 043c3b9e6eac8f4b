#include "app/page/templates.h"

#include <new>

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "files/access_mode.h"
#include "files/text_line_file.h"
#include "support/error_state/error_state.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

enum class TemplateOutcome { kRead, kUnopened, kUnread };

// Opens `name` through `file` and appends each of its lines to `lines`. When the file cannot
// be opened, or its lines cannot all be read and kept, the error state tells why.
TemplateOutcome ReadTemplate(TextLineFile& file, std::string_view name,
                             std::vector<std::string>& lines) {
  file.name().Assign(name);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (ErrorCode() != 0) return TemplateOutcome::kUnopened;
  file.Set();
  for (file.Next(); ErrorCode() == 0; file.Next()) {
    try {
      lines.emplace_back(file.record().clipped());
    } catch (const std::bad_alloc&) {
      PostError(error::kInsufficientMemory);
      break;
    }
  }
  const int32_t ended_by = ErrorCode();
  const uint32_t os_error = OsError();
  file.Close();
  if (ended_by == error::kRecordNotAvailable) return TemplateOutcome::kRead;
  PostError(ended_by, os_error);
  return TemplateOutcome::kUnread;
}

// Reads the template `name` into `lines`; false, after reporting why with `unopened` or
// `unread` before the error, when it could not be read whole.
bool LoadTemplate(TextLineFile& file, FailureReporter& reporter, std::string_view name,
                  std::vector<std::string>& lines, const ReplaceableText& unopened,
                  const ReplaceableText& unread) {
  const TemplateOutcome outcome = ReadTemplate(file, name, lines);
  if (outcome == TemplateOutcome::kRead) return true;
  const std::string_view what =
      ProgramText(outcome == TemplateOutcome::kUnopened ? unopened : unread);
  const std::string text = Concat({what, NumberToText(ErrorCode()), ", ", ErrorText()});
  reporter.ReportFailure({.text = text, .error_code = ErrorCode(), .path = name});
  return false;
}

}  // namespace

PageTemplates LoadPageTemplates(platform::Env& env, FailureReporter& reporter,
                                std::string_view header_name, std::string_view footer_name) {
  // ImportFile: its records grow, so that no line of a template is cut.
  TextLineFile file({.record_length = 255, .options = "/FILEBUFFERS=100", .growing_record = true},
                    env);
  PageTemplates templates;
  if (LoadTemplate(file, reporter, header_name, templates.header, text::kHeaderUnopened,
                   text::kHeaderUnread)) {
    LoadTemplate(file, reporter, footer_name, templates.footer, text::kFooterUnopened,
                 text::kFooterUnread);
  }
  return templates;
}

PageTemplates PlainPageTemplates() {
  return {.header = {"<!DOCTYPE html>",
                     "<html><head><meta charset=\"utf-8\"><title>Search results</title></head>",
                     "<body>"},
          .footer = {"</body></html>"}};
}

}  // namespace kb
