// A script machine with an interpreter, the kernel's core classes and hand-assembled code, for the
// interpreter and process tests.
#pragma once

#include <functional>
#include <string>

#include "core/interpreter.h"
#include "core/progwriter.h"
#include "platform/report.h"
#include "vm_fixture.h"

namespace plimo::testing {

class InterpFixture : public VmFixture {
protected:
    InterpFixture() {
        objectClass = MakeClass("Object", {});
        arrayClass = MakeClass("Array", {"_x"}, objectClass.get());
        vm.objectClass = objectClass.get();
        vm.arrayClass = arrayClass.get();
        vm.arrayBodySlot = 0;
    }

    using Emit = std::function<void(TProgWriter&)>;

    static std::unique_ptr<TCompiledInfo> Assemble(TRTTI& cls, const Emit& emit) {
        TProgWriter w(&cls);
        emit(w);
        w.WriteHalt();
        auto block = w.Finish();
        FuseCode(*block);
        return block;
    }

    // A bytecode method (or constructor, destructor) with `locals` local slots, defined in cls.
    template <class F = TNormalFunction>
    F* Method(TRTTI& cls, const char* name, int locals, const Emit& emit) {
        auto* f = new F(&cls, SymbolOf(name));
        f->localNames.assign(static_cast<std::size_t>(locals), "l");
        f->body = Assemble(cls, emit);
        cls.DefineMethod(f);
        return f;
    }

    TNativeFunction* Native(TRTTI& cls, const char* name, TNativeProc proc) {
        auto* f = new TNativeFunction(&cls, SymbolOf(name));
        f->proc = proc;
        cls.AddMethod(f);
        return f;
    }

    // A new array object (count 0) with an empty element list.
    TInstance* NewArray() {
        TInstance* a = arrayClass->NewInstance();
        SetHost(a->members()[0], new TElementList());
        return a;
    }
    static TElementList* Elements(TInstance* array) { return HostAs<TElementList>(array->members()[0]); }

    // Runs main code on a fresh instance of a class "Main" to its end; the process stays for checks.
    std::unique_ptr<TProcess> RunMain(const Emit& emit, std::int32_t budget = 0) {
        mainClass = MakeClass("Main", {"a", "b"}, objectClass.get());
        mainClass->mainCode = Assemble(*mainClass, emit);
        auto p = TProcess::Create(mainClass->NewInstance(), "");
        p->Run(budget);
        return p;
    }

    std::string ResultText(const TProcess& p) { return p.Result() ? ValueToText(*p.Result()) : "(none)"; }

    TCapturingReporter reporter;
    TInterpreter interp{vm, &reporter};
    std::unique_ptr<TRTTI> objectClass, arrayClass, mainClass;
};

} // namespace plimo::testing
