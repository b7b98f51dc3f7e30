// Script objects: the class of an instance and instance destruction.
#pragma once

#include "core/value.h"

namespace plimo {

// The class of an instance (none for a block whose class is gone).
TRTTI* InstanceClass(const TInstance* instance);

// Destroys one instance: its class's destructor runs as a short process (through the VM's method
// runner), then its members are released in slot order, and the block becomes free (count -1). A
// release error stops the member releases and is reported as a progress line; the block is still freed.
// A destructor that keeps a reference to the instance stops the destruction: the instance lives on.
void DestroyInstance(TInstance* instance);

// Sets every member to vtUnset with its name's symbol id, as a fresh instance has them.
void ResetMembers(TInstance* instance);

} // namespace plimo
