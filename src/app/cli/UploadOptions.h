#pragma once

#include <QString>
#include <QStringList>

#include <expected>
#include <filesystem>
#include <optional>

namespace veltrane {

// The options of `veltrane-cli upload`, parsed and checked.
struct UploadOptions {
    // Wait until every job is completed or failed; the exit code tells whether all completed.
    bool wait = false;
    // The folder holding the chunk files; absent: the remembered recording folder.
    std::optional<std::filesystem::path> directory;

    // `arguments` excludes the program and command names. The error is a one-line message.
    [[nodiscard]] static std::expected<UploadOptions, QString> parse(const QStringList& arguments);

    [[nodiscard]] static QString usage();
};

} // namespace veltrane
