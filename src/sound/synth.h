// The software synthesiser: the looping output ring (TSoundGenerator) and the ten-channel music-code
// player with its tables, envelopes and sound-effect mixer (TEnveloper).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sound/noise_random.h"
#include "sound/wav_loader.h"
#include "sound/wave_device.h"

namespace plimo::sound {

// One channel's compiled music code. Shared, so that freeing the music never leaves a channel reading
// freed memory.
using TMusicCode = std::shared_ptr<const std::vector<std::uint8_t>>;

class TSoundGenerator {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kMaxRingSize = 60000;
    static constexpr int kDefaultRingSize = 22050;

    explicit TSoundGenerator(std::unique_ptr<TWaveOutDevice> device);
    virtual ~TSoundGenerator();
    TSoundGenerator(const TSoundGenerator&) = delete;
    TSoundGenerator& operator=(const TSoundGenerator&) = delete;

    // Accepted when 256 <= n < 60000; takes effect at the next Open.
    void SetBufferSize(int n);
    int BufferSize() const { return m_configuredSize; }

    void Open();
    void Close();
    // Renders exactly the samples the device has played since the previous call; returns how many.
    int Fill();

    bool Opened() const { return m_opened; }
    bool DeviceError() const { return m_deviceError; }
    int LastResult() const { return m_lastResult; }
    const std::string& ErrorText() const { return m_errorText; }
    int RingSize() const { return m_ringSize; }
    const std::uint8_t* Ring() const { return m_ring.data(); }
    // Where the data rendered by the last Fill ends.
    int LastPlayPos() const { return m_lastPlayPos; }
    double LastFillMilliseconds() const { return m_lastFillMs; }
    TWaveOutDevice* Device() const { return m_device.get(); }

protected:
    virtual void BeginFill() {}
    // Writes `count` consecutive samples; one Fill may call it twice when the range wraps.
    virtual void Render(std::uint8_t* out, int count);
    virtual void EndFill() {}

    std::array<std::uint8_t, kMaxRingSize> m_ring;
    int m_ringSize = kDefaultRingSize;

private:
    std::unique_ptr<TWaveOutDevice> m_device;
    int m_configuredSize = kDefaultRingSize;
    int m_lastResult = 0;
    std::string m_errorText;
    bool m_opened = false;
    bool m_deviceError = false;
    bool m_justStarted = false;
    int m_writePos = 0;
    int m_lastPlayPos = 0;
    double m_lastFillMs = 0;
};

class TEnveloper : public TSoundGenerator {
public:
    static constexpr int kChannels = 10;
    static constexpr int kTones = 96;
    static constexpr int kToneBytes = 32;
    static constexpr int kEnvelopes = 16;
    static constexpr int kEnvelopeSteps = 32;
    static constexpr int kNoiseTone = 95;
    static constexpr int kFirstSampleInstrument = 96;
    static constexpr int kSampleInstruments = 16;
    static constexpr int kEffectSlots = 10;
    static constexpr int kSampleReferenceNote = 36;

    enum : std::uint8_t { csPlaying = 0, csStopped = 1, csWaiting = 2 };

    struct TChannel {
        TMusicCode code; // none when null
        std::uint32_t pc = 0;
        std::uint8_t state = csStopped;
        std::int64_t nextEvent = 0;
        std::uint32_t phase = 0;
        std::int32_t step = 0;
        const std::uint8_t* wave = nullptr;
        int waveBits = 5;
        bool oneShot = false;
        int instrument = 0;
        int volume = 0;
        int envelope = 0;
        std::uint16_t envPos = 0;
        std::uint16_t envSpeed = 5;
        bool rest = false;
        bool tie = false;
        std::int8_t detune = 0;
        std::int32_t glideFrom = 0;
        std::int32_t glideTo = 0;
        int glideLen = -1;
        std::int32_t glideToPart = 0;   // glideTo div glideLen, fixed while the glide lasts
        std::int32_t glideFromPart = 0; // glideFrom div glideLen
        int vibSpeed = 0;
        int vibDepth = 0;
        std::uint32_t vibPhase = 0;
        int vibRestart = 0;
    };

    struct TEffectSlot {
        const std::uint8_t* data = nullptr;
        int remaining = 0;
        int volume = 0;
    };

