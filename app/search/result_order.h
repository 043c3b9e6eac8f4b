#pragma once

// The order in which a search shows what it found: by name (the order in which the articles
// are listed), by hits, or by relevance. A function of the found articles' weights alone
// (app/base/found_article.h), so that the order is the same however the articles were read:
// on any number of threads, with or without the article index.
//
// Relevance puts first the articles whose title holds every term of the query where a word
// starts; within each of those two groups it ranks by
//     the sum over the terms of  tf * (k1 + 1) / (tf + k1 * (1 - b + b * len / avglen)),
// most first, where tf is the term's hits, len the article's length (both in the view the
// search matches: the bytes, markup and all, or the text), avglen the mean length of the
// articles found, k1 = 1.2 and b = 0.75. Every article found holds every term, and an index
// cannot count the articles that do not, so no term is weighed by its rarity. The more hits a
// term has the more it counts, ever less for each, and a hit counts less in a long article
// than in a short one.
//
// Every order keeps articles that weigh the same in name order.

#include <cstddef>
#include <span>
#include <vector>

#include "app/base/found_article.h"
#include "app/base/results_settings.h"

namespace kb {

inline constexpr double kRelevanceK1 = 1.2;
inline constexpr double kRelevanceB = 0.75;

// The articles of `weights` (in name order) by relevance: their indices, first first.
std::vector<std::size_t> RelevanceOrder(std::span<const ArticleWeights> weights);

// The articles of `found` (in name order) in `order`: their indices, first first. With
// ResultsOrder::kHits or kRelevance, an article that has no weights counts as no hit.
std::vector<std::size_t> ResultOrder(std::span<const FoundArticle> found, ResultsOrder order);

}  // namespace kb
