// The script's own file access: streams on plain files (fopen ... fputs), the one system file bound
// to a block of script memory (sysfile, sysio), whole data files read into a new block (mload), and
// the 16 pack slots (pack_*).
#pragma once
#include <cstdint>

#include "vm/script_memory.h"

namespace talven::archive {

// Streams are handles 1 to kStreamSlots into a fixed table (0 means none); a script can keep this
// many files open at once.
inline constexpr int kStreamSlots = 256;
// The longest name sysfile accepts, in bytes.
inline constexpr std::uint32_t kSystemFileNameLimit = 259;

std::uint32_t bi_fopen(vm::Address arguments);
std::uint32_t bi_fclose(vm::Address arguments);
std::uint32_t bi_fread(vm::Address arguments);
std::uint32_t bi_fwrite(vm::Address arguments);
std::uint32_t bi_fseek(vm::Address arguments);
std::uint32_t bi_ftell(vm::Address arguments);
std::uint32_t bi_fgets(vm::Address arguments);
std::uint32_t bi_fputs(vm::Address arguments);
std::uint32_t bi_sysfile(vm::Address arguments);
std::uint32_t bi_sysio(vm::Address arguments);
std::uint32_t bi_mload(vm::Address arguments);

std::uint32_t bi_pack_save(vm::Address arguments);
std::uint32_t bi_pack_open(vm::Address arguments);
std::uint32_t bi_pack_close(vm::Address arguments);
std::uint32_t bi_pack_read(vm::Address arguments);
std::uint32_t bi_pack_seek(vm::Address arguments);
std::uint32_t bi_pack_size(vm::Address arguments);

// Closes every open stream (their buffered output is written), as at the end of the process.
void close_all_streams();

// The last step of the VM runtime's shutdown: when sysfile bound a file, its block is written to
// it and the binding is dropped. False when there was nothing to write or it could not be written.
bool write_system_file_at_shutdown();
// Drops the binding without writing.
void clear_system_file_binding();

}  // namespace talven::archive
