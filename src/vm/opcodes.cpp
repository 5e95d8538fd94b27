#include "vm/opcodes.h"

namespace talven::vm {

const OpcodeInfo kOpcodes[kOpcodeCount] = {
#define TALVEN_OPCODE_INFO(name, format, mnemonic, operands) {mnemonic, OperandFormat::format, operands},
    TALVEN_OPCODES(TALVEN_OPCODE_INFO)
#undef TALVEN_OPCODE_INFO
};

}  // namespace talven::vm
