#include "settings/Options.h"
#include "settings/Timers.h"
#include "tests/support/StateTimer.h"
#include "ui/ExceptionBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace quorvik {
namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new quorvik::QtAppEnvironment<QApplication>);

class TimesTest : public ::testing::Test {
protected:
    TimesTest() {
        SetBoxPresenter([this](const QString& text, bool exclamation) {
            boxes.push_back(text);
            EXPECT_FALSE(exclamation);
        });
        ui.TimerWait = &wait;
        ui.TimerOptions = &options;
        TimeLoad = 50;
    }
    ~TimesTest() override {
        delete dialog;
        SetBoxPresenter({});
        TimeLoad = 50;
    }
    bool Closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull() && Times == nullptr;
    }

    StateTimer wait{1000};
    StateTimer options{5500};
    LinkUi ui;
    QPointer<TTimes> dialog;
    std::vector<QString> boxes;
};

TEST_F(TimesTest, FillsFromPresentValues) {
    wait.SetInterval(500); // as Send leaves it
    options.SetInterval(4294967295u);
    TimeLoad = -7;
    dialog = ShowTimes(ui, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Настройка задержек программы:"));
    EXPECT_EQ(dialog->size(), QSize(339, 179));
    EXPECT_EQ(dialog->Edit0->text(), "500");
    EXPECT_EQ(dialog->Edit1->text(), "-1");
    EXPECT_EQ(dialog->Edit2->text(), "-7");
}

// OK sets each delay in turn up to the first one that is not a positive
// whole number, and closes all the same.
TEST_F(TimesTest, OkSetsDelaysUpToFirstFaultyAndCloses) {
    struct Case {
        const char* name;
        const char* texts[3];
        uint32_t wait, options;
        int32_t timeLoad;
        bool box;
    };
    const Case cases[] = {
        {"unchanged", {"1000", "5500", "50"}, 1000, 5500, 50, false},
        {"new values", {" 700", "0x1F4", "$20"}, 700, 500, 32, false},
        {"empty second", {"700", "", "80"}, 700, 5500, 50, true},
        {"letters in third", {"700", "6000", "abc"}, 700, 6000, 50, true},
        {"zero first", {"0", "6000", "80"}, 1000, 5500, 50, true},
        {"negative second", {"700", "-5", "80"}, 700, 5500, 50, true},
        {"out of range third", {"700", "6000", "2147483648"}, 700, 6000, 50, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wait.SetInterval(1000);
        options.SetInterval(5500);
        TimeLoad = 50;
        boxes.clear();
        dialog = ShowTimes(ui, nullptr);
        ASSERT_EQ(Times, dialog.data());
        dialog->Edit0->setText(c.texts[0]);
        dialog->Edit1->setText(c.texts[1]);
        dialog->Edit2->setText(c.texts[2]);
        dialog->Button1->click();

        EXPECT_EQ(wait.Interval(), c.wait);
        EXPECT_EQ(options.Interval(), c.options);
        EXPECT_EQ(TimeLoad, c.timeLoad);
        EXPECT_EQ(boxes, c.box ? std::vector<QString>{QStringLiteral("Правильно введите цифры")}
                               : std::vector<QString>{});
        EXPECT_TRUE(Closed());
    }
}

TEST_F(TimesTest, CancelChangesNothingAndOpenDialogIsReused) {
    dialog = ShowTimes(ui, nullptr);
    dialog->Edit0->setText("123");
    EXPECT_EQ(ShowTimes(ui, nullptr), dialog.data());
    EXPECT_EQ(dialog->Edit0->text(), "123");
    const int sets = wait.sets + options.sets;
    dialog->Button2->click();

    EXPECT_TRUE(Closed());
    EXPECT_EQ(wait.sets + options.sets, sets);
    EXPECT_EQ(wait.Interval(), 1000u);
    EXPECT_EQ(TimeLoad, 50);
    EXPECT_TRUE(boxes.empty());
    dialog = ShowTimes(ui, nullptr);
    EXPECT_EQ(dialog->Edit0->text(), "1000");
}

} // namespace
} // namespace quorvik
