#pragma once

#include "support/EventLoopWait.h"

#include <QCoroTask>

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace veltrane::test {

// Runs a coroutine to its end by spinning the main event loop, then returns its result or rethrows
// its exception. (QCoro::waitFor does not return for a task that finished without suspending.)
template <typename T> T runTask(QCoro::Task<T> task) {
    bool done = false;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    const auto drive = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
            } else {
                result = co_await std::move(task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto driver = drive();
    if (!waitUntil([&done] { return done; }, std::chrono::seconds(60))) {
        throw std::runtime_error("the task did not finish");
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

} // namespace veltrane::test
