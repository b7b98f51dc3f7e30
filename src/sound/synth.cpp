#include "sound/synth.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "sound/sound_path.h"

namespace plimo::sound {

std::string WaveOutErrorText(int code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "MMSYSERR_NOERROR";
    case MMSYSERR_BADDEVICEID:
        return "MMSYSERR_BADDEVICEID";
    case MMSYSERR_ALLOCATED:
        return "MMSYSERR_ALLOCATED";
    case MMSYSERR_INVALHANDLE:
        return "MMSYSERR_INVALHANDLE";
    case MMSYSERR_NODRIVER:
        return "MMSYSERR_NODRIVER";
    case MMSYSERR_NOMEM:
        return "MMSYSERR_NOMEM";
    case MMSYSERR_NOTSUPPORTED:
        return "MMSYSERR_NOTSUPPORTED";
    case WAVERR_BADFORMAT:
        return "WAVERR_BADFORMAT";
    case WAVERR_UNPREPARED:
        return "WAVERR_UNPREPARED";
    case WAVERR_SYNC:
        return "WAVERR_SYNC";
    default:
        return "MMSYSTEM" + std::to_string(code);
    }
}

// ---- TSoundGenerator -------------------------------------------------------------------------------

TSoundGenerator::TSoundGenerator(std::unique_ptr<TWaveOutDevice> device) : m_device(std::move(device)) {
    m_ring.fill(128);
}

TSoundGenerator::~TSoundGenerator() {
    Close();
}

void TSoundGenerator::SetBufferSize(int n) {
    if (n >= 256 && n < kMaxRingSize) m_configuredSize = n;
}

void TSoundGenerator::Open() {
    if (m_opened) return;
    m_ringSize = m_configuredSize;
    m_ring.fill(128);
    m_lastResult = m_device ? m_device->Open(m_ring.data(), m_ringSize) : MMSYSERR_NODRIVER;
    if (m_lastResult != MMSYSERR_NOERROR) {
        m_deviceError = true;
        m_errorText = WaveOutErrorText(m_lastResult);
        return;
    }
    m_deviceError = false;
    m_opened = true;
    m_justStarted = true;
    // The device plays from the start of the fresh ring; positions in the old one mean nothing now
    // (and may lie beyond a smaller ring).
    m_writePos = m_lastPlayPos = 0;
}

void TSoundGenerator::Close() {
    if (!m_opened) return;
    m_device->Close();
    m_ring.fill(128);
    m_opened = false;
}

int TSoundGenerator::Fill() {
    if (!m_opened) return 0;
    auto started = std::chrono::steady_clock::now();
    const int playPos = int(m_device->Position() % std::uint64_t(m_ringSize));
    if (m_justStarted) {
        m_writePos = (playPos + m_ringSize - 1) % m_ringSize;
        m_justStarted = false;
    } else {
        m_writePos = m_lastPlayPos;
    }
    BeginFill();
    int rendered = 0;
    if (m_writePos > playPos) {
        Render(m_ring.data() + m_writePos, m_ringSize - m_writePos);
        rendered += m_ringSize - m_writePos;
        m_writePos = 0;
    }
    Render(m_ring.data() + m_writePos, playPos - m_writePos);
    rendered += playPos - m_writePos;
    m_writePos = playPos;
    EndFill();
    m_lastFillMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    m_lastPlayPos = playPos;
    return rendered;
}

void TSoundGenerator::Render(std::uint8_t* out, int count) {
    std::fill(out, out + count, 128);
}

// ---- Tables ------------------------------------------------------------------------------------------

const std::array<int, TEnveloper::kTones>& TEnveloper::PeriodTable() {
    static const std::array<int, kTones> periods = {
        3421, 3228, 3047, 2876, 2715, 2562, 2419, 2283, 2155, 2034, 1920, 1812, //
        1711, 1614, 1524, 1438, 1358, 1281, 1210, 1142, 1078, 1017, 960,  906,  //
        855,  807,  762,  719,  679,  641,  605,  571,  539,  509,  480,  453,  //
        428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  227,  //
        214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120,  113,  //
        107,  101,  95,   90,   85,   80,   76,   71,   67,   64,   60,   57,   //
        53,   50,   48,   45,   42,   40,   38,   36,   34,   32,   30,   28,   //
        27,   25,   24,   22,   21,   20,   19,   18,   17,   16,   15,   14};
    return periods;
}

