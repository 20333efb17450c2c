#include "remote/remote_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(remoteLog, "tallowcrest.remote", QtWarningMsg)

}  // namespace tallowcrest
