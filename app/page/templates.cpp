#include "app/page/templates.h"

#include "files/access_mode.h"
#include "support/error_state/error_state.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

enum class TemplateOutcome { kRead, kUnopened, kUnread };

// Opens `name` through `file` and appends each of its lines to `queue`. When the file cannot
// be opened, or its lines cannot all be read and kept, the error state tells why.
TemplateOutcome ReadTemplate(TextLineFile& file, std::string_view name, TextQueue& queue) {
  file.name().Assign(name);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (ErrorCode() != 0) return TemplateOutcome::kUnopened;
  file.Set();
  for (file.Next(); ErrorCode() == 0; file.Next()) {
    queue.Append(file.record().clipped());
    if (ErrorCode() != 0) break;
  }
  const int32_t ended_by = ErrorCode();
  const uint32_t os_error = OsError();
  file.Close();
  if (ended_by == error::kRecordNotAvailable) return TemplateOutcome::kRead;
  PostError(ended_by, os_error);
  return TemplateOutcome::kUnread;
}

// Reads the template `name` into `queue`; false, after reporting why with `unopened` or
// `unread` before the error, when it could not be read whole.
bool LoadTemplate(SearchState& state, SearchScreen& screen, std::string_view name, TextQueue& queue,
                  TextId unopened, TextId unread) {
  const TemplateOutcome outcome = ReadTemplate(state.import_file, name, queue);
  if (outcome == TemplateOutcome::kRead) return true;
  const std::string_view what =
      ProgramText(outcome == TemplateOutcome::kUnopened ? unopened : unread);
  const std::string text = Concat({what, NumberToText(ErrorCode()), ", ", ErrorText()});
  screen.ReportFailure({.text = text, .error_code = ErrorCode(), .path = name});
  return false;
}

}  // namespace

void LoadPageTemplates(SearchState& state, SearchScreen& screen) {
  if (LoadTemplate(state, screen, kHeaderTemplateName, state.header_queue, TextId::kHeaderUnopened,
                   TextId::kHeaderUnread)) {
    LoadTemplate(state, screen, kFooterTemplateName, state.footer_queue, TextId::kFooterUnopened,
                 TextId::kFooterUnread);
  }
}

}  // namespace kb
