#include "Platform/MainLoopFixture.h"
#include "Socket/TCPManager.h"
#include "Rozi/RoziRelay.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/MainWindowController.h"
#include "Session/TvControlController.h"
#include "Session/TvScreenController.h"
#include "Session/RecordingView.h"
#include "Session/SendersController.h"

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

// Each concern hears the link's events it handles; their calls reach it on the main thread, and one
// still queued when the controller goes away does nothing.
TEST_F(MainWindowControllerTest, ConcernsHearTheLinkOnTheMainQueueAndDieWithTheController)
{
    auto controller = std::make_unique<MainWindowController>(view, services());
    controller->windowDidLoad();
    EXPECT_EQ(link.delegate<TvConnectionDelegate>(), &controller->connection());
    EXPECT_EQ(link.delegate<TvCastDelegate>(), &controller->casting());
    EXPECT_EQ(link.delegate<TvTouchDelegate>(), &controller->tvControl());
    EXPECT_EQ(link.delegate<TvKeyDelegate>(), &controller->tvControl());
    EXPECT_EQ(link.delegate<TvScreenDelegate>(), &controller->viewing());
    EXPECT_EQ(link.activeVersionsDelegate(), &controller->senders());
    EXPECT_EQ(link.roziDelegate(), &controller->relay());

    controller->senders().activeVersionHandler(3);
    EXPECT_EQ(controller->state().activeVersion, 0) << "touched off the main queue";
    loop->runUntilIdle();
    EXPECT_EQ(controller->state().activeVersion, 3);

    controller->senders().activeVersionHandler(4);
    controller.reset();
    EXPECT_EQ(link.delegate<TvConnectionDelegate>(), nullptr);
    EXPECT_EQ(link.delegate<TvScreenDelegate>(), nullptr);
    EXPECT_EQ(link.roziDelegate(), nullptr);
    loop->runUntilIdle();
}

} // namespace
