#include "mpris/mpris_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(mprisLog, "tallowcrest.mpris", QtWarningMsg)

}  // namespace tallowcrest
