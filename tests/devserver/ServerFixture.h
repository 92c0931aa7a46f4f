#pragma once

#include "TempDir.h"

#include "devserver/DevServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace veltrane::devserver {

// A quiet server with the demo data on a free port, its uploads in a temporary folder, and a
// client for it.
class ServerFixture : public ::testing::Test {
protected:
    static constexpr const char* kEmail = "demo@veltrane.test";
    static constexpr const char* kPassword = "demo-password";

    void SetUp() override;
    void TearDown() override;
    // Override before SetUp runs to start the server differently.
    [[nodiscard]] virtual Options serverOptions() const;

    // Starts a login flow and returns its id.
    [[nodiscard]] std::string startFlow();
    // Submits the flow with the given credentials.
    [[nodiscard]] httplib::Result submit(const std::string& flowId, const nlohmann::json& form);
    // A session token for the demo user.
    [[nodiscard]] std::string signIn();
    [[nodiscard]] static httplib::Headers bearer(const std::string& token);

    TempDir dataDir_;
    std::unique_ptr<DevServer> server_;
    std::unique_ptr<httplib::Client> client_;
};

} // namespace veltrane::devserver
