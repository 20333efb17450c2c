#include "server/server_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(serverLog, "tallowcrest.server", QtWarningMsg)

}  // namespace tallowcrest
