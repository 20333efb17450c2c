#pragma once

#include <stdexcept>
#include <string>

namespace tallowcrest {

// The media player the server drives. Paths are byte strings as the scan and
// the client give them. Failures are thrown.
class IMediaPlayer {
public:
    static constexpr int kSilent = -10000;  // hundredths of a decibel
    static constexpr int kLoudest = 0;

    virtual ~IMediaPlayer() = default;
    // Loads the file and starts playing it from its beginning. Throws
    // std::runtime_error when the file cannot be opened.
    virtual void Open(const std::string& path) = 0;
    // Act on the loaded file.
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual void Pause() = 0;
    // The file last opened; empty until the first Open.
    virtual std::string FileName() const = 0;
    // Volume level in hundredths of a decibel, kSilent..kLoudest.
    virtual int Volume() const = 0;
    // Throws std::out_of_range for a level outside kSilent..kLoudest; the
    // level then stays as it was.
    virtual void SetVolume(int level) = 0;
};

}  // namespace tallowcrest
