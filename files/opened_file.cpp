#include "files/opened_file.h"

#include "files/file_declaration.h"
#include "support/error_state/error_state.h"

namespace kb {

bool OpenedFile::NextStart(uint64_t& start) {
  if (!quick_scan) {
    buffer.Forget();
    if (const platform::SystemError error = file->Size(size)) {
      PostError(TransferErrorNumber(error), error);
      return false;
    }
  }
  start = position == 0 ? 0 : position - 1;
  if (start >= size) {
    PostError(error::kRecordNotAvailable);
    return false;
  }
  return true;
}

}  // namespace kb
