// A fresh script machine with the core classes laid out by hand, a runtime, and a way to call a native
// from a binding table as the interpreter does: receiver cell, arguments below it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "../core/vm_fixture.h"
#include "classes/native_bridge.h"
#include "classes/rtti.h"
#include "classes/runtime.h"
#include "core/instance.h"
#include "core/strings.h"
#include "core/value.h"
#include "core/vm.h"
#include "platform/report.h"
#include "resources/resource_system.h"

namespace plimo::testing {

class NativesFixture : public VmFixture {
protected:
    NativesFixture() {
        objectClass = MakeClass("Object", {});
        arrayClass = MakeClass("Array", {"_x"}, objectClass.get());
        vm.objectClass = objectClass.get();
        vm.arrayClass = arrayClass.get();
        vm.arrayBodySlot = 0;
        runtime.printHook = [this](std::string_view s) { printed.emplace_back(s); };
    }

    // Calls the native named name from table with receiver and arguments; gives the result (a counted
    // value the caller releases). The argument cells are released afterwards, as the interpreter does.
    TValue Call(std::span<const TNativeEntry> table, const std::string& name, TValue receiver,
                std::vector<TValue> args = {}) {
        TNativeProc proc = nullptr;
        for (const TNativeEntry& e : table)
            if (name == e.name) proc = e.proc;
        EXPECT_NE(proc, nullptr) << name;
        std::int32_t n = static_cast<std::int32_t>(args.size());
        TValue* cells = vm.AllocCells(static_cast<std::uint32_t>(n + 1));
        TValue* base = cells + n;
        *base = receiver;
        RetainValue(*base);
        for (std::int32_t i = 1; i <= n; ++i) {
            base[-i] = args[static_cast<std::size_t>(i - 1)];
            RetainValue(base[-i]);
        }
        if (proc) proc(base, n, 0);
        for (std::int32_t i = 1; i <= n; ++i) ReleaseValue(base[-i]);
        TValue result = *base;
        vm.FreeCells(cells, static_cast<std::uint32_t>(n + 1));
        return result;
    }

    static TValue I(std::int32_t n) { return TValue::Int(n); }
    static TValue F(float x) { return TValue::Float(x); }

    TCapturingReporter reporter;
    TResourceSystem resources{reporter};
    TRuntime runtime{vm, reporter, &resources};
    std::unique_ptr<TRTTI> objectClass, arrayClass;
    std::vector<std::string> printed;
};

} // namespace plimo::testing
