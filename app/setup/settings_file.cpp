#include "app/setup/settings_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

#include "app/match/article_region.h"
#include "app/setup/path_text.h"
#include "files/tree_listing.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/error_state/error_state.h"
#include "support/text/ascii.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

// A settings file is a few lines; anything larger is not one.
constexpr std::size_t kLargestSettingsFile = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameWord(std::string_view first, std::string_view second) {
  return std::equal(first.begin(), first.end(), second.begin(), second.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::string Quoted(std::string_view text) {
  return Concat({"\"", text, "\""});
}

// Which of `words` `value` is, or -1 with `problem` saying what the key takes.
int OneOf(std::string_view key, std::string_view value,
          std::initializer_list<std::string_view> words, std::string& problem) {
  int index = 0;
  for (const std::string_view word : words) {
    if (SameWord(value, word)) return index;
    ++index;
  }
  problem = Concat({key, " is "});
  for (std::size_t at = 0; at < words.size(); ++at) {
    if (at > 0) problem += at + 1 == words.size() ? " or " : ", ";
    problem += words.begin()[at];
  }
  problem += Concat({", not ", Quoted(value)});
  return -1;
}

// Each function applies a value to the settings, or leaves them as they were and says what
// is wrong with the value.
using ApplyValue = std::string (*)(std::string_view value, Settings& settings);

std::string ApplyCaseFolding(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("CaseFolding", value, {"ascii", "unicode"}, problem);
  if (choice >= 0)
    settings.match.case_folding = choice == 0 ? CaseFolding::kAscii : CaseFolding::kUnicode;
  return problem;
}

std::string ApplyIgnoreAccents(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("IgnoreAccents", value, {"no", "yes"}, problem);
  if (choice >= 0) settings.match.ignore_accents = choice == 1;
  return problem;
}

std::string ApplyResults(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("Results", value, {"classic", "snippets"}, problem);
  if (choice >= 0)
    settings.results.style = choice == 0 ? ResultsStyle::kClassic : ResultsStyle::kSnippets;
  return problem;
}

std::string ApplyOrder(std::string_view value, Settings& settings) {
  std::string problem;
  constexpr ResultsOrder kOrders[] = {ResultsOrder::kName, ResultsOrder::kHits,
                                      ResultsOrder::kRelevance};
  const int choice = OneOf("Order", value, {"name", "hits", "relevance"}, problem);
  if (choice >= 0) settings.results.order = kOrders[choice];
  return problem;
}

std::string ApplyQuery(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("Query", value, {"phrase", "words"}, problem);
  if (choice >= 0) settings.query_kind = choice == 0 ? QueryKind::kPhrase : QueryKind::kWords;
  return problem;
}

std::string ApplyMatch(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("Match", value, {"bytes", "text"}, problem);
  if (choice >= 0) settings.match.mode = choice == 0 ? MatchMode::kBytes : MatchMode::kText;
  return problem;
}

std::string ApplyMarker(std::string_view value, Settings& settings) {
  std::optional<std::string> marker = MarkerOf(value);
  if (!marker) return "Marker takes the text after which the article begins, or body";
  settings.match.article.marker = std::move(*marker);
  return "";
}

std::string ApplyIgnore(std::string_view value, Settings& settings) {
  if (const std::optional<std::string> bad =
          ParseIgnoreList(value, settings.match.article.ignore)) {
    return Concat({"Ignore takes element names and classes with a dot, such as nav, .sidebar, not ",
                   Quoted(*bad)});
  }
  return "";
}

std::string ApplyIndex(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("Index", value, {"auto", "off"}, problem);
  if (choice >= 0) settings.use_index = choice == 0;
  return problem;
}

// The largest IndexLimit: 1P. Sizes are checked against it before they are multiplied.
constexpr uint64_t kLargestIndexLimit = uint64_t{1} << 50;

// A size such as 1073741824, 500M or 1G (K, M, G, T and P in powers of 1024), at most 1P.
std::string ApplyIndexLimit(std::string_view value, Settings& settings) {
  const std::string refusal =
      Concat({"IndexLimit takes a size in bytes such as 500M or 1G, not ", Quoted(value)});
  std::string_view digits = value;
  uint64_t unit = 1;
  if (!digits.empty()) {
    switch (std::toupper(static_cast<unsigned char>(digits.back()))) {
      case 'K':
        unit = uint64_t{1} << 10;
        break;
      case 'M':
        unit = uint64_t{1} << 20;
        break;
      case 'G':
        unit = uint64_t{1} << 30;
        break;
      case 'T':
        unit = uint64_t{1} << 40;
        break;
      case 'P':
        unit = uint64_t{1} << 50;
        break;
      default:
        break;
    }
    if (unit != 1) digits.remove_suffix(1);
  }
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return refusal;
  }
  const uint64_t most = kLargestIndexLimit / unit;
  uint64_t number = 0;
  for (char digit : digits) {
    number = number * 10 + static_cast<uint64_t>(digit - '0');
    if (number > most) return Concat({"IndexLimit is at most 1P, not ", Quoted(value)});
  }
  settings.index_limit = number * unit;
  return "";
}

// The value of a hex digit, or -1.
int HexDigit(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  const char small = static_cast<char>(std::tolower(static_cast<unsigned char>(digit)));
  if (small >= 'a' && small <= 'f') return small - 'a' + 10;
  return -1;
}

std::string ApplyCasePairs(std::string_view value, Settings& settings) {
  CaseTable table = UpperCaseTable();
  std::array<bool, 256> paired{};
  while (!(value = TrimBlanks(value)).empty()) {
    const std::string_view pair = value.substr(0, value.find_first_of(" \t"));
    value.remove_prefix(pair.size());
    int digits[4];
    for (std::size_t i = 0; i < 4; ++i) digits[i] = i < pair.size() ? HexDigit(pair[i]) : -1;
    if (pair.size() != 4 || std::count(std::begin(digits), std::end(digits), -1) > 0) {
      return Concat({"CasePairs takes pairs of bytes in hex such as E9C9, not ", Quoted(pair)});
    }
    const auto small = static_cast<unsigned char>(digits[0] << 4 | digits[1]);
    const auto capital = static_cast<unsigned char>(digits[2] << 4 | digits[3]);
    if (small < 0x80 || capital < 0x80) {
      return Concat({"the case pair ", Quoted(pair), " holds a byte below 80"});
    }
    if (small == capital)
      return Concat({"the case pair ", Quoted(pair), " pairs a byte with itself"});
    if (paired[small] || paired[capital]) {
      return Concat({"the case pair ", Quoted(pair), " holds a byte of another pair"});
    }
    paired[small] = paired[capital] = true;
    table[small] = capital;
  }
  settings.match.case_table = table;
  return "";
}

std::string ApplyHistory(std::string_view value, Settings& settings) {
  std::string problem;
  const int choice = OneOf("History", value, {"on", "off"}, problem);
  if (choice >= 0) settings.keep_history = choice == 0;
  return problem;
}

std::string ApplyArticles(std::string_view value, Settings& settings) {
  std::string problem = PatternProblem("Articles", value);
  if (problem.empty()) settings.articles = std::string(value);
  return problem;
}

// Patterns apart by commas; an empty value leaves nothing out.
std::string ApplyExclude(std::string_view value, Settings& settings) {
  std::vector<std::string> exclude;
  if (std::string problem = SplitPatterns("Exclude", value, exclude); !problem.empty()) {
    return problem;
  }
  settings.exclude = std::move(exclude);
  return "";
}

std::string ApplyPage(std::string_view value, Settings& settings) {
  if (!value.starts_with('/')) {
    return Concat({"Page takes the absolute path of a file, not ", Quoted(value)});
  }
  settings.page = std::string(value);
  return "";
}

struct KeyRule {
  std::string_view key;
  ApplyValue apply;
};

constexpr KeyRule kKeys[] = {
    {"CaseFolding", ApplyCaseFolding},
    {"IgnoreAccents", ApplyIgnoreAccents},
    {"CasePairs", ApplyCasePairs},
    {"Match", ApplyMatch},
    {"Marker", ApplyMarker},
    {"Ignore", ApplyIgnore},
    {"Query", ApplyQuery},
    {"Index", ApplyIndex},
    {"IndexLimit", ApplyIndexLimit},
    {"Results", ApplyResults},
    {"Order", ApplyOrder},
    {"History", ApplyHistory},
    {"Articles", ApplyArticles},
    {"Exclude", ApplyExclude},
    {"Page", ApplyPage},
};

// The keys a knowledge base's own settings file may set: how its articles are searched and
// shown. Every other key there (the index, the cache, the history, the page, the texts) is
// the user's alone.
constexpr std::string_view kKnowledgeBaseKeys[] = {
    "CaseFolding", "IgnoreAccents", "CasePairs", "Match",    "Results", "Order",
    "Query",       "Marker",        "Ignore",    "Articles", "Exclude",
};

bool KnowledgeBaseMaySet(std::string_view key) {
  return std::any_of(std::begin(kKnowledgeBaseKeys), std::end(kKnowledgeBaseKeys),
                     [&](std::string_view allowed) { return SameWord(allowed, key); });
}

// A value between double quotes without them, so that it may begin or end with blanks.
// False when the value opens a double quote and does not close it: taken as it stands, it
// would begin with the quote and lose the blanks the quote was meant to keep.
bool Unquote(std::string_view& value) {
  if (!value.starts_with('"')) return true;
  if (value.size() < 2 || !value.ends_with('"')) return false;
  value = value.substr(1, value.size() - 2);
  return true;
}

// Replaces the text `key` names (app/base/replaceable_texts.h); gives what is wrong, or "".
std::string ApplyText(std::string_view key, std::string_view value, Settings& settings) {
  const ReplaceableText* text = FindReplaceableText(key);
  if (text == nullptr) return Concat({"unknown key ", Quoted(key)});
  switch (settings.texts.Replace(*text, value)) {
    case ProgramTexts::Replacement::kDone:
      return "";
    case ProgramTexts::Replacement::kTooLong:
      return Concat(
          {key, " is at most ", NumberToText(static_cast<int32_t>(text->longest)), " bytes long"});
  }
  return "";
}

// Applies one line; gives what is wrong with it, or "" when it applied or is a comment.
std::string ApplyLine(std::string_view line, SettingsSource source, Settings& settings) {
  if (!IsUtf8(line)) return "the line is not UTF-8 text";
  line = TrimBlanks(line);
  if (line.empty() || line.front() == '#') return "";
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return "a setting is written Key = Value";
  const std::string_view key = TrimBlanks(line.substr(0, equals));
  std::string_view value = TrimBlanks(line.substr(equals + 1));
  if (!Unquote(value)) return "the closing double quote is missing";
  const auto rule = std::find_if(std::begin(kKeys), std::end(kKeys),
                                 [&](const KeyRule& rule) { return SameWord(rule.key, key); });
  if (source == SettingsSource::kKnowledgeBase && !KnowledgeBaseMaySet(key)) {
    // The knowledge base decides how it is searched and shown, never what the program says
    // nor what the user keeps. The line is quoted no further than its key.
    if (rule == std::end(kKeys) && FindReplaceableText(key) == nullptr) {
      return Concat({"unknown key ", Quoted(key)});
    }
    return Concat({Quoted(key), " is the user's to set, not the knowledge base's"});
  }
  if (rule != std::end(kKeys)) return rule->apply(value, settings);
  return ApplyText(key, value, settings);
}

// The value of `name` when it is set and not empty.
std::optional<std::string> NonEmpty(const VariableLookup& variable, std::string_view name) {
  std::optional<std::string> value = variable(name);
  if (value && value->empty()) value.reset();
  return value;
}

enum class FileReading { kRead, kMissing, kFailed };

std::string FileErrorProblem(platform::SystemError error) {
  const auto number = static_cast<int32_t>(error);
  return Concat(
      {"could not be read (error ", NumberToText(number), ", ", ErrorMessage(number), ")"});
}

// Reads the settings file at `path` into `settings`. A file that is there but cannot be read
// (not a regular file, larger than kLargestSettingsFile) is a problem and changes nothing; so
// is a missing one when `must_be_there`.
FileReading ReadOneSettingsFile(platform::Env& env, const std::string& path, bool must_be_there,
                                SettingsSource source, Settings& settings,
                                std::vector<SettingsProblem>& problems) {
  std::string contents(kLargestSettingsFile + 1, '\0');
  std::unique_ptr<platform::File> file;
  std::size_t count = 0;
  uint64_t size = 0;
  // The knowledge base's file is its own, never a link to a file elsewhere that the user
  // may read.
  const bool follow_links = source == SettingsSource::kUser;
  const platform::SystemError error = platform::OpenFileForReading(
      env, path, platform::Lock::kNone, contents, file, count, size, follow_links);
  const bool missing = error == platform::system_error::kFileNotFound ||
                       error == platform::system_error::kPathNotFound;
  if (missing && !must_be_there) return FileReading::kMissing;
  if (error == platform::system_error::kAccessDenied) {
    // Refused: by a folder on the way the user may not search (where nobody can tell
    // whether a file is there at all), by the file itself, or because it is no regular
    // file. The null device says "no settings" in the usual way.
    platform::FileStatus status;
    const platform::SystemError looked = env.PathStatus(path, true, status);
    if (looked == platform::system_error::kNone && status.null_device) return FileReading::kRead;
    if (looked == platform::system_error::kAccessDenied && !must_be_there) {
      return FileReading::kMissing;
    }
  }
  if (error == platform::system_error::kBadPathName && !follow_links) {
    problems.push_back({path, 0, "is a symbolic link, which is not read"});
    return FileReading::kFailed;
  }
  if (error != platform::system_error::kNone) {
    problems.push_back({path, 0, FileErrorProblem(error)});
    return FileReading::kFailed;
  }
  if (size > kLargestSettingsFile) {
    problems.push_back({path, 0, "is larger than 64 KB, too large for a settings file"});
    return FileReading::kFailed;
  }
  ParseSettings(std::string_view(contents).substr(0, count), path, settings, problems, source);
  return FileReading::kRead;
}

}  // namespace

