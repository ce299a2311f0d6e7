#pragma once

#include "Platform/MainQueue.h"
#include "Platform/TestMainLoop.h"

#include <gtest/gtest.h>

#include <memory>

// Each test gets a fresh TestMainLoop serving the main queue, driven by the test's own thread.
class MainLoopFixture : public ::testing::Test {
protected:
    MainLoopFixture() { MainQueue::install(loop); }
    ~MainLoopFixture() override { MainQueue::install(nullptr); }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
};
