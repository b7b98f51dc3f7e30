#include "compiler/eval.h"

#include "classes/rtti.h"
#include "classes/runtime.h"
#include "core/errors.h"
#include "core/instance.h"
#include "core/interpreter.h"
#include "core/process.h"
#include "platform/files.h"
#include "resources/resource.h"
#include "resources/resource_system.h"

namespace plimo {

std::unique_ptr<TRTTI> TEvalCache::Get(std::string_view text, bool report) {
    // A class without a source file: nothing is logged for it and no class file is written.
    auto cls = std::make_unique<TRTTI>("eval" + std::to_string(counter++), m_resources);
    TVm* vm = TVm::Current();
    lastCompileOk = vm && vm->classCompiler && !vm->classCompiler->Compile(*cls, text, report);
    if (!lastCompileOk || !cls->compiled) return nullptr;
    return cls;
}

namespace {

// Runs the main code of a compiled eval class on a new instance, to its end. The instance is destroyed
// at once afterwards (its destructor runs now, not when its block is reused), since its class goes too.
int RunEvalClass(TRTTI& cls) {
    TInterpreter* interp = TInterpreter::Current();
    if (!interp) return kEvalCompileError;
    TInstance* self = cls.NewInstance();
    std::int32_t state;
    {
        std::unique_ptr<TProcess> process = TProcess::Create(self, "");
        interp->RunToEnd(*process);
        state = process->ErrorState();
    }
    if (self->refCount >= 0) DestroyInstance(self);
    return state;
}

} // namespace

int Eval(std::string_view text, bool report) {
    TRuntime* rt = TRuntime::Current();
    if (!rt || !rt->evalCache) return kEvalCompileError;
    std::unique_ptr<TRTTI> cls = rt->evalCache->Get(text, report);
    if (!cls) return kEvalCompileError;
    return RunEvalClass(*cls);
}

TValue* ValueOf(std::string_view expression) {
    Eval("extends Object; $_tmp_valueOf=" + std::string(expression) + ";", true);
    return GlobalCell("$_tmp_valueOf");
}

TValue* GlobalCell(std::string_view name) {
    if (name.empty() || name[0] != '$') return nullptr;
    TRuntime* rt = TRuntime::Current();
    TResource* r = rt ? rt->Resolve(name) : nullptr;
    return r ? r->VariableSlot() : nullptr;
}

void SetGlobal(std::string_view name, const TValue& value) {
    if (TValue* cell = GlobalCell(name)) AssignValue(*cell, value);
}

TMultiEvaluator::TMultiEvaluator() {
    m_entries.emplace_back("extends Object; $_exec_checkPoint=-1;");
}

void TMultiEvaluator::Add(std::string_view text) {
    m_entries.push_back(std::string(text) + "\r\n$_exec_checkPoint=" + std::to_string(m_entries.size()) +
                        ";");
}

std::string TMultiEvaluator::Text() const {
    std::string out;
    for (const std::string& e : m_entries) out += e + "\r\n";
    return out;
}

bool TMultiEvaluator::SaveToFile(const std::string& path) const {
    return WriteFileAtomic(path, Text());
}

} // namespace plimo
