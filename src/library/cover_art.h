#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <string>

namespace tallowcrest {

// The cover picture lying beside a track: cover, folder or front with a
// .jpg, .jpeg or .png ending, in any case, in the track's folder. Empty when
// there is none.
std::string folderCoverFile(const std::string& folder);

// Thumbnails of cover pictures (300 pixels on the longer side, JPEG), one per
// distinct picture, kept as files named by a hash of the picture's bytes.
// Decoding is bounded: no picture over 8,000 × 8,000 pixels is decoded.
class Thumbnails {
public:
    explicit Thumbnails(QString folder);

    // The key of the picture's thumbnail, made first unless it is already
    // there; empty when the bytes are not a picture we can read. Safe to call
    // from several threads at once.
    QString store(const QByteArray& picture);
    // The thumbnail file of a key store() gave; empty for anything else.
    QString fileOf(const QString& key) const;
    static bool isKey(const QString& text);
    const QString& folder() const { return m_folder; }

private:
    // The keys of pictures that could not be made into thumbnails, so that one shared by many tracks is tried once.
    struct Failures;
    QString m_folder;
    std::shared_ptr<Failures> m_failures;
};

}  // namespace tallowcrest