    explicit TEnveloper(std::unique_ptr<TWaveOutDevice> device);
    ~TEnveloper() override;

    void StartChannel(int ch, TMusicCode code);
    void StopChannel(int ch);
    void WaitSync(int ch);
    void Resume(int ch);
    void SetInstrument(int ch, int n);
    void LoadSampleInstrument(const std::string& file, int n);
    // `data` must stay valid while the effect plays, or be withdrawn first with DropEffects.
    void PlayEffect(int firstSlot, const std::uint8_t* data, int volume, int length);
    // Silences every effect slot playing from [data, data + length).
    void DropEffects(const std::uint8_t* data, std::size_t length);

    // Folders against which sample file names resolve: first `base` (empty: the current folder), then
    // the program folder.
    void SetFolders(std::string base, std::string program);
    void SeedNoise(std::uint32_t seed) { m_random.Seed(seed); }
    void SetLoopDisabled(bool disabled) { m_loopDisabled = disabled; }
    bool LoopDisabled() const { return m_loopDisabled; }
    int EffectDelay() const { return m_effectDelay; }
    void SetEffectDelay(int samples) { m_effectDelay = samples; }

    // The tone table (96 x 32 bytes) and envelope table (16 x 32 levels), as the tone file stores them.
    std::span<std::uint8_t, kTones * kToneBytes> Tones() { return m_tones; }
    std::span<std::uint8_t, kEnvelopes * kEnvelopeSteps> Envelopes() { return m_envelopes; }

    static const std::array<int, kTones>& PeriodTable();
    static const std::array<std::int32_t, kTones>& StepTable();
    static const std::array<std::int8_t, 2048>& SineTable();

    const TChannel& Channel(int ch) const { return m_channels[ch]; }
    const TEffectSlot& EffectSlot(int slot) const { return m_effects[slot]; }
    const TWavLoader* SampleInstrument(int n) const;
    std::int64_t Tick() const { return m_tick; }
    int Tempo() const { return m_tempo; }
    const std::string& MarkerText() const { return m_markerText; }
    const std::string& FileNameText() const { return m_fileNameText; }

    // Renders every sample through the general one-sample path instead of mixing channels over
    // stretches without instructions; for tests that check both give the same output.
    void SetReferenceRendering(bool on) { m_referenceRendering = on; }

protected:
    void BeginFill() override { m_sampleInFill = 0; }
    void Render(std::uint8_t* out, int count) override;
    void EndFill() override { m_accumulator %= 120; }

private:
    void RenderSample(std::uint8_t* out);
    int QuietRunLength(int limit);
    void RenderQuietRun(std::uint8_t* out, int n);
    template <class Fetch> void MixStretch(TChannel& v, int* acc, int n, Fetch fetch);
    void RunDueInstructions(int ch, TChannel& c);
    void RunInstruction(int ch, TChannel& c, int& jumps);
    void NoteOn(TChannel& c, int note);
    void Glide(TChannel& c, int from, int to);
    std::int32_t DetunedStep(const TChannel& c, int note) const;

    std::array<std::uint8_t, kTones * kToneBytes> m_tones;
    std::array<std::uint8_t, kEnvelopes * kEnvelopeSteps> m_envelopes;
    std::array<std::unique_ptr<TWavLoader>, kSampleInstruments> m_samples;
    std::array<TChannel, kChannels> m_channels;
    std::array<TEffectSlot, kEffectSlots> m_effects;

    // The tick counter only grows; 64 bits keep a session of many hours from wrapping it.
    std::int64_t m_tick = 0;
    int m_tempo = 120;
    std::int64_t m_accumulator = 0;
    bool m_loopDisabled = false;
    int m_effectDelay = 1000;
    std::string m_markerText;
    std::string m_fileNameText;
    std::string m_baseFolder;
    std::string m_programFolder;

    // Stretches mixed channel by channel: at most this long, with the tick of each sample.
    static constexpr int kMaxRun = 512;
    std::array<std::int64_t, kMaxRun> m_runTicks;
    std::int64_t m_runEndTick = 0;
    std::int64_t m_runEndAccumulator = 0;
    bool m_referenceRendering = false;

    TNoiseRandom m_random;
    int m_noisePos = 0;
    int m_sampleInFill = 0;
};

} // namespace plimo::sound
