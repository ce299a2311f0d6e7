#pragma once

#include <QIcon>
#include <QPixmap>

#include <string_view>

// The application's pictures by the names the windows use ("Loading", "SoundON"): drawings of ours
// shipped as resources, an SVG where one exists, else a PNG. A missing name logs once and gives an
// empty picture, so a slip shows as a blank button, never a crash.
class Images {
public:
    static QIcon icon(std::string_view name);
    static QPixmap pixmap(std::string_view name, QSize size);
};
