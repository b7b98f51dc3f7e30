// The value resources: global variables (TGlobalValue) and parameters (TfParam).
#pragma once

#include "resources/resource.h"

namespace plimo {

class TGlobalValue : public TResource {
public:
    // variable starts unset with the symbol of the name; it is a VM heap cell when a VM is alive, so
    // compiled code can hold a reference to it.
    TGlobalValue(std::string_view globalName, TResourceSystem* system);
    ~TGlobalValue() override;

    TValue* VariableSlot() override { return variable; }
    void InitStep(TInitContext& context) override;
    void SaveTo(TLines& lines, const std::string& indent) override;
    void ReleaseObjects() override;
    void MarkValues() override;

    TValue* variable;
    std::string valueText; // the initial value as script source text

private:
    TValue m_ownVariable{};
};

class TfParam : public TResource {
public:
    using TResource::TResource;
    void SaveTo(TLines& lines, const std::string& indent) override;

    std::string value;
};

} // namespace plimo
