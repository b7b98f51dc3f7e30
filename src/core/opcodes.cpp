#include "core/opcodes.h"

namespace plimo {

const TOpcodeInfo kOpcodeInfo[OpcodeCount] = {
#define PLIMO_OPCODE_INFO(name, size, form, text) {"Op_" #name, size, TListForm::form, text},
    PLIMO_OPCODES(PLIMO_OPCODE_INFO)
#undef PLIMO_OPCODE_INFO
};

std::string OpcodeName(std::int32_t code) {
    return IsValidOpcode(code) ? kOpcodeInfo[code].name : "Invalid Code";
}

} // namespace plimo
