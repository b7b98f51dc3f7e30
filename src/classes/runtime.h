// The owner of the host services that natives share: the random generator, the angle tables, the
// clock, where print output goes, and the links to the VM, the resource tree and the evaluator.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace plimo {

class TVm;
class TReporter;
class TResourceSystem;
class TResource;
class TEvalCache;
class TProcess;
struct TValue;

class TRuntime {
public:
    static constexpr std::uint32_t kRandomSeed = 123459876; // 0x75BD924

    // Becomes the current runtime until it ends (the previous one is current again then).
    TRuntime(TVm& vm, TReporter& reporter, TResourceSystem* resources = nullptr);
    ~TRuntime();
    TRuntime(const TRuntime&) = delete;
    TRuntime& operator=(const TRuntime&) = delete;

    static TRuntime* Current() { return s_current; }
    // The current runtime; raises a runtime error when there is none (a native called outside one).
    static TRuntime& Get();

    // ---- random numbers: a 30-bit state advanced by a multiplicative step ----
    std::uint32_t NextRandom();
    // 0 ... n (see RandomBelow's comment in the source); 0 for n < 1.
    std::int32_t RandomBelow(std::int32_t n);
    void Randomize(std::int32_t seed);
    std::uint32_t randomState = kRandomSeed;

    // ---- angles: sin and cos of whole degrees ----
    double SinDeg(std::int32_t degrees) const { return m_sin[NormaliseDegrees(degrees)]; }
    double CosDeg(std::int32_t degrees) const { return m_cos[NormaliseDegrees(degrees)]; }
    static std::int32_t NormaliseDegrees(std::int32_t d);

    // Milliseconds since this runtime started, wrapping at 2^32.
    std::uint32_t Milliseconds() const;

    // The text a script printed (CP932): always reported as a progress line (followed by the call trace
    // when one is given), and handed alone to the output hook when there is one (the headless runner
    // writes it to standard output).
    void Print(std::string_view text, std::string_view trace = {});
    std::function<void(std::string_view sjis)> printHook;

    // Services that later subsystems plug in; each has a neutral answer while it is missing.
    std::function<std::int32_t(std::int32_t key)> keyState;
    std::function<std::int32_t()> pageHashCode;
    std::function<void()> refreshSound;
    std::function<void(TValue& value)> markValue;
    std::function<void(TValue& generator, std::string_view attr, std::string_view literal)> setGenAttr;

    // Processes that scripts made (native_init) belong to the runtime until a script frees them; what
    // is left when the system ends is destroyed then, while the VM still exists.
    void AdoptProcess(TProcess* process);
    // Takes a process back for destruction; false when scripts do not own it (the host's own ones).
    bool ReleaseProcess(TProcess* process);
    void DestroyScriptProcesses();

    // The resource a script names by path (also short class names and $ globals at the root).
    TResource* Resolve(std::string_view path) const;

    TVm& vm;
    TReporter& reporter;
    TResourceSystem* resources;
    // The evaluator's class factory; made by whoever wires the compiler in (start-up, tests).
    std::unique_ptr<TEvalCache> evalCache;

private:
    static inline TRuntime* s_current = nullptr;
    TRuntime* m_previous;
    std::array<double, 360> m_sin{}, m_cos{};
    std::unordered_set<TProcess*> m_scriptProcesses;
    std::chrono::steady_clock::time_point m_started;
};

} // namespace plimo
