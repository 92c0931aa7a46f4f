#pragma once

#include "server/CredentialStore.h"

namespace veltrane {

// The credential store the application uses: the Secret Service first, the owner-only file
// store in the per-user data folder when no Secret Service is reachable.
[[nodiscard]] CredentialStore makeSystemCredentialStore();

} // namespace veltrane
