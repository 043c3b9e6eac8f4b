#include "cli/search_env.h"

namespace kb::cli {

platform::Env& SearchEnv() {
  return platform::Env::Default();
}

}  // namespace kb::cli