std::string PatternProblem(std::string_view key, std::string_view pattern) {
  const std::string problem = TreePatternProblem(pattern);
  if (problem.empty()) return "";
  return Concat({key, " takes a pattern of paths inside the knowledge base such as **/*.html, not ",
                 Quoted(pattern), ": ", problem});
}

std::string SplitPatterns(std::string_view key, std::string_view value,
                          std::vector<std::string>& patterns) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view pattern = TrimBlanks(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    if (pattern.empty()) continue;
    if (std::string problem = PatternProblem(key, pattern); !problem.empty()) return problem;
    patterns.emplace_back(pattern);
  }
  return "";
}

KnowledgeBase KnowledgeBaseOf(const Settings& settings, std::string root) {
  KnowledgeBase base{.root = std::move(root)};
  if (settings.articles) base.articles = *settings.articles;
  base.exclude = settings.exclude;
  return base;
}

std::string SettingsProblem::Describe() const {
  if (line == 0) return Concat({file, ": ", what});
  return Concat({file, ", line ", NumberToText(line), ": ", what});
}

void ParseSettings(std::string_view contents, std::string_view file, Settings& settings,
                   std::vector<SettingsProblem>& problems, SettingsSource source) {
  if (contents.starts_with(kByteOrderMark)) contents.remove_prefix(kByteOrderMark.size());
  int32_t number = 0;
  while (!contents.empty()) {
    ++number;
    const std::size_t end = contents.find('\n');
    std::string_view line = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (std::string what = ApplyLine(line, source, settings); !what.empty()) {
      problems.push_back({std::string(file), number, std::move(what)});
    }
  }
}

