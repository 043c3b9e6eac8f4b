#include "app/templates.h"

#include "files/access_mode.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
namespace {

// Opens `name` through `file` and appends each of its lines to `queue`. Returns false, with
// the error state describing why, when the file cannot be opened.
bool ReadTemplate(TextLineFile& file, std::string_view name, Queue<TemplateLineRecord>& queue) {
  file.name().Assign(name);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (ErrorCode() != 0) return false;
  file.Set();
  for (file.Next(); ErrorCode() == 0; file.Next()) {
    queue.record().line.Assign(file.record().view());
    queue.Append();
  }
  file.Close();
  return true;
}

void ReportUnopened(SearchScreen& screen, std::string_view what) {
  screen.ShowMessage(Concat({what, NumberToText(ErrorCode()), ", ", ErrorText()}), "", "", "", 0,
                     0);
}

}  // namespace

void LoadPageTemplates(SearchState& state, SearchScreen& screen) {
  if (!ReadTemplate(state.import_file, kHeaderTemplateName, state.header_queue)) {
    ReportUnopened(screen, "Can not open the header file: ");
    return;
  }
  if (!ReadTemplate(state.import_file, kFooterTemplateName, state.footer_queue)) {
    ReportUnopened(screen, "Can not open the Footer file: ");
  }
}

}  // namespace kb
