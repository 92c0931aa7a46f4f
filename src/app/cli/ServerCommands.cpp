#include "app/cli/ServerCommands.h"

#include "app/AppEnvironment.h"
#include "app/Translations.h"
#include "app/cli/CliApplication.h"
#include "server/ProjectService.h"
#include "server/ServerErrors.h"

#include <QDate>
#include <QEventLoop>

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace veltrane {

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

const QStringList kCommands = {"login", "whoami", "projects", "meetings", "create-meeting"};

// A usage mistake; its text is printed as the one-line usage error.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value after `option`, removed from `arguments` together with it; absent when not given.
[[nodiscard]] std::optional<QString> takeOption(QStringList& arguments, const QString& option) {
    const qsizetype index = arguments.indexOf(option);
    if (index < 0) {
        return std::nullopt;
    }
    if (index + 1 >= arguments.size()) {
        throw UsageError(CliText::tr("%1 needs a value").arg(option).toStdString());
    }
    const QString value = arguments.at(index + 1);
    arguments.remove(index, 2);
    return value;
}

void expectPositionals(const QStringList& arguments, qsizetype count, const char* usage) {
    if (arguments.size() != count) {
        throw UsageError(std::string("usage: veltrane-cli ") + usage);
    }
}

[[nodiscard]] QDate parseDay(const QString& text, const char* option) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (!day.isValid() || text.size() != 10) {
        throw UsageError(CliText::tr("%1 must be a date as yyyy-MM-dd, not \"%2\"")
                             .arg(QString::fromLatin1(option), text)
                             .toStdString());
    }
    return day;
}

// Noon local time: the instant whose local calendar day is `day`, clear of any daylight-saving change.
[[nodiscard]] QDateTime localNoon(const QDate& day) {
    return QDateTime(day, QTime(12, 0), Qt::LocalTime);
}

[[nodiscard]] std::string readPassword() {
    std::string password;
    if (::isatty(STDIN_FILENO)) {
        std::cerr << QCoreApplication::translate("veltrane::CliText", "Password: ").toStdString()
                  << std::flush;
        termios saved{};
        const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
        if (haveTerminal) {
            termios silent = saved;
            silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            (void)::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
        }
        std::getline(std::cin, password);
        if (haveTerminal) {
            (void)::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        }
        std::cerr << "\n";
    } else {
        std::getline(std::cin, password);
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

[[nodiscard]] std::string text(const std::optional<std::string>& value) {
    return value.value_or("");
}

void printMeeting(const MeetingResponse& meeting) {
    std::cout << meeting.id << '\t' << meeting.name << '\t' << text(meeting.scheduledDate) << '\t'
              << text(meeting.endDate) << std::endl;
}

[[nodiscard]] QCoro::Task<int> runCommand(AppEnvironment& env, QString command, QStringList arguments) {
    if (command == "login") {
        const std::optional<QString> email = takeOption(arguments, "--email");
        if (!email) {
            throw UsageError("usage: veltrane-cli login --email E");
        }
        expectPositionals(arguments, 0, "login --email E");
        const std::string password = readPassword();
        co_await env.auth().login(*email, QString::fromStdString(password));
        const AuthState& state = env.auth().state();
        if (state.kind() == AuthState::Kind::authenticated && state.profile()) {
            std::cout << CliText::tr("Signed in as %1")
                             .arg(QString::fromStdString(state.profile()->email))
                             .toStdString()
                      << std::endl;
            co_return kSuccess;
        }
        std::cerr << shownMessage(state.errorMessage()).toStdString() << std::endl;
        co_return kFailure;
    }
    if (command == "whoami") {
        expectPositionals(arguments, 0, "whoami");
        const UserProfile profile = co_await env.auth().fetchCurrentUser();
        std::cout << profile.id << '\t' << profile.email << '\t' << text(profile.name) << std::endl;
        co_return kSuccess;
    }
    const ProjectService projects(env.apiClient());
    if (command == "projects") {
        expectPositionals(arguments, 0, "projects");
        // What the project picker offers: archived projects are never filed under.
        const auto offered = AssignmentModel::activeProjects(co_await projects.fetchActiveProjects());
        for (const ProjectResponse& project : offered) {
            std::cout << project.id << '\t' << project.name << '\t' << project.status << std::endl;
        }
        co_return kSuccess;
    }
    if (command == "meetings") {
        expectPositionals(arguments, 1, "meetings <project-id>");
        for (const MeetingResponse& meeting : co_await projects.fetchMeetings(arguments.at(0))) {
            printMeeting(meeting);
        }
        co_return kSuccess;
    }
    // create-meeting
    const char* usage = "create-meeting <project-id> --name N --date yyyy-MM-dd [--end-date yyyy-MM-dd]";
    const std::optional<QString> name = takeOption(arguments, "--name");
    const std::optional<QString> date = takeOption(arguments, "--date");
    const std::optional<QString> endDate = takeOption(arguments, "--end-date");
    if (!name || !date) {
        throw UsageError(std::string("usage: veltrane-cli ") + usage);
    }
    expectPositionals(arguments, 1, usage);
    const QDateTime scheduled = localNoon(parseDay(*date, "--date"));
    std::optional<QDateTime> end;
    if (endDate) {
        end = localNoon(parseDay(*endDate, "--end-date"));
    }
    printMeeting(co_await projects.createMeeting(arguments.at(0), *name, scheduled, end));
    co_return kSuccess;
}

// Runs the command to its end, turning every failure into its message and exit code.
[[nodiscard]] QCoro::Task<int> runGuarded(AppEnvironment& env, QString command, QStringList arguments) {
    try {
        co_return co_await runCommand(env, std::move(command), std::move(arguments));
    } catch (const UsageError& error) {
        std::cerr << error.what() << std::endl;
        co_return kUsage;
    } catch (const std::exception& error) {
        std::cerr << shownMessage(userDescription(error)).toStdString() << std::endl;
        co_return kFailure;
    }
}

} // namespace

bool isServerCommand(const QString& name) {
    return kCommands.contains(name);
}

int runServerCommand(const QStringList& arguments) {
    if (arguments.isEmpty() || !isServerCommand(arguments.front())) {
        std::cerr << "usage: veltrane-cli " << kCommands.join('|').toStdString() << " ..." << std::endl;
        return kUsage;
    }
    int exitCode = kFailure;
    const auto env = makeCliEnvironment(UploadQueueClaim::leave, exitCode);
    if (!env) {
        return exitCode;
    }

    bool done = false;
    QEventLoop loop;
    QCoro::Task<int> task = runGuarded(*env, arguments.front(), arguments.mid(1));
    auto finished = task.then([&](int code) {
        exitCode = code;
        done = true;
        loop.quit();
    });
    if (!done) {
        loop.exec();
    }
    return exitCode;
}

} // namespace veltrane
