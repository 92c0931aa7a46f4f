#pragma once

#include "devserver/IncomingFile.h"
#include "devserver/UploadStore.h"

#include <httplib.h>

#include <memory>
#include <optional>
#include <string>

namespace veltrane::devserver {

// Collects the parts of an upload as the multipart parser delivers them: the text fields
// "project_id" and "meeting_id", and the "file" part, whose bytes go straight to an incoming file.
// Other parts are read and ignored. The first problem found is kept; reading always goes on to
// the end of the body, so that the connection stays usable for the answer.
class UploadForm {
public:
    explicit UploadForm(const UploadStore& store);

    // Feed these two to the request's content reader.
    [[nodiscard]] bool onPartHeader(const httplib::MultipartFormData& part);
    [[nodiscard]] bool onPartContent(const char* data, std::size_t size);

    // What is wrong with the form, as a text for a 400 answer; absent when it is complete.
    [[nodiscard]] std::optional<std::string> problem() const;
    [[nodiscard]] const std::string& projectId() const { return projectId_.value(); }
    // An empty "meeting_id" counts as none.
    [[nodiscard]] std::optional<std::string> meetingId() const;
    [[nodiscard]] const std::string& fileName() const { return fileName_; }
    [[nodiscard]] IncomingFile& file() { return *file_; }

private:
    enum class Part { projectId, meetingId, file, ignored };

    void noteProblem(std::string text);

    const UploadStore& store_;
    Part current_ = Part::ignored;
    std::optional<std::string> projectId_;
    std::optional<std::string> meetingId_;
    std::string fileName_;
    std::unique_ptr<IncomingFile> file_;
    std::optional<std::string> problem_;
};

} // namespace veltrane::devserver
