#pragma once

// The two page templates that wrap every results page: lheader.htm before the results and
// lfooter.htm after them, read from the working directory once, when the program starts.

#include <string>
#include <string_view>
#include <vector>

#include "app/base/failure.h"
#include "app/base/knowledge_base.h"
#include "platform/file_system.h"

namespace kb {

// The templates' lines, in file order, each whole however long it is.
struct PageTemplates {
  std::vector<std::string> header = {};  // HeaderQueue: the lines of lheader.htm
  std::vector<std::string> footer = {};  // FooterQueue: the lines of lfooter.htm
};

// Reads every line of lheader.htm and of lfooter.htm through `env`. Only CR LF ends a line,
// so an LF-only or CR-only file is one line that keeps its bytes. Both files are opened for
// reading only, others denied writing.
//
// A header that cannot be opened, or cannot be read whole (a read error, or too little
// memory to keep its lines), is reported to `reporter` and the footer is not tried; a
// footer that cannot be opened or read whole is reported likewise. The lines read before a
// failure are kept.
// The templates are named `header_name` and `footer_name`, relative to the current directory.
PageTemplates LoadPageTemplates(platform::Env& env, FailureReporter& reporter,
                                std::string_view header_name = kHeaderTemplateName,
                                std::string_view footer_name = kFooterTemplateName);

// Plain templates built into the program, for a knowledge base that brings none: a UTF-8 HTML
// page titled "Search results" around the results.
PageTemplates PlainPageTemplates();

}  // namespace kb
