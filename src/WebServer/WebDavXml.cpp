#include "WebServer/WebDavXml.h"

#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerLog.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using Document = std::unique_ptr<xmlDoc, DocumentDeleter>;

Document parse(std::span<const uint8_t> body)
{
    static std::once_flag initialized;
    std::call_once(initialized, [] { xmlInitParser(); });
    if (body.empty() || body.size() > INT_MAX)
        return nullptr;
    constexpr int kOptions = XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT
        | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;
    return Document(xmlReadMemory(reinterpret_cast<const char*>(body.data()), static_cast<int>(body.size()), nullptr, nullptr, kOptions));
}

bool isNamed(const xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The first element named `name` among the children of `parent` (the document's top level for a document).
const xmlNode* child(const xmlNode* parent, const char* name)
{
    for (const xmlNode* node = parent ? parent->children : nullptr; node; node = node->next) {
        if (isNamed(node, name))
            return node;
    }
    return nullptr;
}

const xmlNode* firstElement(const xmlNode* parent)
{
    for (const xmlNode* node = parent ? parent->children : nullptr; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE)
            return node;
    }
    return nullptr;
}

const xmlNode* topLevel(const Document& document, const char* name)
{
    return document ? child(reinterpret_cast<const xmlNode*>(document.get()), name) : nullptr;
}

}  // namespace

std::optional<WebDavXml::Properties> WebDavXml::parsePropfind(std::span<const uint8_t> body)
{
    const Document document = parse(body);
    const xmlNode* propfind = topLevel(document, "propfind");
    if (!propfind)
        return std::nullopt;
    if (child(propfind, "allprop"))
        return Properties::all();
    const xmlNode* prop = child(propfind, "prop");
    if (!prop)
        return std::nullopt;
    Properties properties;
    for (const xmlNode* node = prop->children; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (isNamed(node, "resourcetype"))
            properties.resourceType = true;
        else if (isNamed(node, "creationdate"))
            properties.creationDate = true;
        else if (isNamed(node, "getlastmodified"))
            properties.lastModified = true;
        else if (isNamed(node, "getcontentlength"))
            properties.contentLength = true;
        else
            HttpServerLog::log(HttpServerLog::Warning, "Unknown DAV property requested \"%s\"", reinterpret_cast<const char*>(node->name));
    }
    return properties;
}

std::optional<WebDavXml::LockInfo> WebDavXml::parseLockInfo(std::span<const uint8_t> body)
{
    const Document document = parse(body);
    const xmlNode* lockinfo = topLevel(document, "lockinfo");
    const xmlNode* scope = firstElement(child(lockinfo, "lockscope"));
    const xmlNode* type = firstElement(child(lockinfo, "locktype"));
    if (!scope || !type)
        return std::nullopt;
    LockInfo info{reinterpret_cast<const char*>(scope->name), reinterpret_cast<const char*>(type->name), std::nullopt};
    const xmlNode* href = child(child(lockinfo, "owner"), "href");
    if (href && href->children && href->children->content)
        info.owner = reinterpret_cast<const char*>(href->children->content);
    return info;
}

std::string WebDavXml::escapeHref(std::string_view path)
{
    return HttpServerFunctions::percentEscape(path, "-._~/");
}
