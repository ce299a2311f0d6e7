// Contracts of the server that debug builds assert.
#include "ServerTestSupport.h"
#include "Utils/ContractDeathTest.h"

using namespace ServerTestSupport;

namespace {

using ServerContractsDeathTest = ServerFixture;

TEST_F(ServerContractsDeathTest, HandlersDoNotChangeWhileTheServerRuns)
{
    SKIP_WITHOUT_ASSERTIONS();
    start();
    EXPECT_DEATH(server->addGETHandlerForPath("/late", bytes("late"), "text/plain", 0), "before the server starts");
    EXPECT_DEATH(server->removeAllHandlers(), "while the server is stopped");
}

}  // namespace
