#include "upload/UploadJob.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

UploadJob jobWithNames(std::optional<std::string> project, std::optional<std::string> meeting) {
    UploadJob job;
    job.projectName = std::move(project);
    job.meetingName = std::move(meeting);
    return job;
}

TEST(UploadJobContextLabel, JoinsPresentNamesWithSeparator) {
    EXPECT_EQ(jobWithNames("Alpha", "Kickoff").contextLabel(), "Alpha \xE2\x80\xBA Kickoff");
    EXPECT_EQ(jobWithNames(std::nullopt, "Kickoff").contextLabel(), "Kickoff");
    EXPECT_EQ(jobWithNames("Alpha", std::nullopt).contextLabel(), "Alpha");
    EXPECT_EQ(jobWithNames(std::nullopt, std::nullopt).contextLabel(), "");
}

TEST(UploadJobContextLabel, PresentEmptyNameTakesPart) {
    EXPECT_EQ(jobWithNames("", "Kickoff").contextLabel(), " \xE2\x80\xBA Kickoff");
}

TEST(UploadJobMultipartFields, MeetingPairOnlyWhenPresent) {
    UploadJob job;
    job.projectId = "prj-alpha";
    using Fields = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(job.multipartFields(), (Fields{{"project_id", "prj-alpha"}}));
    job.meetingId = "";
    EXPECT_EQ(job.multipartFields(), (Fields{{"project_id", "prj-alpha"}, {"meeting_id", ""}}));
    job.meetingId = "mtg-1";
    EXPECT_EQ(job.multipartFields(), (Fields{{"project_id", "prj-alpha"}, {"meeting_id", "mtg-1"}}));
}

TEST(UploadJobMakeNew, HasTheValuesOfANewJob) {
    const auto job = UploadJob::makeNew("a.wav", "p", "P", "m", "M", 300.5, ReferenceDate{1000.25});
    EXPECT_EQ(job.id.size(), 36u);
    EXPECT_EQ(job.filename, "a.wav");
    EXPECT_EQ(job.duration, 300.5);
    EXPECT_EQ(job.createdAt, ReferenceDate{1000.25});
    EXPECT_EQ(job.state, UploadState::pending);
    EXPECT_EQ(job.progress, 0.0);
    EXPECT_EQ(job.attempts, 0);
    EXPECT_FALSE(job.lastError || job.nextEarliestAttempt || job.taskIdentifier);
    EXPECT_NE(UploadJob::makeNew("a", "p", {}, {}, {}, {}, {}).id, job.id);
}

TEST(UploadStateRawValue, RoundTripsTheFourValuesOnly) {
    for (const auto state :
         {UploadState::pending, UploadState::uploading, UploadState::completed, UploadState::failed}) {
        EXPECT_EQ(uploadStateFromRawValue(rawValue(state)), state);
    }
    EXPECT_EQ(rawValue(UploadState::uploading), "uploading");
    EXPECT_FALSE(uploadStateFromRawValue("Pending"));
    EXPECT_FALSE(uploadStateFromRawValue("paused"));
}

TEST(ReferenceDateTest, CountsFrom2001) {
    const auto at2001 = std::chrono::system_clock::time_point(std::chrono::seconds(978307200));
    EXPECT_EQ(ReferenceDate::fromSystemTime(at2001).secondsSinceReferenceDate, 0.0);
    EXPECT_EQ(
        ReferenceDate::fromSystemTime(at2001 + std::chrono::milliseconds(1500)).secondsSinceReferenceDate,
        1.5);
}

} // namespace
} // namespace veltrane
