#pragma once
// Asynchronous wave playback by file name and the system beep. A missing file
// or no audio device is skipped silently.
#include <QString>
#include <QStringList>
#include <memory>

namespace kv::platform {

class Sound {
public:
    virtual ~Sound() = default;
    virtual void play(const QString& file) = 0;
    virtual void beep() = 0;

    // The process's sound service; when KIVARA_SOUND_LOG names a file, every
    // play and beep is also appended to it ("play <file>", "beep").
    static Sound& current();
    static void install(std::unique_ptr<Sound> sound);
    // A new service chosen from the environment as current() chooses it.
    static std::unique_ptr<Sound> createDefault();
};

// Records instead of playing, for tests: "play <file>" and "beep", in order.
class RecordingSound : public Sound {
public:
    void play(const QString& file) override { m_events << QStringLiteral("play ") + file; }
    void beep() override { m_events << QStringLiteral("beep"); }
    const QStringList& events() const { return m_events; }

private:
    QStringList m_events;
};

} // namespace kv::platform
