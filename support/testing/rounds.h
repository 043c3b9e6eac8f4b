#pragma once

// How many rounds a test of random inputs runs. Built with a sanitizer, every round costs
// several times what it costs in a plain build; tools/test then sets KBSEARCH_TEST_ROUNDS to
// a share of the rounds (in percent) that keeps those tests within seconds, while the plain
// build runs them all. Header-only; tests only.

#include <algorithm>
#include <cstdlib>

namespace kb::testing {

// `full` rounds, or the share of them that KBSEARCH_TEST_ROUNDS gives (a percentage from 1
// to 100; anything else means all of them), never fewer than `least` (or `full`, if fewer).
inline int Rounds(int full, int least = 1) {
  const char* given = std::getenv("KBSEARCH_TEST_ROUNDS");
  if (given == nullptr) return full;
  char* end = nullptr;
  const long percent = std::strtol(given, &end, 10);
  if (end == given || *end != '\0' || percent < 1 || percent > 100) return full;
  return std::min(full, std::max(least, static_cast<int>(full * percent / 100)));
}

}  // namespace kb::testing
