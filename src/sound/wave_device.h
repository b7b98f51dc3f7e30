// The wave-output device the synthesiser's ring is played by, and a device driven by hand.
#pragma once

#include <cstdint>
#include <string>

namespace plimo::sound {

// Result codes of wave-output calls (0 is success).
enum : int {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_NOTSUPPORTED = 8,
    WAVERR_BADFORMAT = 32,
    WAVERR_UNPREPARED = 34,
    WAVERR_SYNC = 35,
};

// "MMSYSERR_NODRIVER" for a known code, otherwise "MMSYSTEM" and the code in decimal.
std::string WaveOutErrorText(int code);

// Plays a ring of 8-bit mono 44100 Hz samples in a loop. The ring's bytes stay owned by the caller and
// valid until Close.
class TWaveOutDevice {
public:
    virtual ~TWaveOutDevice() = default;
    // Starts looping the ring from its first byte; returns a result code.
    virtual int Open(const std::uint8_t* ring, int size) = 0;
    virtual void Close() = 0;
    // Bytes played since Open.
    virtual std::uint64_t Position() = 0;
};

// A device whose play position moves only when told: for tests and offline rendering.
class TManualWaveDevice final : public TWaveOutDevice {
public:
    explicit TManualWaveDevice(int openResult = MMSYSERR_NOERROR) : m_openResult(openResult) {}

    int Open(const std::uint8_t* ring, int size) override {
        if (m_openResult != MMSYSERR_NOERROR) return m_openResult;
        m_ring = ring;
        m_size = size;
        m_position = 0;
        return MMSYSERR_NOERROR;
    }
    void Close() override { m_ring = nullptr; }
    std::uint64_t Position() override { return m_position; }

    void Advance(std::uint64_t bytes) { m_position += bytes; }
    bool IsOpen() const { return m_ring != nullptr; }
    const std::uint8_t* Ring() const { return m_ring; }
    int RingSize() const { return m_size; }

private:
    int m_openResult;
    const std::uint8_t* m_ring = nullptr;
    int m_size = 0;
    std::uint64_t m_position = 0;
};

} // namespace plimo::sound
