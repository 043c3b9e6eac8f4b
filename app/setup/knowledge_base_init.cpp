#include "app/setup/knowledge_base_init.h"

#include <span>
#include <utility>

#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr std::string_view kHeaderTemplate = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Search results</title>
<style>
  body { font-family: system-ui, sans-serif; margin: 2em auto; max-width: 60em; }
  td { vertical-align: top; }
</style>
</head>
<body>
<h1>Search results</h1>
)";

constexpr std::string_view kFooterTemplate =
    R"(<p>Edit lheader.htm and lfooter.htm to change what surrounds the results.</p>
</body>
</html>
)";

constexpr std::string_view kZebSettings =
    R"(# The settings of this knowledge base (kbsearch.env(5)): its articles are ZEB/ZEB*.htm,
# each searched whole and found when it holds the marker <!-- Article starts -->, after
# which its excerpt begins. Uncomment a line to change how it is searched and shown.
#Match = text
#Query = words
#Results = snippets
)";

constexpr std::string_view kSphinxSettings =
    R"(# A Sphinx build (kbsearch-cli --init sphinx): every page but the indexes, searched from
# the start of its body to its end, in its text, without the sidebar, the links to the pages
# before and after it, its footer and the signs that link to its headings.
Articles = **/*.html
Exclude = genindex.html, genindex-*.html, py-modindex.html, search.html, _modules/**, _sources/**, _static/**, _images/**, _downloads/**
Marker = <div class="body" role="main">
Ignore = .sphinxsidebar, .related, .footer, .headerlink
Match = text
)";

constexpr std::string_view kMkDocsSettings =
    R"(# An MkDocs build (kbsearch-cli --init mkdocs): every page but the search page and the
# error page, searched from its <body> tag on, in its text, without the navigation, the
# headers and footers, the table of contents beside it (of the default and the readthedocs
# themes) and the signs that link to its headings.
Articles = **/*.html
Exclude = 404.html, search.html, search/**, assets/**, css/**, js/**, fonts/**, img/**
Marker = body
Ignore = nav, header, footer, .navbar, .bs-sidebar, .modal, .wy-nav-side, .rst-versions, .md-sidebar, .headerlink
Match = text
)";

constexpr std::string_view kRustdocSettings =
    R"(# A rustdoc build (kbsearch-cli --init rustdoc): every page of the crates' documentation,
# searched from its main content on, in its text, without the links to the source, the
# version and the signs that link to the headings. Pages of another kind (books) have no
# such content and are not found.
Articles = **/*.html
Exclude = all.html, help.html, settings.html, src/**, implementors/**, static.files/**
Marker = <section id="main-content" class="content">
Ignore = .out-of-band, .srclink, .src, .anchor, .since
Match = text
)";

constexpr std::string_view kMdBookSettings =
    R"(# An mdBook build (kbsearch-cli --init mdbook): every chapter, searched in its main part,
# in its text, without the links to the chapters before and after it; the page that prints
# the whole book (it holds every word) and the pages that only lead elsewhere are not found.
Articles = **/*.html
Exclude = print.html, toc.html, 404.html, css/**, fonts/**, FontAwesome/**, theme/**
Marker = <main>
Ignore = nav, script
Match = text
)";

// Writes `contents` into the new file `path`; kFileExists when a file (or a link) is there.
platform::SystemError WriteNewFile(platform::Env& env, const std::string& path,
                                   std::string_view contents, uint32_t permissions) {
  std::unique_ptr<platform::File> file;
  platform::SystemError error = env.OpenFile(path,
                                             {.access = platform::Access::kWrite,
                                              .creation = platform::Creation::kCreateNew,
                                              .follow_links = false,
                                              .permissions = permissions},
                                             file);
  if (error != platform::system_error::kNone) return error;
  for (uint64_t at = 0; at < contents.size() && error == platform::system_error::kNone;) {
    std::size_t count = 0;
    error =
        file->Write(at, std::span<const char>(contents.data() + at, contents.size() - at), count);
    if (error == platform::system_error::kNone && count == 0) {
      error = platform::system_error::kWriteFault;
    }
    at += count;
  }
  const platform::SystemError closed = file->Close();
  return error != platform::system_error::kNone ? error : closed;
}

std::string ErrorProblem(std::string_view path, platform::SystemError error) {
  const auto number = static_cast<int32_t>(error);
  return Concat({"cannot write ", path, ": error ", NumberToText(number), ", ",
                 std::string(Clip(ErrorMessage(number)))});
}

// Whether `path` names anything, a link included.
bool IsThere(platform::Env& env, const std::string& path) {
  platform::FileStatus status;
  const platform::SystemError error = env.PathStatus(path, false, status);
  return error != platform::system_error::kFileNotFound &&
         error != platform::system_error::kPathNotFound;
}

// Makes the folders of `path` that are missing, readable by the user alone.
platform::SystemError MakeFoldersOf(platform::Env& env, std::string_view path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    const platform::SystemError error = env.MakeDirectory(path.substr(0, slash), 0700);
    if (error != platform::system_error::kNone && error != platform::system_error::kFileExists) {
      return error;
    }
  }
  return platform::system_error::kNone;
}

InitOutcome AlreadyThere(const std::string& path) {
  return {.problem = Concat({path, " is there already: nothing was written"})};
}

}  // namespace

std::optional<InitPreset> InitPresetOf(std::string_view name) {
  constexpr std::pair<std::string_view, InitPreset> kPresets[] = {
      {"zeb", InitPreset::kZeb},       {"sphinx", InitPreset::kSphinx},
      {"mkdocs", InitPreset::kMkDocs}, {"rustdoc", InitPreset::kRustdoc},
      {"mdbook", InitPreset::kMdBook},
  };
  for (const auto& [preset_name, preset] : kPresets) {
    if (name == preset_name) return preset;
  }
  return std::nullopt;
}

std::string InitSettingsText(InitPreset preset) {
  switch (preset) {
    case InitPreset::kZeb:
      return std::string(kZebSettings);
    case InitPreset::kSphinx:
      return std::string(kSphinxSettings);
    case InitPreset::kMkDocs:
      return std::string(kMkDocsSettings);
    case InitPreset::kRustdoc:
      return std::string(kRustdocSettings);
    case InitPreset::kMdBook:
      return std::string(kMdBookSettings);
  }
  return {};
}

InitOutcome InitKnowledgeBase(platform::Env& env, InitPreset preset, std::string_view folder,
                              const VariableLookup& variable) {
  const std::string settings_text = InitSettingsText(preset);
  const bool zeb = preset == InitPreset::kZeb;
  const std::string here = Concat({folder, folder.ends_with('/') ? "" : "/"});
  const std::vector<std::pair<std::string, std::string_view>> templates = {
      {"lheader.htm", kHeaderTemplate}, {"lfooter.htm", kFooterTemplate}};
  if (zeb) {
    for (const auto& [name, contents] : templates) {
      if (IsThere(env, name)) return AlreadyThere(here + name);
    }
  }
  InitOutcome outcome;
  const std::string settings_name(kSettingsFileName);
  platform::SystemError error = WriteNewFile(env, settings_name, settings_text, 0644);
  if (error == platform::system_error::kFileExists) return AlreadyThere(here + settings_name);
  if (error == platform::system_error::kAccessDenied) {
    // The folder may not be written: the user's own file for it takes the settings.
    const std::optional<std::string> path = KnowledgeBaseSettingsPath(variable, folder);
    if (!path) {
      return {.problem = Concat({here,
                                 " cannot be written, and there is no folder for the "
                                 "user's settings (neither XDG_CONFIG_HOME nor HOME is "
                                 "set, or the path is too long)"})};
    }
    error = MakeFoldersOf(env, *path);
    if (error == platform::system_error::kNone)
      error = WriteNewFile(env, *path, settings_text, 0600);
    if (error == platform::system_error::kFileExists) return AlreadyThere(*path);
    if (error != platform::system_error::kNone) return {.problem = ErrorProblem(*path, error)};
    outcome.written.push_back(*path);
    outcome.done = true;
    return outcome;
  }
  if (error != platform::system_error::kNone) {
    return {.problem = ErrorProblem(here + settings_name, error)};
  }
  outcome.written.push_back(here + settings_name);
  if (zeb) {
    error = env.MakeDirectory("ZEB", 0777);
    if (error == platform::system_error::kNone) {
      outcome.written.push_back(here + "ZEB/");
    } else if (error != platform::system_error::kFileExists) {
      outcome.problem = ErrorProblem(here + "ZEB", error);
      return outcome;
    }
    for (const auto& [name, contents] : templates) {
      error = WriteNewFile(env, name, contents, 0644);
      if (error != platform::system_error::kNone) {
        outcome.problem = ErrorProblem(here + name, error);
        return outcome;
      }
      outcome.written.push_back(here + name);
    }
  }
  outcome.done = true;
  return outcome;
}

}  // namespace kb
