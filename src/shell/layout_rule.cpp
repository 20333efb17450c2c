#include "shell/layout_rule.h"

#include <algorithm>

namespace tallowcrest {

StretchedSizes stretchForClientArea(int clientWidth, int clientHeight,
                                    int buttonWidth, int buttonHeight)
{
    return StretchedSizes{
        .mediaWidth = std::max(0, clientWidth - 2 * buttonWidth),
        .listWidth = std::max(0, clientWidth),
        .listHeight = std::max(0, clientHeight - 2 * buttonHeight),
    };
}

}  // namespace tallowcrest
