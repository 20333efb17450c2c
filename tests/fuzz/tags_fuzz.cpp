// Reads each input as a whole MP3 file's bytes, tags and embedded cover, and makes a thumbnail of the cover, and of
// the input itself when it starts like a JPEG or PNG picture. The readers promise never to crash or hang on any bytes.
#include "library/cover_art.h"
#include "library/track_tags.h"
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

using namespace tallowcrest;
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every bad picture would log a warning: they are what the fuzzer makes.
    static const bool quiet = (QLoggingCategory::setFilterRules("tallowcrest.library.warning=false"), true);
    static QTemporaryDir folder;
    static Thumbnails thumbnails(folder.path());
    (void)quiet;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray cover;
    readTrackTagsFromBytes(bytes, &cover);
    const bool picture = bytes.startsWith("\xff\xd8\xff") || bytes.startsWith("\x89PNG");
    for (const QByteArray& input : {cover, picture ? bytes : QByteArray()})
        if (const QString key = thumbnails.store(input); !key.isEmpty())
            QFile::remove(thumbnails.fileOf(key));
    return 0;
}
#ifndef TALLOWCREST_LIBFUZZER
#include "support/hostile_corpus.h"
#include "support/tagged_mp3.h"
#include <QCoreApplication>
#include <QDir>
#include <filesystem>
// With --seeds, writes the fuzzer's seeds into the folder named: the hostile files, a cover and a track holding it.
// Else replays every file under the folders named.
int main(int argc, char** argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--seeds") {
        const QCoreApplication app(argc, argv);
        const QString dir = QFile::decodeName(argv[2]);
        const QByteArray cover = MakeImage(40, 30, "JPG");
        QDir().mkpath(dir), WriteFile(std::string(argv[2]) + "/cover.jpg", cover), WriteHostileCorpus(dir);
        return MakeTaggedMp3(dir, "tagged-with-cover.mp3", {.title = "Covered"}, cover), 0;
    }
    int replayed = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto& file : std::filesystem::recursive_directory_iterator(argv[i]))
            if (file.is_regular_file()) {
                const QByteArray input = ReadFile(file.path());
                LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()), ++replayed;
            }
    return replayed ? 0 : 1;
}
#endif
