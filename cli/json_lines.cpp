#include "cli/json_lines.h"

namespace kb::cli {
namespace {

std::string JsonLine(std::string_view type, std::string_view data) {
  std::string line = R"({"type":")";
  line.append(type).append(R"(","data":)").append(data).append("}\n");
  return line;
}

}  // namespace

std::string JsonMatchLine(std::string_view path, std::string_view excerpt,
                          std::string_view page_excerpt, const ArticleSnippets* snippets,
                          bool words) {
  return JsonLine("match", JsonMatchData(path, excerpt, page_excerpt, snippets, words));
}

std::string JsonErrorLine(std::string_view message, int64_t code, std::string_view path) {
  return JsonLine("error", JsonErrorData(message, code, path));
}

std::string JsonSummaryLine(const SearchSummary& summary) {
  return JsonLine("summary", JsonSummaryData(summary));
}

}  // namespace kb::cli
