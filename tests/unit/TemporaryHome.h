// HOME and XDG_CONFIG_HOME in a temporary directory for the whole test program, so that nothing of the
// user's own configuration is touched. Including this header sets them up.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <string>

inline QTemporaryDir* g_home = nullptr;

// Set before any settings object exists: QSettings reads XDG_CONFIG_HOME once.
class TemporaryHome : public ::testing::Environment {
public:
    void SetUp() override {
        g_home = new QTemporaryDir();
        ASSERT_TRUE(g_home->isValid());
        std::string home = g_home->path().toStdString();
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/xdg-config").c_str(), 1);
    }
    void TearDown() override {
        delete g_home;
        g_home = nullptr;
    }
};

inline ::testing::Environment* const g_temporaryHome = ::testing::AddGlobalTestEnvironment(new TemporaryHome);
