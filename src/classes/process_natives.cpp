// The natives that control processes: the Process class's own, and the Object natives that act on the
// calling process.
#include "classes/core_natives.h"

namespace plimo {

namespace natives {
void Suspend(TValue*, std::int32_t, std::int32_t) {}
void BreakExec(TValue*, std::int32_t, std::int32_t) {}
void CurrentProcess(TValue*, std::int32_t, std::int32_t) {}
void CurrentFunc(TValue*, std::int32_t, std::int32_t) {}
} // namespace natives

std::span<const TNativeEntry> ProcessNatives() { return {}; }

} // namespace plimo