const std::array<std::int32_t, TEnveloper::kTones>& TEnveloper::StepTable() {
    static const std::array<std::int32_t, kTones> steps = [] {
        std::array<std::int32_t, kTones> s{};
        for (int n = 0; n < kTones; ++n)
            s[n] = std::int32_t(std::trunc(7330908160.0L / PeriodTable()[n] * 65536.0L / 44100.0L));
        return s;
    }();
    return steps;
}

const std::array<std::int8_t, 2048>& TEnveloper::SineTable() {
    static const std::array<std::int8_t, 2048> sine = [] {
        std::array<std::int8_t, 2048> s{};
        for (int i = 0; i < 2048; ++i) s[i] = std::int8_t(std::trunc(std::sin(i * 6.2831852L / 2048) * 127));
        return s;
    }();
    return sine;
}

// ---- TEnveloper --------------------------------------------------------------------------------------

TEnveloper::TEnveloper(std::unique_ptr<TWaveOutDevice> device) : TSoundGenerator(std::move(device)) {
    for (int t = 0; t < kTones; ++t)
        for (int j = 0; j < kToneBytes; ++j) m_tones[t * kToneBytes + j] = j < 16 ? 103 : 153;
    for (int e = 0; e < kEnvelopes; ++e)
        for (int j = 0; j < kEnvelopeSteps; ++j)
            m_envelopes[e * kEnvelopeSteps + j] = std::uint8_t((31 - j) / 2);
    for (TChannel& c : m_channels) c.wave = m_tones.data();
}

TEnveloper::~TEnveloper() {
    Close();
}

void TEnveloper::SetFolders(std::string base, std::string program) {
    m_baseFolder = std::move(base);
    m_programFolder = std::move(program);
}

const TWavLoader* TEnveloper::SampleInstrument(int n) const {
    int i = n - kFirstSampleInstrument;
    return i >= 0 && i < kSampleInstruments ? m_samples[i].get() : nullptr;
}

void TEnveloper::StartChannel(int ch, TMusicCode code) {
    if (ch < 0 || ch >= kChannels) return;
    TChannel& c = m_channels[ch];
    c.code = code && !code->empty() ? std::move(code) : nullptr;
    c.pc = 0;
    c.state = csPlaying;
    c.nextEvent = m_tick;
}

void TEnveloper::StopChannel(int ch) {
    if (ch < 0 || ch >= kChannels) return;
    WaitSync(ch);
    m_channels[ch].state = csStopped;
    m_channels[ch].nextEvent = m_tick + 1;
}

void TEnveloper::WaitSync(int ch) {
    if (ch < 0 || ch >= kChannels) return;
    m_channels[ch].state = csWaiting;
    m_channels[ch].nextEvent = m_tick + 1;
    for (const TChannel& c : m_channels)
        if (c.state == csPlaying) return;
    for (int i = 0; i < kChannels; ++i) Resume(i);
}

void TEnveloper::Resume(int ch) {
    if (ch < 0 || ch >= kChannels) return;
    TChannel& c = m_channels[ch];
    if (c.state != csWaiting) return;
    c.state = csPlaying;
    c.nextEvent = m_tick + 1;
}

void TEnveloper::SetInstrument(int ch, int n) {
    if (ch < 0 || ch >= kChannels) return;
    // Numbers past the sample instruments name nothing; they are ignored rather than looked up.
    if (n < 0 || n >= kFirstSampleInstrument + kSampleInstruments) return;
    TChannel& c = m_channels[ch];
    c.instrument = n;
    if (n < kFirstSampleInstrument) {
        c.wave = m_tones.data() + n * kToneBytes;
        c.waveBits = 5;
        c.oneShot = false;
    } else if (const TWavLoader* s = m_samples[n - kFirstSampleInstrument].get()) {
        c.wave = s->Data();
        c.waveBits = s->bits;
        c.oneShot = true;
    }
}

void TEnveloper::LoadSampleInstrument(const std::string& file, int n) {
    if (n < kFirstSampleInstrument || n >= kFirstSampleInstrument + kSampleInstruments) return;
    std::string path = FindSoundFile(file, m_baseFolder);
    if (path.empty() && !m_programFolder.empty()) path = FindSoundFile(file, m_programFolder);
    if (path.empty()) return;
    // No channel may keep pointing into the sample that is about to be replaced: neither one playing
    // instrument n nor one that switched to a sample not loaded and so still reads n's data.
    const TWavLoader* old = m_samples[n - kFirstSampleInstrument].get();
    for (int ch = 0; ch < kChannels; ++ch)
        if (m_channels[ch].instrument == n || (old && m_channels[ch].wave == old->Data()))
            SetInstrument(ch, 0);
    TWavLoader loaded;
    if (!loaded.Load(path)) return;
    auto padded = std::make_unique<TWavLoader>();
    padded->MakePadded(loaded);
    m_samples[n - kFirstSampleInstrument] = std::move(padded);
}

