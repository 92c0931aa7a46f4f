#include "devserver/UploadForm.h"

namespace veltrane::devserver {

namespace {

constexpr std::size_t kMaxFieldBytes = 1024;

} // namespace

UploadForm::UploadForm(const UploadStore& store) : store_(store) {}

void UploadForm::noteProblem(std::string text) {
    if (!problem_) {
        problem_ = std::move(text);
    }
}

bool UploadForm::onPartHeader(const httplib::MultipartFormData& part) {
    current_ = Part::ignored;
    if (part.name == "project_id" && !projectId_) {
        projectId_.emplace();
        current_ = Part::projectId;
    } else if (part.name == "meeting_id" && !meetingId_) {
        meetingId_.emplace();
        current_ = Part::meetingId;
    } else if (part.name == "file") {
        if (file_) {
            noteProblem("More than one file part");
        } else if (!UploadStore::isSafeFileName(part.filename)) {
            noteProblem("Invalid file name: \"" + part.filename + "\"");
        } else {
            fileName_ = part.filename;
            file_ = store_.receive();
            current_ = Part::file;
        }
    }
    return true;
}

bool UploadForm::onPartContent(const char* data, std::size_t size) {
    auto appendField = [&](std::optional<std::string>& field) {
        if (field->size() + size > kMaxFieldBytes) {
            noteProblem("A form field is too long");
            return;
        }
        field->append(data, size);
    };
    switch (current_) {
    case Part::projectId:
        appendField(projectId_);
        break;
    case Part::meetingId:
        appendField(meetingId_);
        break;
    case Part::file:
        file_->write(data, size);
        break;
    case Part::ignored:
        break;
    }
    return true;
}

std::optional<std::string> UploadForm::problem() const {
    if (problem_) {
        return problem_;
    }
    if (!projectId_ || projectId_->empty()) {
        return "Missing form field: project_id";
    }
    if (!file_) {
        return "Missing file part: file";
    }
    return std::nullopt;
}

std::optional<std::string> UploadForm::meetingId() const {
    if (!meetingId_ || meetingId_->empty()) {
        return std::nullopt;
    }
    return meetingId_;
}

} // namespace veltrane::devserver
