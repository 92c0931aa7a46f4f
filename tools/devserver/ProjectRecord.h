#pragma once

#include <optional>
#include <string>

namespace veltrane::devserver {

struct ProjectRecord {
    std::string id;
    std::string name;
    std::optional<std::string> description;
    // "active" or "archived"; any other text is kept as given.
    std::string status;
    std::optional<std::string> createdAt;
    std::optional<std::string> updatedAt;
};

} // namespace veltrane::devserver