void TEnveloper::PlayEffect(int firstSlot, const std::uint8_t* data, int volume, int length) {
    // An empty sample (a wave file without data) has no first byte to mix.
    if (!data || length <= 0) return;
    int slot = kEffectSlots - 1;
    for (int s = std::max(firstSlot + 1, 1); s < kEffectSlots; ++s) {
        if (m_effects[s].remaining == 0) {
            slot = s;
            break;
        }
    }
    TEffectSlot& e = m_effects[slot];
    e.data = data;
    e.remaining = length;
    // Scripts pass any number. Beyond 2^23 every non-silent byte clips already, and the products
    // below must stay inside 32 bits.
    e.volume = std::clamp(volume, -(1 << 23), 1 << 23);
    if (!Opened()) return;
    // Mix straight into what is rendered but not yet played, so the effect is heard after the delay
    // rather than a whole ring later; Fill mixes the rest.
    const int n = m_ringSize;
    int pos = int((Device()->Position() + std::uint64_t(std::max(m_effectDelay, 0))) % std::uint64_t(n));
    const int end = LastPlayPos();
    for (;;) {
        int v = m_ring[pos] + ((int(e.data[0]) - 128) * e.volume) / 128;
        m_ring[pos] = std::uint8_t(std::clamp(v, 0, 255));
        if (--e.remaining < 1) break;
        ++e.data;
        pos = (pos + 1) % n;
        if (pos == end) break;
    }
}

void TEnveloper::DropEffects(const std::uint8_t* data, std::size_t length) {
    for (TEffectSlot& e : m_effects) {
        if (e.remaining > 0 && std::less_equal<>()(data, e.data) && std::less<>()(e.data, data + length)) {
            e.remaining = 0;
            e.data = nullptr;
        }
    }
}

std::int32_t TEnveloper::DetunedStep(const TChannel& c, int note) const {
    std::int64_t s = StepTable()[note];
    return std::int32_t((c.detune * s) / 2048 + s);
}

void TEnveloper::NoteOn(TChannel& c, int note) {
    if (note > 95) return;
    c.rest = false;
    if (!c.tie) {
        c.envPos = 0;
        if (c.oneShot) c.phase = 0;
        if (c.vibRestart != 0) c.vibPhase = 0;
    }
    const std::int32_t s = StepTable()[note];
    if (c.instrument < kFirstSampleInstrument) {
        c.step = std::int32_t(c.detune * (s / 2048) + s);
    } else if (c.waveBits >= 2) {
        // Note 36 plays the sample at one source byte per output sample. The product wraps like the
        // 32-bit step it is stored in.
        std::int64_t perSource =
            (std::int64_t(1) << 30 >> (c.waveBits - 2)) / (StepTable()[kSampleReferenceNote] / 65536);
        c.step = std::int32_t(std::uint32_t(perSource * (s / 65536)));
    }
    c.glideLen = -1;
}

void TEnveloper::Glide(TChannel& c, int from, int to) {
    c.rest = false;
    c.glideFrom = DetunedStep(c, from);
    c.glideTo = DetunedStep(c, to);
    if (!c.tie) c.envPos = 0;
}

namespace {

int ReadU16(const std::uint8_t* p) {
    return p[0] | p[1] << 8;
}

} // namespace

