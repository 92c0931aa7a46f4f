#include "devserver/UploadRoutes.h"

#include "devserver/ConnectionCloser.h"
#include "devserver/IsoTime.h"
#include "devserver/Responses.h"
#include "devserver/UploadForm.h"

#include <nlohmann/json.hpp>

namespace veltrane::devserver {

namespace {

constexpr const char* kInjectedFailure = "Injected failure";

// Reads and drops the body of a request that is answered without it, so that the connection can
// carry the answer and later requests.
void drain(const httplib::Request& request, const httplib::ContentReader& reader) {
    const auto discard = [](const char*, std::size_t) { return true; };
    if (request.is_multipart_form_data()) {
        (void)reader([](const httplib::MultipartFormData&) { return true; }, discard);
    } else {
        (void)reader(discard);
    }
}

} // namespace

UploadRoutes::UploadRoutes(const UploadStore& store, const ProjectCatalog& catalog,
                           const Authenticator& authenticator, FaultInjector& faults, RequestLog& log,
                           IdGenerator& ids)
    : store_(store), catalog_(catalog), authenticator_(authenticator), faults_(faults), log_(log), ids_(ids) {
}

void UploadRoutes::registerOn(httplib::Server& server) {
    server.Post("/api/v1/ingestion/upload",
                [this](const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) { upload(request, response, reader); });
}

void UploadRoutes::upload(const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
    const UploadFault fault = faults_.drawUploadFault();
    if (fault.kind == UploadFaultKind::closeConnection) {
        drain(request, reader);
        log_.markConnectionClosed(request);
        (void)ConnectionCloser::close(request);
        Responses::text(response, 500, kInjectedFailure);
        return;
    }
    const bool tokenRejected = fault.kind == UploadFaultKind::status && fault.status == 401;
    if (tokenRejected || !authenticator_.authenticate(request)) {
        drain(request, reader);
        Responses::notAuthenticated(response);
        return;
    }
    if (fault.kind == UploadFaultKind::status) {
        drain(request, reader);
        Responses::text(response, fault.status, kInjectedFailure);
        return;
    }
    if (!request.is_multipart_form_data()) {
        drain(request, reader);
        Responses::text(response, 400, "Expected a multipart/form-data body");
        return;
    }

    UploadForm form(store_);
    const bool read =
        reader([&](const httplib::MultipartFormData& part) { return form.onPartHeader(part); },
               [&](const char* data, std::size_t size) { return form.onPartContent(data, size); });
    if (!read) {
        if (response.status == 413) {
            Responses::text(response, 413, "The upload is too large");
        } else {
            Responses::text(response, 400, "Malformed multipart body");
        }
        return;
    }
    store(form, response);
}

void UploadRoutes::store(UploadForm& form, httplib::Response& response) {
    if (const auto problem = form.problem()) {
        Responses::text(response, 400, *problem);
        return;
    }
    const std::string& projectId = form.projectId();
    const auto meetingId = form.meetingId();
    if (!catalog_.hasProject(projectId)) {
        Responses::text(response, 404, "Project not found");
        return;
    }
    if (meetingId && !catalog_.hasMeeting(projectId, *meetingId)) {
        Responses::text(response, 404, "Meeting not found");
        return;
    }
    const std::size_t sizeBytes = form.file().sizeBytes();
    if (!form.file().commitTo(store_.destination(projectId, meetingId, form.fileName()))) {
        Responses::text(response, 500, "The file could not be stored");
        return;
    }
    Responses::json(response, 201,
                    {{"id", ids_.uuid()},
                     {"filename", form.fileName()},
                     {"project_id", projectId},
                     {"meeting_id", meetingId ? nlohmann::json(*meetingId) : nlohmann::json(nullptr)},
                     {"size_bytes", sizeBytes},
                     {"status", "received"},
                     {"received_at", IsoTime::now()}});
}

} // namespace veltrane::devserver
