#include "resources/values.h"

#include "compiler/codegen.h"
#include "core/symbols.h"
#include "core/vm.h"
#include "resources/resource_system.h"
#include "resources/sgml.h"

namespace plimo {

TGlobalValue::TGlobalValue(std::string_view globalName, TResourceSystem* system) : TResource(system) {
    name = std::string(globalName);
    TVm* vm = TVm::Current();
    variable = vm ? vm->AllocCells(1) : &m_ownVariable;
    *variable = TValue::Unset(vm ? SymbolOf(name) : 0);
}

TGlobalValue::~TGlobalValue() {
    try {
        ReleaseValue(*variable);
    } catch (const std::exception&) {
        // The count was wrong already; a destructor cannot raise.
    }
    ClearValue(*variable);
    if (variable != &m_ownVariable)
        if (TVm* vm = TVm::Current()) vm->FreeCells(variable, 1);
}

void TGlobalValue::InitStep(TInitContext& context) {
    ++context.done;
    if (!valueText.empty() && m_system && m_system->runtime)
        m_system->runtime->Eval(name + "=" + valueText + ";", true);
}

void TGlobalValue::SaveTo(TLines& lines, const std::string& indent) {
    // The value written is the live one of the global this name stands for at the root.
    std::string text;
    TResource* live = name.empty() || name[0] != '$' || !m_system ? nullptr : m_system->FindGlobal(name);
    if (const TValue* v = live ? live->VariableSlot() : nullptr) {
        if (v->tag == vtInt)
            text = std::to_string(v->asInt());
        else if (IsStringObject(*v))
            text = EncodeStringLiteral(StringText(ObjectOf(*v))); // evaluated as source when read back
    }
    valueText = text;
    lines.push_back(indent + "<globalvalue name=\"" + TSGML::EscapeValue(name) + "\" value=\"" +
                    TSGML::EscapeValue(text) + "\"/>");
}

void TGlobalValue::ReleaseObjects() {
    TResource::ReleaseObjects();
    if (variable->tag != vtObject && variable->tag != vtHost) return;
    try {
        SetNull(*variable);
    } catch (const std::exception&) {
        ClearValue(*variable);
    }
}

void TGlobalValue::MarkValues() {
    TResource::MarkValues();
    if (m_system && m_system->runtime) m_system->runtime->MarkValue(*variable);
}

void TfParam::SaveTo(TLines& lines, const std::string& indent) {
    lines.push_back(indent + "<param name=\"" + TSGML::EscapeValue(name) + "\" value=\"" +
                    TSGML::EscapeValue(value) + "\"/>");
}

} // namespace plimo
