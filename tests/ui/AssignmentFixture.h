#pragma once

#include "assignment/AssignmentModel.h"
#include "platform/settings/UserDefaults.h"
#include "server/RunTask.h"
#include "server/ServerTestRig.h"
#include "server/TestHttpServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace veltrane::test {

// A projects API with two active projects; "prj-a" has two meetings (its answer can be held back
// by the test), "prj-b" none. Creating a meeting fails with 500 while `failCreate` is set.
class AssignmentFixture : public ::testing::Test {
protected:
    void TearDown() override { holdMeetings = false; }

    std::atomic<bool> holdMeetings{false};
    std::atomic<bool> failCreate{false};
    TestHttpServer server{[this](const RecordedRequest& request, httplib::Response& response) {
        response.set_content("[]", "application/json");
        if (request.path == "/api/v1/projects") {
            response.set_content(R"([{"id":"prj-a","name":"Alpha","status":"active"},
                                     {"id":"prj-b","name":"Beta","status":"active"}])",
                                 "application/json");
        } else if (request.path == "/api/v1/projects/prj-a/meetings" && request.method == "GET") {
            while (holdMeetings) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            response.set_content(R"([{"id":"m-1","project_id":"prj-a","name":"Kickoff"},
                                     {"id":"m-2","project_id":"prj-a","name":"Weekly"}])",
                                 "application/json");
        } else if (request.method == "POST") {
            const auto sent = nlohmann::json::parse(request.body);
            response.status = failCreate ? 500 : 201;
            response.set_content(
                failCreate
                    ? R"({"detail":"Meeting store offline"})"
                    : nlohmann::json{{"id", "m-new"}, {"project_id", "prj-a"}, {"name", sent.at("name")}}
                          .dump(),
                "application/json");
        }
    }};
    ServerTestRig rig{server.baseUrl()};
    InMemoryUserDefaults defaults;
    AssignmentModel model{rig.client, defaults};
};

} // namespace veltrane::test