void TEnveloper::RunInstruction(int ch, TChannel& c, int& jumps) {
    const std::vector<std::uint8_t>& code = *c.code;
    const std::size_t left = code.size() - c.pc;
    const std::uint8_t* p = code.data() + c.pc;
    // An instruction cut off by the end of its block stops the channel where it stands, like 255.
    auto fits = [&](std::size_t n) {
        if (left >= n) return true;
        StopChannel(ch);
        return false;
    };
    // Length of a zero-terminated text starting at p + 1, or npos when the block ends first.
    auto textLength = [&]() -> std::size_t {
        const std::uint8_t* z = left > 1 ? std::find(p + 1, p + left, 0) : p + left;
        return z == p + left ? std::string::npos : std::size_t(z - (p + 1));
    };
    if (!fits(1)) return;
    const int op = p[0];
    if (op <= 95) {
        if (!fits(3)) return;
        NoteOn(c, op);
        c.tie = false;
        c.nextEvent = m_tick + 2 * ReadU16(p + 1);
        c.pc += 3;
        return;
    }
    switch (op) {
    case 99:
        if (!fits(3)) return;
        c.rest = true;
        c.tie = false;
        c.nextEvent = m_tick + 2 * ReadU16(p + 1);
        c.pc += 3;
        return;
    case 100:
        if (!fits(2)) return;
        c.volume = p[1];
        c.pc += 2;
        return;
    case 101:
        if (!fits(2)) return;
        c.envSpeed = p[1];
        c.pc += 2;
        return;
    case 102:
        if (!fits(2)) return;
        SetInstrument(ch, p[1]);
        c.pc += 2;
        return;
    case 103:
        if (!fits(3)) return;
        m_tempo = ReadU16(p + 1);
        c.pc += 3;
        return;
    case 104: {
        if (!fits(5)) return;
        if (m_loopDisabled) {
            c.pc += 5;
            return;
        }
        // Two jumps without time passing would loop for ever inside one sample.
        if (++jumps >= 2) {
            StopChannel(ch);
            return;
        }
        const std::int32_t offset =
            std::int32_t(std::uint32_t(ReadU16(p + 1)) | std::uint32_t(ReadU16(p + 3)) << 16);
        const std::int64_t target = std::int64_t(c.pc) + offset;
        if (target < 0 || target > std::int64_t(code.size())) {
            StopChannel(ch);
            return;
        }
        c.pc = std::uint32_t(target);
        return;
    }
    case 105:
        c.tie = true;
        c.pc += 1;
        return;
    case 106: {
        if (!fits(5)) return;
        const int from = p[1], to = p[2];
        // Targets above the note table hold the current pitch instead of reading past it.
        if (from < kTones && to < kTones) Glide(c, from, to);
        c.tie = false;
        const int length = ReadU16(p + 3);
        c.nextEvent = m_tick + 2 * length;
        c.glideLen = from < kTones && to < kTones ? 2 * length : -1;
        if (c.glideLen > 0) {
            c.glideToPart = c.glideTo / c.glideLen;
            c.glideFromPart = c.glideFrom / c.glideLen;
        }
        c.pc += 5;
        return;
    }
    case 107:
        if (!fits(2)) return;
        if (p[1] < kEnvelopes) c.envelope = p[1];
        c.pc += 2;
        return;
    case 108:
        c.pc += 1;
        WaitSync(ch);
        return;
    case 109:
    case 111: {
        const std::size_t n = textLength();
        if (n == std::string::npos) {
            StopChannel(ch);
            return;
        }
        (op == 109 ? m_markerText : m_fileNameText).assign(reinterpret_cast<const char*>(p + 1), n);
        c.pc += std::uint32_t(n + 2);
        return;
    }
    case 110:
        if (!fits(2)) return;
        c.detune = std::int8_t(p[1]);
        c.pc += 2;
        return;
    case 112:
        c.pc += 1;
        return;
    case 113:
        if (!fits(34)) return;
        if (p[1] < kTones) std::copy(p + 2, p + 34, m_tones.begin() + p[1] * kToneBytes);
        c.pc += 34;
        return;
    case 114:
        if (!fits(34)) return;
        if (p[1] < kEnvelopes)
            for (int j = 0; j < kEnvelopeSteps; ++j)
                m_envelopes[p[1] * kEnvelopeSteps + j] = std::min<std::uint8_t>(p[2 + j], 15);
        c.pc += 34;
        return;
    case 115:
        if (!fits(4)) return;
        c.vibRestart = std::int8_t(p[1]);
        c.vibSpeed = int(std::uint32_t(std::int8_t(p[2])) << 16);
        c.vibDepth = std::int8_t(p[3]);
        c.pc += 4;
        return;
    case 116:
        if (!fits(2)) return;
        c.oneShot = p[1] == 1;
        c.pc += 2;
        return;
    case 117: {
        const std::size_t n = textLength();
        if (n == std::string::npos || !fits(n + 3)) {
            if (n == std::string::npos) StopChannel(ch);
            return;
        }
        std::string name(reinterpret_cast<const char*>(p + 1), n);
        const int instrument = p[n + 2];
        c.pc += std::uint32_t(n + 3);
        m_fileNameText = name;
        LoadSampleInstrument(name, instrument);
        return;
    }
    case 255:
        StopChannel(ch);
        return;
    default:
        StopChannel(ch);
        c.pc += 1;
        return;
    }
}

