#pragma once

#include "ServerTestSupport.h"

#include "WebServer/WebDavServer.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

namespace WebDavTestSupport {

using ServerTestSupport::Reply;

// A WebDavServer whose permission hooks can be closed and which remembers the upload's temporary file.
class HookedServer : public WebDavServer {
public:
    using WebDavServer::WebDavServer;

    bool permits = true;  // set before start
    std::string lastTemporaryFile() const
    {
        std::lock_guard lock(mutex_);
        return lastTemporaryFile_;
    }

protected:
    bool shouldUploadFileAtPath(const std::string&, const std::string& temporaryFile) override
    {
        {
            std::lock_guard lock(mutex_);
            lastTemporaryFile_ = temporaryFile;
        }
        return permit();
    }
    bool shouldMoveItemFromPath(const std::string&, const std::string&) override { return permit(); }
    bool shouldCopyItemFromPath(const std::string&, const std::string&) override { return permit(); }
    bool shouldDeleteItemAtPath(const std::string&) override { return permit(); }
    bool shouldCreateDirectoryAtPath(const std::string&) override { return permit(); }

public:
    // Runs in every hook, after the paths were checked and before anything changes: where a concurrent
    // client's change would land.
    std::function<void()> beforeChange;  // set before start

private:
    bool permit()
    {
        if (beforeChange)
            beforeChange();
        return permits;
    }

private:
    mutable std::mutex mutex_;  // the hooks run on the server's threads
    std::string lastTemporaryFile_;
};

// A WebDavServer over the fresh folder base/root (base also holds things that must stay out of reach),
// started on a kernel-chosen loopback port, with a TestMainLoop serving the main queue.
class WebDavFixture : public ::testing::Test {
protected:
    WebDavFixture()
    {
        MainQueue::install(loop);
        char pattern[] = "/tmp/webdav-test-XXXXXX";
        base = ::mkdtemp(pattern);
        root = base + "/root";
        std::filesystem::create_directory(root);
        server = std::make_shared<HookedServer>(root);
    }
    ~WebDavFixture() override
    {
        server->stop();
        // The loop stays installed: connections still ending post their last calls to it, and may
        // remove their scratch files while the folder goes, so a vanished entry is tried again.
        std::error_code error;
        for (int attempt = 0; attempt < 5 && std::filesystem::exists(base); ++attempt)
            std::filesystem::remove_all(base, error);
    }

    void start(HttpServer::Options options = {})
    {
        options.bindToLocalhost = true;
        ASSERT_TRUE(server->start(options));
    }

    Reply request(const std::string& method, const std::string& path, const std::string& fields = {}, const std::string& body = {}) const
    {
        std::string text = method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + fields;
        if (!body.empty())
            text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return ServerTestSupport::exchange(server->port(), text + "\r\n" + body);
    }
    Reply put(const std::string& path, const std::string& body, const std::string& fields = {}) const
    {
        return request("PUT", path, fields, body);
    }
    // COPY or MOVE to a destination path on this host.
    Reply transfer(const std::string& method, const std::string& from, const std::string& to, const std::string& fields = {}) const
    {
        return request(method, from, "Destination: http://localhost" + to + "\r\n" + fields);
    }

    // Files under root (a path beginning with "/").
    void write(const std::string& path, const std::string& content) const { std::ofstream(root + path) << content; }
    std::string read(const std::string& path) const
    {
        std::ostringstream text;
        text << std::ifstream(root + path).rdbuf();
        return text.str();
    }
    bool exists(const std::string& path) const { return std::filesystem::exists(std::filesystem::symlink_status(root + path)); }
    void makeFolder(const std::string& path) const { std::filesystem::create_directories(root + path); }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
    std::string base;
    std::string root;
    std::shared_ptr<HookedServer> server;
};

// The texts an XPath expression selects in a WebDAV answer (namespace "DAV:" bound to D).
inline std::vector<std::string> xpath(const std::string& xml, const std::string& expression)
{
    std::vector<std::string> texts;
    xmlDoc* document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!document)
        return {"<unparsable>"};
    xmlXPathContext* context = xmlXPathNewContext(document);
    xmlXPathRegisterNs(context, BAD_CAST "D", BAD_CAST "DAV:");
    xmlXPathObject* result = xmlXPathEvalExpression(BAD_CAST expression.c_str(), context);
    if (result && result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlChar* content = xmlNodeGetContent(result->nodesetval->nodeTab[i]);
            texts.emplace_back(content ? reinterpret_cast<const char*>(content) : "");
            xmlFree(content);
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    xmlFreeDoc(document);
    return texts;
}

// The message of an error page.
inline std::string message(const Reply& reply)
{
    const size_t start = reply.body.find("<h1>");
    const size_t end = reply.body.find("</h1>");
    if (start == std::string::npos || end == std::string::npos)
        return {};
    std::string text = reply.body.substr(start + 4, end - start - 4);
    text = text.substr(text.find(": ") + 2);
    for (const auto& [entity, character] : {std::pair{"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        const std::string_view name = entity;
        for (size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), character);
    }
    return text;
}

}  // namespace WebDavTestSupport
