#pragma once

#include <string_view>

class QLoggingCategory;

namespace veltrane {

// Diagnostics go through Qt's logging, one category per folder of the program, so that
// QT_LOGGING_RULES can silence or enable them by folder and level ("veltrane.capture.info=false").
// The categories are defined with Q_LOGGING_CATEGORY in Log.cpp; they are declared here as
// Q_DECLARE_LOGGING_CATEGORY would, by hand, so that this header pulls in no Qt header (the
// libsecret sources must include none: GLib clashes with Qt's `signals` keyword).
const QLoggingCategory& lcApp();        // veltrane.app: src/app (window and command line)
const QLoggingCategory& lcAssignment(); // veltrane.assignment: src/assignment
const QLoggingCategory& lcCapture();    // veltrane.capture: src/platform/capture
const QLoggingCategory& lcDesktop();    // veltrane.desktop: src/platform/desktop
const QLoggingCategory& lcKeychain();   // veltrane.keychain: src/platform/keychain
const QLoggingCategory& lcRecording();  // veltrane.recording: src/recording
const QLoggingCategory& lcServer();     // veltrane.server: src/server
const QLoggingCategory& lcSession();    // veltrane.session: src/platform/session
const QLoggingCategory& lcStorage();    // veltrane.storage: src/storage
const QLoggingCategory& lcUpload();     // veltrane.upload: src/upload

// One call writes one entry (which may itself hold several lines). Safe on any thread except
// the real-time audio callbacks, which never log. Every level is on by default.
void logDebug(const QLoggingCategory& category, std::string_view text);
void logInfo(const QLoggingCategory& category, std::string_view text);
void logWarning(const QLoggingCategory& category, std::string_view text);
void logCritical(const QLoggingCategory& category, std::string_view text);

// Makes the program's entries plain lines, no levels, no categories, no time stamps: debug and
// info entries on standard output (or standard error, see below), warnings and errors on
// standard error. Each entry is written in one call, atomically with respect to every other
// entry, so entries from different threads never interleave. Messages of Qt's own categories
// keep Qt's format. Called once, at the start of main().
void installLogHandler();

// Sends the debug and info entries to standard error too, for commands whose standard output
// is data that scripts read.
void sendLogToStandardError();

// Switches standard output to line buffering so every entry reaches a pipe or file
// as soon as it is written.
void enableLineBufferedStdout();

} // namespace veltrane
