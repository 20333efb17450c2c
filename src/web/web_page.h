#pragma once

#include "web/web_reply.h"

#include <QString>

#include <array>

namespace tallowcrest {

// The page a phone opens: three files built into the program under :/web.
inline constexpr std::array kPagePaths = {"/", "/app.js", "/style.css"};

// One of kPagePaths; GET only.
WebReply pageFile(const QString& path, bool get);

}  // namespace tallowcrest
