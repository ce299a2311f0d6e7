#include "UI/Qt/Images.h"

#include "Utils/Log.h"

#include <QFile>
#include <QString>

#include <mutex>
#include <set>
#include <string>

namespace {

QString resourcePath(std::string_view name)
{
    const QString base = ":/images/" + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (const char* extension : {".svg", ".png"}) {
        if (QFile::exists(base + extension))
            return base + extension;
    }
    static std::mutex loggedLock;
    static std::set<std::string, std::less<>> logged;
    const std::lock_guard lock(loggedLock);
    if (logged.emplace(name).second)
        PLOG("no picture named %s", std::string(name).c_str());
    return {};
}

} // namespace

QIcon Images::icon(std::string_view name)
{
    const QString path = resourcePath(name);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap Images::pixmap(std::string_view name, QSize size)
{
    return icon(name).pixmap(size);
}