SettingsPlaces FindSettingsPlaces(const VariableLookup& variable) {
  if (std::optional<std::string> named = NonEmpty(variable, kSettingsFileVariable)) {
    return {{*named}, true};
  }
  const std::string in_folder = JoinPath("kbsearch", kSettingsFileName);
  SettingsPlaces places;
  std::optional<std::string> home = NonEmpty(variable, "XDG_CONFIG_HOME");
  if (!home || !IsAbsolute(*home)) {
    home = NonEmpty(variable, "HOME");
    if (home) home = JoinPath(*home, ".config");
  }
  if (home && IsAbsolute(*home)) places.paths.push_back(JoinPath(*home, in_folder));

  const std::string folders = NonEmpty(variable, "XDG_CONFIG_DIRS").value_or("/etc/xdg");
  for (std::string_view rest = folders; !rest.empty();) {
    const std::string_view folder = rest.substr(0, rest.find(':'));
    rest.remove_prefix(std::min(rest.size(), folder.size() + 1));
    if (IsAbsolute(folder)) places.paths.push_back(JoinPath(folder, in_folder));
  }
  return places;
}

std::string ReadSettingsFile(platform::Env& env, const SettingsPlaces& places, Settings& settings,
                             std::vector<SettingsProblem>& problems) {
  for (const std::string& path : places.paths) {
    switch (
        ReadOneSettingsFile(env, path, places.named, SettingsSource::kUser, settings, problems)) {
      case FileReading::kMissing:
        continue;
      case FileReading::kRead:
        return path;
      case FileReading::kFailed:
        return "";
    }
  }
  return "";
}

