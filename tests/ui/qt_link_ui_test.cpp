#include "ui/QtLinkUi.h"

#include "link/Connection.h"
#include "ui/Application.h"
#include "ui/ExceptionBox.h"

#include <QTest>

#include <gtest/gtest.h>

#include <thread>

using namespace quorvik;

namespace {

Application& App() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("qt_link_ui_test"), nullptr};
    static Application app(argc, argv);
    return app;
}

constexpr uint32_t Long = 10000; // ms: never fires during a test
constexpr int Slack = 300;       // ms a restart must be told from carrying on

class QtLinkUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        SetBoxPresenter([this](const QString& text, bool exclamation) {
            boxes << text;
            EXPECT_TRUE(exclamation);
        });
    }
    void TearDown() override { SetBoxPresenter(nullptr); }

    QStringList boxes;
};

// Each step acts on the timer; then the timer's state is checked.
struct Step {
    const char* what;
    void (*act)(QtLinkTimer&);
    bool enabled;
    bool running;
    // Whether a running timer must have started afresh (remaining near its interval).
    bool restarted;
};

TEST_F(QtLinkUiTest, TimerKeepsThePlatformSemantics) {
    const Step steps[] = {
        {"a new timer is disarmed", [](QtLinkTimer&) {}, false, false, false},
        {"enable starts it", [](QtLinkTimer& t) { t.SetEnabled(true); }, true, true, true},
        {"enable again does not restart", [](QtLinkTimer& t) { t.SetEnabled(true); }, true, true,
         false},
        {"the same interval changes nothing", [](QtLinkTimer& t) { t.SetInterval(Long); }, true,
         true, false},
        {"a new interval restarts it", [](QtLinkTimer& t) { t.SetInterval(Long + 1000); }, true,
         true, true},
        {"interval 0 stays armed but does not run", [](QtLinkTimer& t) { t.SetInterval(0); }, true,
         false, false},
        {"enable at interval 0 does not run", [](QtLinkTimer& t) { t.SetEnabled(true); }, true,
         false, false},
        {"a positive interval runs it again", [](QtLinkTimer& t) { t.SetInterval(Long); }, true,
         true, true},
        {"disable stops it", [](QtLinkTimer& t) { t.SetEnabled(false); }, false, false, false},
        {"a new interval while disarmed does not start it",
         [](QtLinkTimer& t) { t.SetInterval(Long + 1000); }, false, false, false},
        {"enable after a pause starts afresh", [](QtLinkTimer& t) { t.SetEnabled(true); }, true,
         true, true},
    };
    int fired = 0;
    QtLinkTimer timer(Long, [&] { ++fired; });
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        // Let time pass so that carrying on and restarting differ.
        QTest::qSleep(Slack + 100);
        step.act(timer);
        EXPECT_EQ(timer.Enabled(), step.enabled);
        EXPECT_EQ(timer.Running(), step.running);
        if (step.running) {
            const int remaining = timer.RemainingMs();
            if (step.restarted)
                EXPECT_GT(remaining, static_cast<int>(timer.Interval()) - Slack);
            else
                EXPECT_LE(remaining, static_cast<int>(timer.Interval()) - Slack);
        }
    }
    EXPECT_EQ(fired, 0);
}

TEST_F(QtLinkUiTest, HandlerRunsOnEveryTimeoutAndItsErrorsReachTheBox) {
    int fired = 0;
    QtLinkTimer timer(10, [&] {
        if (++fired == 1)
            throw LinkError("Ошибка установики таймаутов порта");
    });
    timer.SetEnabled(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, 5000));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Ошибка установики таймаутов порта")});
}

TEST_F(QtLinkUiTest, PostRunsTasksFromAnotherThreadOnTheUiThreadInOrder) {
    QObject context;
    const std::thread::id uiThread = std::this_thread::get_id();
    std::vector<int> order;
    bool offThread = false;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            PostTo(&context, [&, i] {
                offThread = offThread || std::this_thread::get_id() != uiThread;
                order.push_back(i);
            });
        PostTo(&context, [] { throw LinkError("Ошибка"); });
    });
    poster.join();
    EXPECT_TRUE(order.empty()) << "a posted task ran before the loop";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.isEmpty(); }, 5000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(offThread);
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Ошибка")});
}

TEST_F(QtLinkUiTest, PostToAContextThatIsGoneIsDropped) {
    bool ran = false;
    auto* context = new QObject;
    PostTo(context, [&] { ran = true; });
    delete context;
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

} // namespace
