#include "web/web_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(webLog, "tallowcrest.web", QtWarningMsg)

}  // namespace tallowcrest
