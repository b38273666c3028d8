#pragma once
// Asynchronous wave playback by file name and the system beep. A missing file
// or no audio device is skipped silently.
#include <QString>
#include <memory>

namespace kv::platform {

class Sound {
public:
    virtual ~Sound() = default;
    virtual void play(const QString& file) = 0;
    virtual void beep() = 0;

    // The process's sound service; when KIVARA_SOUND_LOG names a file, every
    // play and beep is also appended to it.
    static Sound& current();
    static void install(std::unique_ptr<Sound> sound);
};

} // namespace kv::platform
