// The file system of kbsearch-cli-faulty, the test build of kbsearch-cli: the operating
// system's, behind a FaultyEnv that two environment variables set up.
//
//   KBSEARCH_FAULTS              faults separated by ",", each OPERATION:N:ERRNO[:PATH_PART]:
//                                the Nth call of OPERATION (open, lock, read, write, status,
//                                close, rename, remove) on a path holding PATH_PART fails
//                                with the errno value ERRNO (a number), for example
//                                "write:2:28:ZebResult".
//   KBSEARCH_DELAY_MICROSECONDS  every call first waits a random time up to this long.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cli/search_env.h"
#include "platform/testing/faulty_env.h"

namespace kb::cli {
namespace {

using platform::Operation;

constexpr std::pair<std::string_view, Operation> kOperations[] = {
    {"open", Operation::kOpen},     {"lock", Operation::kLock},     {"read", Operation::kRead},
    {"write", Operation::kWrite},   {"status", Operation::kStatus}, {"close", Operation::kClose},
    {"rename", Operation::kRename}, {"remove", Operation::kRemove},
};

// The fields of `text` between `separator`s.
std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> fields;
  for (std::size_t end; (end = text.find(separator)) != std::string_view::npos;) {
    fields.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  fields.emplace_back(text);
  return fields;
}

void AddFaults(platform::testing::FaultyEnv& env, std::string_view faults) {
  for (const std::string& fault : Split(faults, ',')) {
    const std::vector<std::string> fields = Split(fault, ':');
    if (fields.size() < 3) std::abort();
    const auto* operation =
        std::find_if(std::begin(kOperations), std::end(kOperations),
                     [&](const auto& known) { return known.first == fields[0]; });
    if (operation == std::end(kOperations)) std::abort();
    env.FailNth(operation->second, std::stoi(fields[1]), std::stoi(fields[2]),
                fields.size() > 3 ? fields[3] : "");
  }
}

void AddDelays(platform::testing::FaultyEnv& env, int longest) {
  env.SetHook([longest](Operation, std::string_view) {
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, longest);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
  });
}

void SetUp(platform::testing::FaultyEnv& env) {
  if (const char* faults = std::getenv("KBSEARCH_FAULTS")) AddFaults(env, faults);
  if (const char* delay = std::getenv("KBSEARCH_DELAY_MICROSECONDS")) {
    AddDelays(env, std::stoi(delay));
  }
}

}  // namespace

platform::Env& SearchEnv() {
  static platform::testing::FaultyEnv env;
  static const bool set_up = (SetUp(env), true);
  (void)set_up;
  return env;
}

}  // namespace kb::cli
