#pragma once

#include "devserver/Options.h"

#include <expected>
#include <string>
#include <vector>

namespace veltrane::devserver {

// The command line of veltrane-devserver.
class CommandLine {
public:
    // Options from the arguments (without the program name); the error text names the bad argument.
    // "--help" gives the usage text as the error.
    [[nodiscard]] static std::expected<Options, std::string> parse(const std::vector<std::string>& arguments);
    [[nodiscard]] static std::string usage();
};

} // namespace veltrane::devserver
