#include "Platform/MainLoopFixture.h"
#include "Socket/TCPManager.h"
#include "Session/MainWindowController.h"
#include "Session/RecordingView.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class MainWindowControllerTest : public MainLoopFixture {
protected:
    SessionServices services()
    {
        SessionServices s;
        s.link = &link;
        s.discovery.reset();
        return s;
    }

    TCPManager link;
    RecordingView view;
};

// The link's calls reach the concerns on the main thread, and one still queued when the controller goes
// away does nothing.
TEST_F(MainWindowControllerTest, LinkCallsRunOnTheMainQueueAndDieWithTheController)
{
    auto controller = std::make_unique<MainWindowController>(view, services());
    controller->windowDidLoad();
    EXPECT_EQ(link.connectDelegate(), controller.get());

    controller->activeVersionHandler(3);
    EXPECT_EQ(controller->state().activeVersion, 0) << "touched off the main queue";

    controller.reset();
    EXPECT_EQ(link.connectDelegate(), nullptr);
    loop->runUntilIdle();
}

} // namespace