// Kept out of line so that the mixing loop around it keeps its sums in registers.
__attribute__((noinline, cold)) void TEnveloper::RunDueInstructions(int ch, TChannel& c) {
    int jumps = 0;
    while (m_tick >= c.nextEvent) RunInstruction(ch, c, jumps);
}

namespace {

// One sample of a playing channel: its contribution to the mix, then its oscillator, vibrato,
// envelope and glide move on. `fetch` reads the waveform byte at an index.
// The two flags let a stretch drop the vibrato and glide work when the channel has none; the
// one-sample path leaves them on and tests the fields as usual.
template <bool kVibrato = true, bool kGlide = true, class Fetch>
inline int StepChannel(TEnveloper::TChannel& c, const std::uint8_t* envelopes, bool odd, std::int64_t tick,
                       Fetch fetch) {
    int out = 0;
    const int level =
        c.rest ? 0 : envelopes[c.envelope * TEnveloper::kEnvelopeSteps + (c.envPos >> 11)] * c.volume;
    if (level != 0) {
        // Widened so that a one-byte sample (0 bits) shifts by 32 without undefined behaviour.
        const std::uint32_t index = std::uint32_t(std::uint64_t(c.phase) >> (32 - c.waveBits));
        out = ((fetch(index) * level) >> 11) - (level >> 4);
        // A one-shot wave stops just before its phase wraps, resting on its silent last bytes.
        if (!c.oneShot || std::int32_t(c.phase) >= 0 ||
            std::int64_t(std::int32_t(c.phase)) < -2 * std::int64_t(c.step))
            c.phase += std::uint32_t(c.step);
        if (kVibrato && c.vibSpeed != 0) {
            c.phase += std::uint32_t(std::int32_t(
                (std::int64_t(TEnveloper::SineTable()[c.vibPhase >> 21]) * (c.step / 512) * c.vibDepth) /
                256));
            if (odd) c.vibPhase += std::uint32_t(c.vibSpeed);
        }
    }
    if (odd && c.envPos + c.envSpeed < 65536) c.envPos = std::uint16_t(c.envPos + c.envSpeed);
    if (kGlide && c.glideLen > 0) {
        const std::int64_t r = c.nextEvent - tick;
        c.step =
            std::int32_t(std::int64_t(c.glideToPart) * (c.glideLen - r) + std::int64_t(c.glideFromPart) * r);
    }
    return out;
}

} // namespace

void TEnveloper::Render(std::uint8_t* out, int count) {
    while (count > 0) {
        int n = m_referenceRendering ? 0 : QuietRunLength(std::min(count, kMaxRun));
        if (n > 0) {
            RenderQuietRun(out, n);
        } else {
            RenderSample(out);
            n = 1;
        }
        out += n;
        count -= n;
    }
}

void TEnveloper::RenderSample(std::uint8_t* out) {
    // Vibrato phase and envelope both move on every second sample of a Fill call.
    const bool odd = (m_sampleInFill & 1) != 0;
    int acc = 128;
    const std::int64_t tick = m_tick; // instructions read the tick but never move it
    for (int ch = 0; ch < kChannels; ++ch) {
        TChannel& c = m_channels[ch];
        if (!c.code) [[unlikely]]
            StopChannel(ch);
        if (c.state != csPlaying) continue;
        acc += StepChannel(c, m_envelopes.data(), odd, tick, [&](std::uint32_t i) { return c.wave[i]; });
        if (tick >= c.nextEvent) [[unlikely]]
            RunDueInstructions(ch, c);
    }
    m_tick += (m_accumulator + m_tempo) / 120 - m_accumulator / 120;
    m_accumulator += m_tempo;
    for (TEffectSlot& e : m_effects) {
        if (e.remaining > 0) {
            acc += ((int(e.data[0]) - 128) * e.volume) / 128;
            --e.remaining;
            ++e.data;
        }
    }
    *out = std::uint8_t(std::clamp(acc, 0, 255));
    m_tones[kNoiseTone * kToneBytes + m_noisePos] = std::uint8_t(m_random.Next(78) + 90);
    m_noisePos = (m_noisePos + 1) & (kToneBytes - 1);
    ++m_sampleInFill;
}

