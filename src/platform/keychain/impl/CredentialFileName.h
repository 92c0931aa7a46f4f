#pragma once

#include <optional>
#include <string>

namespace veltrane {

// The file name under which the file keychain keeps the item (service, account): letters,
// digits, '-', '_' and '.' stay as they are, every other byte becomes "%XX", a leading '.'
// too, and '+' separates the two parts. Distinct pairs give distinct names, a name never
// contains '/', never starts with '.' and is never "." or "..". Absent when the name would
// be longer than a file name may be.
[[nodiscard]] std::optional<std::string> credentialFileName(const std::string& service,
                                                            const std::string& account);

} // namespace veltrane
