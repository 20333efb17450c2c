#include "playback/playback_log.h"

namespace tallowcrest {

Q_LOGGING_CATEGORY(playbackLog, "tallowcrest.playback", QtWarningMsg)

}  // namespace tallowcrest
