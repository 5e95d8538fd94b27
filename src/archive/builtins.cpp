// The built-ins of this module, by table index. Packed files and files.
// Entries whose handler is nullptr are not built yet; the gate tells the user so when a script
// calls one.
#include "archive/archive.h"

#include "archive/data_drive.h"
#include "archive/fast_file.h"
#include "archive/file_builtins.h"
#include "archive/pack_file.h"

namespace talven::archive {

namespace {

constexpr vm::BuiltinEntry kBuiltins[] = {
    // Pack files and files
    {170, "pack_save", 3, 1, bi_pack_save},
    {171, "pack_open", 1, 1, bi_pack_open},
    {172, "pack_close", 1, 1, bi_pack_close},
    {173, "pack_read", 3, 1, bi_pack_read},
    {174, "pack_seek", 3, 1, bi_pack_seek},
    {175, "pack_size", 1, 1, bi_pack_size},
    {176, "fopen", 2, 1, bi_fopen},
    {177, "fclose", 1, 1, bi_fclose},
    {178, "fread", 4, 1, bi_fread},
    {179, "fwrite", 4, 1, bi_fwrite},
    {180, "fseek", 3, 1, bi_fseek},
    {181, "ftell", 1, 1, bi_ftell},
    {182, "fgets", 3, 1, bi_fgets},
    {183, "fputs", 2, 1, bi_fputs},
    {184, "sysfile", 3, 1, bi_sysfile},
    {185, "sysio", 1, 1, bi_sysio},
    {186, "mload", 3, 1, bi_mload},
};

}  // namespace

void reset_archive_state() {
  close_pack_slots();
  close_all_streams();
  clear_system_file_binding();
  set_data_drive({});
  set_data_drive_directory({});
  set_file_system(kDefaultFileSystem);
  set_content_allocator_for_testing(nullptr);
}

vm::BuiltinSpan builtins() { return kBuiltins; }

}  // namespace talven::archive
