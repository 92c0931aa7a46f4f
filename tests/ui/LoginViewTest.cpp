#include "ui/LoginView.h"

#include "support/CannedHttpServer.h"
#include "support/EventLoopWait.h"
#include "support/ServerTestRig.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace veltrane {
namespace {

using test::RecordedRequest;
using test::waitUntil;

TEST(LoginViewTest, CanSubmitNeedsANonBlankEmailAPasswordAndNoAttemptRunning) {
    const struct {
        const char* email;
        const char* password;
        bool authenticating;
        bool expected;
    } cases[] = {
        {"a@b.c", "pw", false, true}, {" a@b.c\n", "pw", false, true}, {"a@b.c", " ", false, true},
        {"", "pw", false, false},     {" \t\n", "pw", false, false},   {"a@b.c", "", false, false},
        {"a@b.c", "pw", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoginView::canSubmit(c.email, c.password, c.authenticating), c.expected)
            << '"' << c.email << "\" \"" << c.password << '"' << c.authenticating;
    }
}

// An identity server that holds the login submission until the test lets it answer, then
// rejects the credentials.
class LoginViewFormTest : public ::testing::Test {
protected:
    std::atomic<bool> release{false};
    test::CannedHttpServer server{[this](const RecordedRequest& request, httplib::Response& response) {
        if (request.path == "/self-service/login/api") {
            response.set_content(R"({"id":"flow-1","ui":{"nodes":[]}})", "application/json");
            return;
        }
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        response.status = 400;
        response.set_content(R"({"ui":{"messages":[]}})", "application/json");
    }};
    test::ServerTestRig rig{server.baseURL()};
    LoginView view{rig.auth, QStringLiteral("127.0.0.1")};

    void TearDown() override { release = true; }
    template <typename T> T* child(const char* name) { return view.findChild<T*>(QString::fromLatin1(name)); }
};

// Return in the email field only moves on (the window end-to-end test signs in with the keyboard).
TEST_F(LoginViewFormTest, TheFormIsLockedWhileSigningInAndAFailureKeepsTheEntries) {
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* email = child<QLineEdit>("email");
    auto* password = child<QLineEdit>("password");
    auto* button = child<QPushButton>("signIn");
    auto* error = child<QLabel>("error");
    EXPECT_FALSE(button->isEnabled());
    QTest::keyClicks(email, " demo@veltrane.test");
    QTest::keyClicks(password, "secret");
    email->setFocus();
    QTest::keyClick(email, Qt::Key_Return);
    EXPECT_TRUE(password->hasFocus());
    EXPECT_EQ(server.requests().size(), 0u);

    QTest::keyClick(password, Qt::Key_Return);
    ASSERT_EQ(rig.auth.state().kind(), AuthState::Kind::authenticating);
    EXPECT_FALSE(email->isEnabled());
    EXPECT_FALSE(password->isEnabled());
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->text().isEmpty());
    EXPECT_TRUE(child<QProgressBar>("busy")->isVisible());

    release = true;
    ASSERT_TRUE(waitUntil([&] { return rig.auth.state().kind() == AuthState::Kind::error; }));
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text().toStdString(), rig.auth.state().errorMessage());
    EXPECT_EQ(email->text(), " demo@veltrane.test");
    EXPECT_EQ(password->text(), "secret");
    EXPECT_TRUE(email->isEnabled() && password->isEnabled() && button->isEnabled());
    EXPECT_EQ(button->text(), "Sign in");
    EXPECT_FALSE(child<QProgressBar>("busy")->isVisible());
}

} // namespace
} // namespace veltrane
