#pragma once

namespace tallowcrest {

// Sizes that the main window gives its stretching controls for a client area.
// Everything else (lefts, tops, the player strip's height) never changes.
struct StretchedSizes {
    int mediaWidth;
    int listWidth;
    int listHeight;
};

// The player strip takes the client width less the two button columns; the
// list takes the full width and the height below the two button rows. A
// client area too small for the buttons yields 0, never a negative size.
StretchedSizes stretchForClientArea(int clientWidth, int clientHeight,
                                    int buttonWidth, int buttonHeight);

}  // namespace tallowcrest
