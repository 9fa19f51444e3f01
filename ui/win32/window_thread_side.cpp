#include "window_thread_side.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "zelvane/ui/texts.h"

namespace zelvane::ui {
namespace {

using Call = std::function<void()>;

}  // namespace

LRESULT RunCarriedCall(UINT message, LPARAM call) {
    if (message == kPostedToWindowThread) {
        const std::unique_ptr<Call> posted(reinterpret_cast<Call*>(call));
        (*posted)();
    } else {
        (*reinterpret_cast<const Call*>(call))();
    }
    return 1;
}

// SendMessage runs the call at once on the window's own thread, and waits for the window's
// thread to run it from any other.
void Win32WindowThreadSide::RunOnWindowThread(const Call& call) {
    if (::SendMessageW(handle_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call)) != 1) {
        throw std::runtime_error(text::kWindowGone);
    }
}

void Win32WindowThreadSide::PostToWindowThread(Call call) {
    auto posted = std::make_unique<Call>(std::move(call));
    if (!::PostMessageW(handle_, kPostedToWindowThread, 0, reinterpret_cast<LPARAM>(posted.get()))) {
        throw std::runtime_error(text::kWindowGone);
    }
    (void)posted.release();  // the window procedure owns it now
}

}  // namespace zelvane::ui
