#pragma once

#include "devserver/Authenticator.h"
#include "devserver/FaultInjector.h"
#include "devserver/IdGenerator.h"
#include "devserver/ProjectCatalog.h"
#include "devserver/RequestLog.h"
#include "devserver/UploadForm.h"
#include "devserver/UploadStore.h"

#include <httplib.h>

namespace veltrane::devserver {

// The ingestion endpoint "/api/v1/ingestion/upload": a multipart form with "project_id", an
// optional "meeting_id" and the "file" part. The file is streamed to disk while it arrives.
class UploadRoutes {
public:
    UploadRoutes(const UploadStore& store, const ProjectCatalog& catalog, const Authenticator& authenticator,
                 FaultInjector& faults, RequestLog& log, IdGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void upload(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& reader);
    // Finishes an upload whose form has been read completely.
    void store(UploadForm& form, httplib::Response& response);

    const UploadStore& store_;
    const ProjectCatalog& catalog_;
    const Authenticator& authenticator_;
    FaultInjector& faults_;
    RequestLog& log_;
    IdGenerator& ids_;
};

} // namespace veltrane::devserver
