#pragma once
// A fresh demo database for each test, and the rhserver process that serves it.

#include "ServerHarness.h"

#include <gtest/gtest.h>

namespace testing_rh {

class DemoServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString out;
        ASSERT_TRUE(server.initDemo(&out)) << out.toStdString();
    }
    // Serves the demo database; the server's log says why when it cannot.
    void serve(const QStringList& extra = {}) {
        ASSERT_TRUE(server.start(extra)) << server.log().toStdString();
    }

    ServerProcess server;
};

} // namespace testing_rh