std::string SettingsConflict(const Settings& settings) {
  if (settings.match.mode == MatchMode::kBytes && !settings.match.article.ignore.empty()) {
    return "Ignore leaves elements out of the articles' text, which is matched only with "
           "Match = text (or --match text)";
  }
  return "";
}

std::string KnowledgeBaseSettingsName(std::string_view folder) {
  constexpr std::size_t kLongestName = 255;
  std::string name = PercentEncoded(folder, "._-");
  name += ".env";
  return name.size() <= kLongestName ? name : "";
}

std::optional<std::string> KnowledgeBaseSettingsPath(const VariableLookup& variable,
                                                     std::string_view folder) {
  std::optional<std::string> home = NonEmpty(variable, "XDG_CONFIG_HOME");
  if (!home || !IsAbsolute(*home)) {
    home = NonEmpty(variable, "HOME");
    if (home) home = JoinPath(*home, ".config");
  }
  const std::string name = KnowledgeBaseSettingsName(folder);
  if (!home || !IsAbsolute(*home) || name.empty()) return std::nullopt;
  return JoinPath(JoinPath(*home, "kbsearch/kb"), name);
}

void ReadKnowledgeBaseSettings(platform::Env& env, Settings& settings,
                               std::vector<SettingsProblem>& problems) {
  ReadOneSettingsFile(env, std::string(kSettingsFileName), false, SettingsSource::kKnowledgeBase,
                      settings, problems);
  const std::optional<std::string> folder = platform::CanonicalPath(".");
  if (!folder) return;
  if (const std::optional<std::string> path =
          KnowledgeBaseSettingsPath(platform::EnvironmentVariable, *folder)) {
    ReadOneSettingsFile(env, *path, false, SettingsSource::kKnowledgeBase, settings, problems);
  }
}

bool SettingsSetArticles(platform::Env& env, std::string_view folder) {
  Settings settings;
  std::vector<SettingsProblem> problems;
  ReadOneSettingsFile(env, Concat({folder, "/", kSettingsFileName}), false,
                      SettingsSource::kKnowledgeBase, settings, problems);
  // A tree that may not be written is set up by the user's file for it.
  if (const std::optional<std::string> canonical = platform::CanonicalPath(folder)) {
    if (const std::optional<std::string> path =
            KnowledgeBaseSettingsPath(platform::EnvironmentVariable, *canonical)) {
      ReadOneSettingsFile(env, *path, false, SettingsSource::kKnowledgeBase, settings, problems);
    }
  }
  return settings.articles.has_value();
}

std::string LoadSettings(platform::Env& env, Settings& settings,
                         std::vector<SettingsProblem>& problems) {
  return ReadSettingsFile(env, FindSettingsPlaces(platform::EnvironmentVariable), settings,
                          problems);
}

}  // namespace kb
