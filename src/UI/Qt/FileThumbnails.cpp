#include "UI/Qt/FileThumbnails.h"

#include "UI/Qt/Images.h"

#include <QImageReader>

#include <algorithm>
#include <set>

QPixmap FileThumbnails::thumbnail(const FileMessage& file)
{
    auto found = byId_.find(file.fileId);
    if (found == byId_.end())
        found = byId_.emplace(file.fileId, make(file)).first;
    return found->second;
}

void FileThumbnails::keepOnly(const std::vector<FileMessage>& files)
{
    std::set<std::string> listed;
    for (const FileMessage& file : files)
        listed.insert(file.fileId);
    std::erase_if(byId_, [&](const auto& entry) { return !listed.contains(entry.first); });
}

QPixmap FileThumbnails::scaledImage(const std::filesystem::path& path)
{
    QImageReader reader(QString::fromStdString(path.string()));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // Decoding at the tile's size keeps a large photo from being read whole.
    if (size.isValid())
        reader.setScaledSize(size.scaled(kSide, kSide, Qt::KeepAspectRatio).expandedTo({1, 1}));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return QPixmap::fromImage(image.width() > kSide || image.height() > kSide
                                  ? image.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                  : image);
}

QPixmap FileThumbnails::make(const FileMessage& file)
{
    const std::string category = FileMessage::category(file.fileType);
    const QSize side(kSide, kSide);
    if (category == "image") {
        const QPixmap image = scaledImage(file.filePath);
        return image.isNull() ? Images::pixmap("unknown", side) : image;
    }
    // A video shows its category's picture: no frame is taken from it.
    return Images::pixmap(category, side);
}
