#include "support/StdoutCapture.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>

namespace veltrane::test {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
}

StdoutCapture::~StdoutCapture() {
    (void)text();
}

const std::string& StdoutCapture::text() {
    if (capturing_) {
        std::fflush(stdout);
        text_ = ::testing::internal::GetCapturedStdout();
        capturing_ = false;
    }
    return text_;
}

std::vector<std::string> StdoutCapture::lines() {
    std::vector<std::string> result;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::size_t StdoutCapture::count(const std::string& needle) {
    std::size_t found = 0;
    for (std::size_t pos = text().find(needle); pos != std::string::npos; pos = text_.find(needle, pos + 1)) {
        ++found;
    }
    return found;
}

} // namespace veltrane::test
