#include "vm/opcodes.h"

namespace talven::vm {

namespace {
constexpr OperandFormat kNone = OperandFormat::none;
constexpr OperandFormat kImm16 = OperandFormat::imm16;
constexpr OperandFormat kRR = OperandFormat::rr;
constexpr OperandFormat kRRImm = OperandFormat::rr_imm32;
constexpr OperandFormat kImm = OperandFormat::imm32;
}  // namespace

const OpcodeInfo kOpcodes[kOpcodeCount] = {
    {"(none)", kNone, ""},              // 0
    {"trap", kImm16, "N"},              // 1
    {"xchg", kRR, "rD, rS"},            // 2
    {"movl", kRR, "rD, rS"},            // 3
    {"movl", kRRImm, "rD, $imm"},       // 4
    {"movl", kRRImm, "rD, $sym"},       // 5
    {"movbl", kRRImm, "rD, sym"},       // 6
    {"movsbl", kRRImm, "rD, sym"},      // 7
    {"movwl", kRRImm, "rD, sym"},       // 8
    {"movswl", kRRImm, "rD, sym"},      // 9
    {"movl", kRRImm, "rD, sym"},        // 10
    {"lea", kRRImm, "rD, d(r6)"},       // 11
    {"movbl", kRRImm, "rD, d(r6)"},     // 12
    {"movsbl", kRRImm, "rD, d(r6)"},    // 13
    {"movwl", kRRImm, "rD, d(r6)"},     // 14
    {"movswl", kRRImm, "rD, d(r6)"},    // 15
    {"movl", kRRImm, "rD, d(r6)"},      // 16
    {"movbl", kRR, "rD, (rS)"},         // 17
    {"movsbl", kRR, "rD, (rS)"},        // 18
    {"movwl", kRR, "rD, (rS)"},         // 19
    {"movswl", kRR, "rD, (rS)"},        // 20
    {"movl", kRR, "rD, (rS)"},          // 21
    {"movb", kRRImm, "sym, rS"},        // 22
    {"movw", kRRImm, "sym, rS"},        // 23
    {"movl", kRRImm, "sym, rS"},        // 24
    {"movb", kRRImm, "d(r6), rS"},      // 25
    {"movw", kRRImm, "d(r6), rS"},      // 26
    {"movl", kRRImm, "d(r6), rS"},      // 27
    {"movb", kRR, "(rD), rS"},          // 28
    {"movw", kRR, "(rD), rS"},          // 29
    {"movl", kRR, "(rD), rS"},          // 30
    {"push", kRR, "rS"},                // 31
    {"push", kImm, "$imm"},             // 32
    {"pop", kRR, "rD"},                 // 33
    {"enter", kImm, "N"},               // 34
    {"leave", kImm, "N"},               // 35
    {"call", kImm, "sym"},              // 36
    {"call", kRR, "rS"},                // 37
    {"ret", kNone, ""},                 // 38
    {"preop", kRRImm, "rD, imm"},       // 39
    {"postop", kRRImm, "rD, imm"},      // 40
    {"preinc", kRR, "(rD) byte"},       // 41
    {"postinc", kRR, "(rD) byte"},      // 42
    {"predec", kRR, "(rD) byte"},       // 43
    {"postdec", kRR, "(rD) byte"},      // 44
    {"preinc", kRR, "(rD) word"},       // 45
    {"postinc", kRR, "(rD) word"},      // 46
    {"predec", kRR, "(rD) word"},       // 47
    {"postdec", kRR, "(rD) word"},      // 48
    {"zerob", kImm, "sym"},             // 49
    {"zerow", kImm, "sym"},             // 50
    {"zerol", kImm, "sym"},             // 51
    {"zerob", kImm, "d(r6)"},           // 52
    {"zerow", kImm, "d(r6)"},           // 53
    {"zerol", kImm, "d(r6)"},           // 54
    {"cmp", kRR, "rD, rS"},             // 55
    {"cmp", kRRImm, "rD, $imm"},        // 56
    {"set", kRR, "rD"},                 // 57
    {"add", kRR, "rD, rS"},             // 58
    {"add", kRRImm, "rD, $imm"},        // 59
    {"sub", kRR, "rD, rS"},             // 60
    {"sub", kRRImm, "rD, $imm"},        // 61
    {"mul", kRR, "rD, rS"},             // 62
    {"div", kRR, "rD, rS"},             // 63
    {"mod", kRR, "rD, rS"},             // 64
    {"shl", kRR, "rD, rS"},             // 65
    {"shr", kRR, "rD, rS"},             // 66
    {"sar", kRR, "rD, rS"},             // 67
    {"neg", kRR, "rD"},                 // 68
    {"not", kRR, "rD"},                 // 69
    {"and", kRR, "rD, rS"},             // 70
    {"or", kRR, "rD, rS"},              // 71
    {"xor", kRR, "rD, rS"},             // 72
    {"jmp", kImm, "target"},            // 73
    {"je", kImm, "target"},             // 74
    {"jne", kImm, "target"},            // 75
    {"jg", kImm, "target"},             // 76
    {"jge", kImm, "target"},            // 77
    {"jl", kImm, "target"},             // 78
    {"jle", kImm, "target"},            // 79
    {"ja", kImm, "target"},             // 80
    {"jae", kImm, "target"},            // 81
    {"jb", kImm, "target"},             // 82
    {"jbe", kImm, "target"},            // 83
    {"ftoi", kRR, "rD"},                // 84
    {"itof", kRR, "rD"},                // 85
    {"fadd", kRR, "rD, rS"},            // 86
    {"fsub", kRR, "rD, rS"},            // 87
    {"fmul", kRR, "rD, rS"},            // 88
    {"fdiv", kRR, "rD, rS"},            // 89
    {"fmod", kRR, "rD, rS"},            // 90
    {"fneg", kRR, "rD"},                // 91
};

}  // namespace talven::vm
