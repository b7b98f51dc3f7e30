// The natives of the kernel classes Object, Array and Process, as binding tables in binding order.
#pragma once

#include <span>

#include "classes/native_bridge.h"

namespace plimo {

std::span<const TNativeEntry> ObjectNatives();
std::span<const TNativeEntry> ArrayNatives();
std::span<const TNativeEntry> ProcessNatives();

// The Object natives that work on the calling process (process_natives.cpp).
namespace natives {
void Suspend(TValue* base, std::int32_t count, std::int32_t);
void BreakExec(TValue* base, std::int32_t count, std::int32_t);
void CurrentProcess(TValue* base, std::int32_t count, std::int32_t);
void CurrentFunc(TValue* base, std::int32_t count, std::int32_t);
} // namespace natives

} // namespace plimo
