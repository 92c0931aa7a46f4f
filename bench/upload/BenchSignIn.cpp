#include "upload/BenchSignIn.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <iostream>

namespace veltrane::bench {

std::optional<std::string> BenchSignIn::demoUserToken(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    const auto flow = client.Get("/self-service/login/api");
    if (!flow || flow->status != 200) {
        std::cerr << "sign-in: no login flow" << std::endl;
        return std::nullopt;
    }
    const nlohmann::json credentials{
        {"method", "password"}, {"identifier", "demo@veltrane.test"}, {"password", "demo-password"}};
    const std::string flowID = nlohmann::json::parse(flow->body).at("id").get<std::string>();
    const auto session =
        client.Post("/self-service/login?flow=" + flowID, credentials.dump(), "application/json");
    if (!session || session->status != 200) {
        std::cerr << "sign-in: refused" << std::endl;
        return std::nullopt;
    }
    return nlohmann::json::parse(session->body).at("session_token").get<std::string>();
}

} // namespace veltrane::bench
