#include "library/library_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(libraryLog, "tallowcrest.library", QtWarningMsg)

}  // namespace tallowcrest
