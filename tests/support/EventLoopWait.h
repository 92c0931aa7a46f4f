#pragma once

#include <chrono>
#include <functional>

namespace veltrane::test {

// Processes main-thread events until `condition` holds or `timeout` passes; returns whether it
// holds. Timeouts are generous bounds for a loaded machine, not performance assertions.
[[nodiscard]] bool waitUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Processes main-thread events for the given time.
void spinFor(std::chrono::milliseconds duration);

} // namespace veltrane::test
