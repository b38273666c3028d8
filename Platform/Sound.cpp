#include "Platform/Sound.h"

#include "Platform/Log.h"

#include <QApplication>
#include <QAudioDevice>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace kv::platform {

namespace {

constexpr auto LogVariable = "KIVARA_SOUND_LOG";

class QtSound : public Sound {
public:
    explicit QtSound(const QString& logFile) : m_logFile(logFile) {}
    ~QtSound() override
    {
        // At process exit the application (and the audio back end) may be gone already.
        if (m_effect && QCoreApplication::instance()) delete m_effect;
    }

    void play(const QString& file) override
    {
        log(u"play "_s + file);
        // As the system's asynchronous playback: a new sound replaces the one playing.
        stop();
        if (!QFileInfo(file).isFile()) {
            qCDebug(lcDesktop, "sound %s not played: no such file", qUtf8Printable(file));
            return;
        }
        if (QMediaDevices::audioOutputs().isEmpty()) {
            qCDebug(lcDesktop, "sound %s not played: no audio output", qUtf8Printable(file));
            return;
        }
        m_effect = new QSoundEffect;
        QSoundEffect* effect = m_effect;
        QObject::connect(effect, &QSoundEffect::statusChanged, effect, [this, effect] {
            if (effect->status() != QSoundEffect::Error) return;
            qCDebug(lcDesktop, "sound %s not played: it cannot be decoded",
                    qUtf8Printable(effect->source().toLocalFile()));
            release(effect);
        });
        QObject::connect(effect, &QSoundEffect::playingChanged, effect, [this, effect] {
            if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready) release(effect);
        });
        effect->setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
        effect->play(); // starts once loaded
    }

    void beep() override
    {
        log(u"beep"_s);
        QApplication::beep();
    }

private:
    void stop()
    {
        if (m_effect) {
            m_effect->disconnect();
            m_effect->stop();
            m_effect->deleteLater();
            m_effect = nullptr;
        }
    }

    void release(QSoundEffect* effect)
    {
        if (m_effect == effect) m_effect = nullptr;
        effect->disconnect();
        effect->deleteLater();
    }

    void log(const QString& line) const
    {
        if (m_logFile.isEmpty()) return;
        QFile file(m_logFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(line.toUtf8() + '\n');
    }

    QString m_logFile;
    QPointer<QSoundEffect> m_effect;
};

std::unique_ptr<Sound>& Installed()
{
    static std::unique_ptr<Sound> sound;
    return sound;
}

} // namespace

std::unique_ptr<Sound> Sound::createDefault()
{
    return std::make_unique<QtSound>(qEnvironmentVariable(LogVariable));
}

Sound& Sound::current()
{
    std::unique_ptr<Sound>& sound = Installed();
    if (!sound) sound = createDefault();
    return *sound;
}

void Sound::install(std::unique_ptr<Sound> sound)
{
    Installed() = std::move(sound);
}

} // namespace kv::platform
