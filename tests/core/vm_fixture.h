// A fresh script machine with the core String class, for the value and class tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "classes/rtti.h"
#include "core/instance.h"
#include "core/strings.h"
#include "core/value.h"
#include "core/vm.h"

namespace plimo::testing {

class VmFixture : public ::testing::Test {
protected:
    VmFixture() {
        stringClass = MakeClass("String", {"_body"});
        vm.stringClass = stringClass.get();
    }

    // A compiled class with the given own members (after the inherited ones).
    std::unique_ptr<TRTTI> MakeClass(const std::string& name, std::initializer_list<const char*> members,
                                     TRTTI* super = nullptr) {
        auto cls = std::make_unique<TRTTI>(name);
        cls->superclass = super;
        cls->InheritMembers();
        cls->InheritMethods();
        for (const char* m : members) cls->MemberSlot(m);
        cls->compiled = true;
        return cls;
    }

    // A counted value holding a new string; release it with ReleaseValue (or let a cell own it).
    TValue Str(const std::string& text) {
        TValue v = TValue::Null();
        SetObject(v, MakeString(text));
        return v;
    }
    TValue Obj(TInstance* instance) {
        TValue v = TValue::Null();
        SetObject(v, instance);
        return v;
    }

    TVm vm{std::size_t(1) << 28};
    std::unique_ptr<TRTTI> stringClass;
};

} // namespace plimo::testing
