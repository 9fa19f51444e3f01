#include <gtest/gtest.h>

#include <chrono>

#include "test_support.h"
#include "zelvane/engine/launch.h"
#include "zelvane/win32/unique_handle.h"

namespace zelvane {
namespace {

TEST(WaitOnProgram, AProgramThatStaysOpenHoldsTheUpdateForTheBoundOnly) {
    test::ScopedEnv sleep("ZELVANE_RECORD_SLEEP_MS", "120000");
    const std::int32_t id =
        SystemProcesses().Start({ZELVANE_RECORD_PROGRAM, {}, WindowStyle::NormalWithoutFocus});
    const auto start = std::chrono::steady_clock::now();
    WaitOnProgram(SystemProcesses(), id);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(65535));
    EXPECT_LT(waited, std::chrono::milliseconds(75000));
    const win32::UniqueHandle program(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id)));
    ASSERT_TRUE(program.Valid());
    EXPECT_EQ(::WaitForSingleObject(program.Get(), 0), WAIT_TIMEOUT) << "left running";
    ::TerminateProcess(program.Get(), 0);
}

}  // namespace
}  // namespace zelvane
