#pragma once

#include <QList>
#include <QSslCertificate>

#include <chrono>
#include <string>

namespace veltrane {

struct TransferSessionConfiguration {
    // Names the session (and its thread). Transfers do not outlive the process, so a session
    // created again with the same identifier after a restart reports no tasks.
    std::string identifier;
    // The longest a transfer may take from start to finish.
    std::chrono::seconds resourceTimeout = std::chrono::hours(24);
    // Test-only: certificate authorities trusted in addition to the system store, for a local
    // HTTPS server with a self-made certificate. Leave empty in the application.
    QList<QSslCertificate> additionalCaCertificatesForTesting{};
};

} // namespace veltrane
