#include "WebServer/HttpServerHandler.h"

HttpServerHandler::HttpServerHandler(MatchBlock matchBlock, AsyncProcessBlock asyncProcessBlock)
    : matchBlock_(std::move(matchBlock)), asyncProcessBlock_(std::move(asyncProcessBlock))
{
}
