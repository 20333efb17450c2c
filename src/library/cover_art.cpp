#include "library/cover_art.h"

#include "library/library_log.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>
#include <QSet>
#include <dirent.h>
#include <sys/stat.h>
#include <xxhash.h>

#include <array>
#include <memory>
#include <mutex>

namespace tallowcrest {
namespace {

constexpr int kThumbnailSide = 300;
constexpr int kLargestSide = 8000;
constexpr int kAllocationLimitMb = 64;
constexpr qsizetype kFailuresKept = 4096;

// The rank of a cover file name (lower is better), or -1: cover > folder > front, then .jpg > .jpeg > .png.
int coverRank(std::string name)
{
    for (char& c : name)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    static const std::array<const char*, 3> kStems{"cover", "folder", "front"};
    static const std::array<const char*, 3> kEndings{".jpg", ".jpeg", ".png"};
    for (std::size_t s = 0; s < kStems.size(); ++s)
        for (std::size_t e = 0; e < kEndings.size(); ++e)
            if (name == std::string(kStems[s]) + kEndings[e])
                return static_cast<int>(s * kEndings.size() + e);
    return -1;
}

// Only JPEG and PNG are decoded: what cover pictures are, and no more image readers than those exposed to a file.
const char* pictureFormat(const QByteArray& bytes)
{
    if (bytes.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    return nullptr;
}

}  // namespace

struct Thumbnails::Failures {
    std::mutex mutex;
    QSet<QString> keys;
};

std::string folderCoverFile(const std::string& folder)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return {};
    std::string best;
    int bestRank = -1;
    while (const dirent* entry = readdir(dir.get())) {
        const int rank = coverRank(entry->d_name);
        if (rank < 0 || (bestRank >= 0 && rank >= bestRank))
            continue;
        const std::string path = folder + '/' + entry->d_name;
        // An empty file is no picture; one that is there but empty must not hide a real one.
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0)
            continue;
        best = path;
        bestRank = rank;
    }
    return best;
}

Thumbnails::Thumbnails(QString folder) : m_folder(std::move(folder)), m_failures(std::make_shared<Failures>())
{
    QDir().mkpath(m_folder);
}

QString Thumbnails::store(const QByteArray& picture)
{
    if (picture.isEmpty())
        return {};
    const XXH128_hash_t hash = XXH3_128bits(picture.constData(), static_cast<std::size_t>(picture.size()));
    const QString key = QStringLiteral("%1%2").arg(hash.high64, 16, 16, QLatin1Char('0')).arg(hash.low64, 16, 16, QLatin1Char('0'));
    const QString file = m_folder + QLatin1Char('/') + key + QLatin1String(".jpg");
    if (QFileInfo::exists(file))
        return key;
    {
        const std::lock_guard lock(m_failures->mutex);
        if (m_failures->keys.contains(key))
            return {};
    }
    const auto fail = [&](const QString& reason) {
        qCWarning(libraryLog) << "No thumbnail for cover picture" << key << "-" << reason;
        const std::lock_guard lock(m_failures->mutex);
        if (m_failures->keys.size() >= kFailuresKept)
            m_failures->keys.clear();
        m_failures->keys.insert(key);
        return QString();
    };
    const char* format = pictureFormat(picture);
    if (!format)
        return fail(QStringLiteral("not a JPEG or PNG picture"));
    QBuffer buffer;
    buffer.setData(picture);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAllocationLimit(kAllocationLimitMb);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return fail(QStringLiteral("its size cannot be read"));
    if (size.width() > kLargestSide || size.height() > kLargestSide)
        return fail(QStringLiteral("%1 x %2 pixels is too large").arg(size.width()).arg(size.height()));
    if (size.width() > kThumbnailSide || size.height() > kThumbnailSide)
        reader.setScaledSize(size.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        return fail(reader.errorString());
    if (image.hasAlphaChannel()) {
        // JPEG has no transparency: what was see-through shows white, not black.
        QImage opaque(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter(&opaque).drawImage(0, 0, image);
        image = opaque;
    }
    // Written beside its final name and renamed into place: another thread storing the same picture at the same
    // time renames an identical file.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "JPG", 85) || !out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(file, out.errorString()));
    return key;
}

QString Thumbnails::fileOf(const QString& key) const
{
    if (!isKey(key))
        return {};
    const QString file = m_folder + QLatin1Char('/') + key + QLatin1String(".jpg");
    return QFileInfo::exists(file) ? file : QString();
}

bool Thumbnails::isKey(const QString& text)
{
    if (text.size() != 32)
        return false;
    for (QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

}  // namespace tallowcrest
