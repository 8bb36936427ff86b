// The Qt application of a test program: it lives from before the first test to
// after the last, and is gone before the exit handlers tear down what Qt's test
// events created (a function-static application crashes there).
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace quorvik {

template <typename App = QApplication> class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<App>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[6] = "tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<App> app_;
};

} // namespace quorvik
