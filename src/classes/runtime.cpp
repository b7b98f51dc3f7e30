#include "classes/runtime.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "compiler/eval.h"
#include "core/errors.h"
#include "core/process.h"
#include "platform/report.h"
#include "resources/resource.h"
#include "resources/resource_system.h"

namespace plimo {

TRuntime::TRuntime(TVm& vm, TReporter& reporter, TResourceSystem* resources)
    : vm(vm), reporter(reporter), resources(resources), m_previous(s_current),
      m_started(std::chrono::steady_clock::now()) {
    for (int i = 0; i < 360; ++i) {
        m_sin[static_cast<std::size_t>(i)] = std::sin(i * std::numbers::pi / 180.0);
        m_cos[static_cast<std::size_t>(i)] = std::cos(i * std::numbers::pi / 180.0);
    }
    s_current = this;
}

TRuntime::~TRuntime() {
    DestroyScriptProcesses();
    evalCache.reset();
    s_current = m_previous;
}

TRuntime& TRuntime::Get() {
    if (!s_current) throw ERuntimeError("no script runtime");
    return *s_current;
}

std::uint32_t TRuntime::NextRandom() {
    randomState = (randomState * 48828125u) & ((1u << 30) - 1);
    return randomState;
}

// The divisor c = 2^30 div n splits the range into n buckets of c states; a draw in the remainder lands
// on n itself (or beyond c for large n) and is kept, as scripts have always seen it.
std::int32_t TRuntime::RandomBelow(std::int32_t n) {
    if (n < 1) return 0;
    std::uint32_t c = (1u << 30) / static_cast<std::uint32_t>(n);
    // Above 2^30 there is no bucket to divide by, and every state is below n already.
    if (c == 0) return static_cast<std::int32_t>(NextRandom());
    // The multiplier is odd, so a state keeps its power of two (2^k) and its odd part keeps its
    // remainder mod 4; every other state of that shape comes round. When none of them is below c^2 the
    // loop could never end (rnd(600000000) from the start-up state): one draw is made instead and its
    // quotient brought below c, which keeps the results below c as the loop's would be.
    if (randomState != 0) {
        const int k = std::countr_zero(randomState);
        const std::uint64_t smallest = std::uint64_t(randomState >> k & 3u) << k;
        if (smallest >= std::uint64_t(c) * c) return static_cast<std::int32_t>(NextRandom() / c % c);
    }
    std::uint32_t q;
    do q = NextRandom() / c;
    while (q >= c);
    return static_cast<std::int32_t>(q);
}

void TRuntime::Randomize(std::int32_t seed) {
    randomState = (static_cast<std::uint32_t>(seed) & 0xFFFFFFu) ^ kRandomSeed;
}

std::int32_t TRuntime::NormaliseDegrees(std::int32_t d) {
    // Computed in 64 bits so that the most negative int does not overflow on negation.
    std::int64_t x = d;
    if (x < 0) x = 360 - ((-x) % 360);
    return static_cast<std::int32_t>(x % 360);
}

std::uint32_t TRuntime::Milliseconds() const {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_started);
    return static_cast<std::uint32_t>(ms.count());
}

void TRuntime::Print(std::string_view text, std::string_view trace) {
    reporter.ReportProgress(trace.empty() ? std::string(text)
                                          : std::string(text) + "\t" + std::string(trace));
    if (printHook) printHook(text);
}

void TRuntime::AdoptProcess(TProcess* process) {
    m_scriptProcesses.insert(process);
}

bool TRuntime::ReleaseProcess(TProcess* process) {
    return m_scriptProcesses.erase(process) > 0;
}

void TRuntime::DestroyScriptProcesses() {
    // One at a time: killing a process releases objects whose destructors may free other processes.
    while (!m_scriptProcesses.empty()) {
        TProcess* p = *m_scriptProcesses.begin();
        m_scriptProcesses.erase(m_scriptProcesses.begin());
        delete p;
    }
}

TResource* TRuntime::Resolve(std::string_view path) const {
    if (!resources || !resources->root) return nullptr;
    return resources->root->Resolve(path);
}

} // namespace plimo
