#include "UI/Qt/FileThumbnails.h"

#include "Media/VideoStill.h"
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
    return fitted(reader.read());
}

QPixmap FileThumbnails::videoStill(const std::filesystem::path& path)
{
    const auto still = VideoStill::firstPicture(path);
    if (still == nullptr)
        return {};
    // A view of the still's bytes, which live as long as `still`: fitted() copies before it returns.
    const QImage image(still->bytes().data(), still->width, still->height, still->stride, QImage::Format_RGB32);
    return fitted(image);
}

QPixmap FileThumbnails::fitted(const QImage& image)
{
    if (image.isNull())
        return {};
    if (image.width() > kSide || image.height() > kSide)
        return QPixmap::fromImage(image.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return QPixmap::fromImage(image.copy());
}

QPixmap FileThumbnails::make(const FileMessage& file)
{
    const std::string category = FileMessage::category(file.fileType);
    const QSize side(kSide, kSide);
    if (category == "image" || category == "video") {
        const QPixmap image = category == "image" ? scaledImage(file.filePath) : videoStill(file.filePath);
        return image.isNull() ? Images::pixmap("unknown", side) : image;
    }
    return Images::pixmap(category, side);
}
