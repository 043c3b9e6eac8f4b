#include "app/search/result_order.h"

#include <algorithm>
#include <numeric>

namespace kb {
namespace {

std::vector<std::size_t> NameOrder(std::size_t count) {
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  return order;
}

double Score(const ArticleWeights& weights, double average_length) {
  const double length_ratio =
      average_length > 0 ? static_cast<double>(weights.length) / average_length : 1.0;
  const double damping = kRelevanceK1 * (1 - kRelevanceB + kRelevanceB * length_ratio);
  double score = 0;
  for (const uint64_t hits : weights.term_hits) {
    const auto tf = static_cast<double>(hits);
    score += tf * (kRelevanceK1 + 1) / (tf + damping);
  }
  return score;
}

}  // namespace

std::vector<std::size_t> RelevanceOrder(std::span<const ArticleWeights> weights) {
  std::vector<std::size_t> order = NameOrder(weights.size());
  if (weights.empty()) return order;
  // Summed in name order, so that the mean is the same to the last bit whatever read them.
  double total_length = 0;
  for (const ArticleWeights& article : weights) total_length += static_cast<double>(article.length);
  const double average_length = total_length / static_cast<double>(weights.size());
  std::vector<double> scores(weights.size());
  for (std::size_t at = 0; at < weights.size(); ++at) {
    scores[at] = Score(weights[at], average_length);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (weights[a].title_holds_every_term != weights[b].title_holds_every_term) {
      return weights[a].title_holds_every_term;
    }
    return scores[a] > scores[b];
  });
  return order;
}

std::vector<std::size_t> ResultOrder(std::span<const FoundArticle> found, ResultsOrder order) {
  static const ArticleWeights kNoWeights;
  const auto weights_of = [&](std::size_t at) -> const ArticleWeights& {
    const std::optional<ArticleWeights>& weights = found[at].details.weights;
    return weights ? *weights : kNoWeights;
  };
  switch (order) {
    case ResultsOrder::kName:
      break;
    case ResultsOrder::kHits: {
      std::vector<std::size_t> by_hits = NameOrder(found.size());
      std::stable_sort(by_hits.begin(), by_hits.end(), [&](std::size_t a, std::size_t b) {
        return weights_of(a).hits() > weights_of(b).hits();
      });
      return by_hits;
    }
    case ResultsOrder::kRelevance: {
      std::vector<ArticleWeights> weights;
      weights.reserve(found.size());
      for (std::size_t at = 0; at < found.size(); ++at) weights.push_back(weights_of(at));
      return RelevanceOrder(weights);
    }
  }
  return NameOrder(found.size());
}

}  // namespace kb
