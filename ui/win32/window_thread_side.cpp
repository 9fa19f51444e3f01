#include "window_thread_side.h"

#include <stdexcept>

namespace zelvane::ui {

LRESULT RunCarriedCall(LPARAM call) {
    (*reinterpret_cast<const std::function<void()>*>(call))();
    return 1;
}

// SendMessage runs the call at once on the window's own thread, and waits for the window's
// thread to run it from any other.
void MessageWindowThreadSide::RunOnWindowThread(const std::function<void()>& call) {
    if (::SendMessageW(handle_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call)) != 1) {
        throw std::runtime_error("the window was closed while the update ran");
    }
}

}  // namespace zelvane::ui
