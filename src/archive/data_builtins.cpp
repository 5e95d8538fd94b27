// mload and the pack_* built-ins: data files read through the archive reader and the pack codec.
#include <algorithm>

#include "archive/file_builtins.h"
#include "archive/pack_file.h"
#include "vm/call_gate.h"

namespace talven::archive {
namespace {

constexpr std::uint32_t kFailed = static_cast<std::uint32_t>(-1);

}  // namespace

std::uint32_t bi_mload(vm::Address arguments) {
  auto name = vm::load_string(vm::argument_word(arguments, 0));
  std::int32_t offset = vm::argument_int(arguments, 1);
  std::int32_t size = vm::argument_int(arguments, 2);
  if (!name) return 0;
  ExpFile* file = OpenExpFile(std::string(*name).c_str());
  if (file == nullptr) return 0;

  std::int64_t content = GetExpFileSize(file);
  std::int64_t wanted = size < 1 ? content : size;
  // The block comes from the script heap so that the script's free releases it; at least one
  // byte, so an empty file still gives a block.
  vm::Address block = 0 <= wanted && wanted <= 0xFFFFFFFFll
                          ? vm::script_alloc(static_cast<std::uint32_t>(std::max<std::int64_t>(wanted, 1)))
                          : 0;
  if (block == 0) {
    CloseExpFile(file);
    return 0;
  }
  // An offset beyond the content is refused and reading starts at the beginning.
  if (offset > 0 && offset <= content) SeekExpFile(file, offset, 0);
  std::uint32_t got = 0;
  ReadExpFile(file, vm::host_pointer(block), static_cast<std::uint32_t>(wanted), &got);
  CloseExpFile(file);
  return block;
}

std::uint32_t bi_pack_save(vm::Address arguments) {
  vm::Address name_address = vm::argument_word(arguments, 0);
  vm::Address block = vm::argument_word(arguments, 1);
  std::int32_t length = vm::argument_int(arguments, 2);
  auto name = vm::load_string(name_address);
  std::string path = name ? std::string(*name) : std::string();
  if (block == 0 || length <= 0) return static_cast<std::uint32_t>(pack_save(path.c_str(), nullptr, 0));
  const std::uint8_t* bytes = vm::checked_pointer(block, static_cast<std::uint32_t>(length));
  if (bytes == nullptr) return 0;
  return static_cast<std::uint32_t>(pack_save(path.c_str(), bytes, length));
}

std::uint32_t bi_pack_open(vm::Address arguments) {
  auto name = vm::load_string(vm::argument_word(arguments, 0));
  if (!name) return 0;
  return static_cast<std::uint32_t>(pack_open(std::string(*name).c_str()));
}

std::uint32_t bi_pack_close(vm::Address arguments) {
  return static_cast<std::uint32_t>(pack_close(vm::argument_int(arguments, 0)));
}

std::uint32_t bi_pack_read(vm::Address arguments) {
  std::int32_t handle = vm::argument_int(arguments, 0);
  vm::Address buffer = vm::argument_word(arguments, 1);
  std::uint32_t count = vm::argument_word(arguments, 2);
  std::int32_t size = pack_size(handle);
  std::int32_t position = pack_seek(handle, 0, 1);
  if (size < 0 || position < 0) return kFailed;
  // Only the bytes that will really be read must lie in script memory.
  std::uint32_t n = position < size ? std::min<std::uint32_t>(count, static_cast<std::uint32_t>(size - position)) : 0;
  std::uint8_t* out = nullptr;
  if (n > 0 && (out = vm::checked_pointer(buffer, n)) == nullptr) return kFailed;
  return static_cast<std::uint32_t>(pack_read(handle, out, n));
}

std::uint32_t bi_pack_seek(vm::Address arguments) {
  return static_cast<std::uint32_t>(
      pack_seek(vm::argument_int(arguments, 0), vm::argument_int(arguments, 1), vm::argument_int(arguments, 2)));
}

std::uint32_t bi_pack_size(vm::Address arguments) {
  return static_cast<std::uint32_t>(pack_size(vm::argument_int(arguments, 0)));
}

}  // namespace talven::archive
