#pragma once

#include "Platform/MainLoopFixture.h"
#include "Platform/X11TestServer.h"

#include <gtest/gtest.h>

// One private Xvfb for the suite, on top of the fixture Base (which has the main loop); SetUp skips the
// test where Xvfb is not installed and fails it where the server did not start, before Base's SetUp.
template <class Base>
class WithPrivateXvfb : public Base {
protected:
    using Base::Base;

    static void SetUpTestSuite()
    {
        server = new X11TestServer;
        if (!X11TestServer::program().empty())
            server->start();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        if (X11TestServer::program().empty())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_FALSE(server->name().empty()) << "Xvfb did not start";
        Base::SetUp();
    }

    static inline X11TestServer* server = nullptr;
};

using PrivateXvfbFixture = WithPrivateXvfb<MainLoopFixture>;
