#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrane {

// What a transfer session reports about one of its tasks: the identifier unique within the
// session and the description text set on the task, if any.
struct TransferTaskInfo {
    std::int64_t identifier = 0;
    std::optional<std::string> description;
};

} // namespace veltrane
