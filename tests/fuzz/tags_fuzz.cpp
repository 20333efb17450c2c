// Reads each input as a whole MP3 file's bytes, tags and embedded cover, and makes a thumbnail of the cover, and of
// the input itself when it starts like a JPEG or PNG picture. The readers promise never to crash or hang on any bytes.
#include "library/cover_art.h"
#include "library/track_tags.h"
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <fstream>

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
// Replays the input files named.
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string input{std::istreambuf_iterator<char>(std::ifstream(argv[i], std::ios::binary).rdbuf()), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    return argc > 1 ? 0 : 1;
}
#endif
