#pragma once

#include "assignment/AssignmentModel.h"
#include "platform/settings/UserDefaults.h"
#include "support/CannedHttpServer.h"
#include "support/RunTask.h"
#include "support/ServerTestRig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <thread>

namespace veltrane::test {

// A projects API whose answers the test changes between loads: projects "prj-a" (Alpha) and
// "prj-b" (Beta) are active, "prj-x" archived; "prj-a" has meetings m-1 and m-2. The meetings of
// `heldProject` are not answered while it is set; creating a meeting fails with 500 while
// `failCreate` is set; anything else answers 401.
class AssignmentFixture : public ::testing::Test {
protected:
    void TearDown() override { heldProject = ""; }

    void setProjects(std::string body) {
        const std::lock_guard lock(mutex);
        projects = std::move(body);
    }
    void setMeetings(const std::string& projectId, std::string body) {
        const std::lock_guard lock(mutex);
        meetings[projectId] = std::move(body);
    }
    void handle(const RecordedRequest& request, httplib::Response& response) {
        const std::string prefix = "/api/v1/projects/";
        const std::string project =
            request.path.starts_with(prefix)
                ? request.path.substr(prefix.size(), request.path.find('/', prefix.size()) - prefix.size())
                : "";
        while (!project.empty() && project == std::string_view(heldProject.load())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::lock_guard lock(mutex);
        response.status = 200;
        if (request.path == "/api/v1/projects") {
            response.set_content(projects, "application/json");
        } else if (!project.empty() && request.method == "GET") {
            response.status = meetingsStatus;
            response.set_content(meetings[project], "application/json");
        } else if (!project.empty()) {
            const auto sent = nlohmann::json::parse(request.body);
            response.status = failCreate ? 500 : 201;
            response.set_content(failCreate
                                     ? R"({"detail":"Meeting store offline"})"
                                     : nlohmann::json{{"id", "m-new"},
                                                      {"project_id", project},
                                                      {"name", sent.at("name")},
                                                      {"scheduled_date", sent.value("scheduled_date", "")}}
                                           .dump(),
                                 "application/json");
        } else {
            response.status = 401;
        }
    }
    [[nodiscard]] std::size_t meetingRequests() const { return server.count("/api/v1/projects/"); }

    std::mutex mutex;
    std::string projects = R"([{"id":"prj-a","name":"Alpha","status":"active"},
                               {"id":"prj-b","name":"Beta","status":"active"},
                               {"id":"prj-x","name":"X","status":"archived"}])";
    std::map<std::string, std::string> meetings = {
        {"prj-a", R"([{"id":"m-1","project_id":"prj-a","name":"Kickoff"},
                                                                  {"id":"m-2","project_id":"prj-a","name":"Weekly"}])"},
        {"prj-b", "[]"}};
    int meetingsStatus = 200;
    std::atomic<bool> failCreate = false;
    std::atomic<const char*> heldProject = "";
    CannedHttpServer server{
        [this](const RecordedRequest& request, httplib::Response& response) { handle(request, response); }};
    ServerTestRig rig{server.baseURL()};
    InMemoryUserDefaults defaults;
    AssignmentModel model{rig.client, defaults};
};

} // namespace veltrane::test
