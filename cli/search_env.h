#pragma once

// The file system kbsearch-cli searches through. The program itself uses the operating
// system's (search_env.cpp); its test build, kbsearch-cli-faulty, links a file system whose
// calls tests can fail and delay (testing/faulty_search_env.cpp) in its place.

#include "platform/file_system.h"

namespace kb::cli {

platform::Env& SearchEnv();

}  // namespace kb::cli
