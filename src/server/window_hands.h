#pragma once

#include <functional>

namespace tallowcrest {

// What another hand at the machine (the desktop's media keys, the phone)
// may do to the main window itself.
struct WindowHands {
    // Brings the window back from the tray or the taskbar and activates it.
    std::function<void()> raise;
    // Does what "Exit" does.
    std::function<void()> quit;
};

}  // namespace tallowcrest