// Between two instructions of any channel the channels cannot affect one another, so they can be
// mixed one after the other over the whole stretch. A stretch needs every channel without code to be
// stopped already, and no channel waiting unless one plays: then the per-sample stop of the channels
// without code changes nothing but their next event.
int TEnveloper::QuietRunLength(int limit) {
    bool playing = false, waiting = false;
    std::int64_t next = INT64_MAX;
    for (const TChannel& c : m_channels) {
        if (!c.code) {
            if (c.state != csStopped) return 0;
            continue;
        }
        if (c.state == csPlaying) {
            playing = true;
            next = std::min(next, c.nextEvent);
        }
        waiting |= c.state == csWaiting;
    }
    if (waiting && !playing) return 0;
    std::int64_t tick = m_tick, accumulator = m_accumulator;
    int n = 0;
    for (; n < limit && tick < next; ++n) {
        m_runTicks[n] = tick;
        tick += (accumulator + m_tempo) / 120 - accumulator / 120;
        accumulator += m_tempo;
    }
    m_runEndTick = tick;
    m_runEndAccumulator = accumulator;
    return n;
}

template <class Fetch> void TEnveloper::MixStretch(TChannel& v, int* acc, int n, Fetch fetch) {
    const int first = m_sampleInFill;
    auto mix = [&]<bool kVibrato, bool kGlide>() {
        for (int k = 0; k < n; ++k)
            acc[k] +=
                StepChannel<kVibrato, kGlide>(v, m_envelopes.data(), ((first + k) & 1) != 0, m_runTicks[k],
                                              [&](std::uint32_t i) { return fetch(k, i); });
    };
    const bool vibrato = v.vibSpeed != 0, glide = v.glideLen > 0;
    if (vibrato && glide)
        mix.template operator()<true, true>();
    else if (vibrato)
        mix.template operator()<true, false>();
    else if (glide)
        mix.template operator()<false, true>();
    else
        mix.template operator()<false, false>();
}

void TEnveloper::RenderQuietRun(std::uint8_t* out, int n) {
    std::array<int, kMaxRun> acc;
    std::fill_n(acc.begin(), n, 128);
    // The noise bytes this stretch writes, one per sample as always, so that the random sequence and
    // what a noise channel reads stay what sample-by-sample rendering gives.
    std::array<std::uint8_t, kMaxRun> noise;
    for (int k = 0; k < n; ++k) noise[k] = std::uint8_t(m_random.Next(78) + 90);
    const std::uint8_t* noiseTone = m_tones.data() + kNoiseTone * kToneBytes;
    const int noisePos = m_noisePos;

    for (TChannel& c : m_channels) {
        if (!c.code) {
            c.nextEvent = m_runTicks[n - 1] + 1;
            continue;
        }
        if (c.state != csPlaying) continue;
        // A local copy whose fields can live in registers: the stores into acc could otherwise
        // alias the channel's int fields and force them through memory on every sample.
        TChannel v(std::move(c));
        const std::uint8_t* wave = v.wave;
        if (wave == noiseTone) {
            // Byte q read in sample k holds the last noise written to it before k, else its old value.
            MixStretch(v, acc.data(), n, [&](int k, std::uint32_t q) {
                const int j = k - 1 - ((noisePos + k - 1 - int(q)) & (kToneBytes - 1));
                return j >= 0 ? noise[j] : noiseTone[q];
            });
        } else {
            MixStretch(v, acc.data(), n, [wave](int, std::uint32_t i) { return wave[i]; });
        }
        c = std::move(v);
    }
    for (TEffectSlot& e : m_effects) {
        const int m = std::min(e.remaining, n);
        for (int k = 0; k < m; ++k) acc[k] += ((int(e.data[k]) - 128) * e.volume) / 128;
        if (m > 0) {
            e.remaining -= m;
            e.data += m;
        }
    }
    for (int k = 0; k < n; ++k) out[k] = std::uint8_t(std::clamp(acc[k], 0, 255));
    for (int k = 0; k < n; ++k)
        m_tones[kNoiseTone * kToneBytes + ((m_noisePos + k) & (kToneBytes - 1))] = noise[k];
    m_noisePos = (m_noisePos + n) & (kToneBytes - 1);
    m_tick = m_runEndTick;
    m_accumulator = m_runEndAccumulator;
    m_sampleInFill += n;
}

} // namespace plimo::sound
