// talven-arc: creates, lists and extracts ".bin" archives, and packs and unpacks pack files.
// See `talven-arc --help`.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "archive/pack_codec.h"
#include "archive/pack_file.h"
#include "shell/error_reporter.h"
#include "platform/files.h"
#include "platform/text_encoding.h"
#include "platform/sjis.h"

namespace fs = std::filesystem;
using namespace talven;

namespace {

constexpr const char* kUsage =
    "usage: talven-arc COMMAND ARGUMENTS\n"
    "\n"
    "Archives hold a game's data files; the engine finds the member bg/title.png of data.bin when\n"
    "a script opens data/bg/title.png. Pack files are data files compressed with the engine's own\n"
    "codec; the engine unpacks them transparently, inside archives or on disk.\n"
    "\n"
    "commands:\n"
    "  create ARCHIVE.bin DIR [--seed N] [--separator /|\\]\n"
    "      Puts every file below DIR into a new ARCHIVE.bin. A member is named by its path below\n"
    "      DIR, written with the chosen separator (default /; scripts must then use the same one\n"
    "      after the archive's part of a path) and converted to Shift_JIS (cp932). The directory\n"
    "      is scrambled with a seed chosen at random unless --seed gives one (decimal or 0x...).\n"
    "      Names that differ only in letter case cannot share an archive.\n"
    "  list ARCHIVE.bin\n"
    "      Prints each member's size in bytes and name, in directory order.\n"
    "  extract ARCHIVE.bin [OUTDIR]\n"
    "      Writes every member below OUTDIR (default: the archive's name without .bin), making\n"
    "      folders for the separators (/ and \\) in member names.\n"
    "  pack FILE [OUT]\n"
    "      Compresses FILE into the pack file OUT (default FILE.pack).\n"
    "  unpack FILE [OUT]\n"
    "      Decompresses the pack file FILE into OUT (default FILE without .pack, or FILE.unpacked).\n"
    "  --help\n"
    "      Prints this text.\n"
    "\n"
    "An existing output file is replaced only once the new one is complete. Errors are printed\n"
    "and give exit status 1; wrong usage gives 2.\n";

int usage_error(const char* message) {
  std::fprintf(stderr, "talven-arc: %s\nRun 'talven-arc --help' for usage.\n", message);
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "talven-arc: %s\n", message.c_str());
  return 1;
}

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) {
    error = "cannot read " + path;
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool write_whole_file(const std::string& path, const std::uint8_t* bytes, std::size_t size, std::string& error) {
  platform::FileReplacement out(path);
  if (!out.is_open()) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!out.file().write(bytes, size) || !out.commit()) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// ---- create

struct SourceFile {
  std::string host_path;
  std::string shown_name;  // UTF-8, as the user sees it
  archive::ArchiveMemberPlan plan;
};

bool parse_seed(const char* text, std::uint32_t& seed) {
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || value > 0xFFFFFFFFull || text[0] == '-') return false;
  seed = static_cast<std::uint32_t>(value);
  return true;
}

int create_archive(const std::string& archive_path, const std::string& dir, bool seed_given, std::uint32_t seed,
                   char separator) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail(dir + " is not a folder");

  std::vector<SourceFile> files;
  fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec), end;
  if (ec) return fail("cannot list " + dir + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) return fail("cannot list " + dir + ": " + ec.message());
    if (!it->is_regular_file(ec)) continue;
    if (fs::exists(archive_path) && fs::equivalent(it->path(), archive_path, ec)) continue;
    SourceFile file;
    file.host_path = it->path().string();
    std::string name;
    for (const fs::path& part : fs::relative(it->path(), dir)) {
      if (!name.empty()) name += separator;
      name += part.string();
    }
    file.shown_name = name;
    file.plan.name = platform::utf8_to_cp932(name);
    if (platform::cp932_to_utf8(file.plan.name) != name)
      return fail("the name " + name + " cannot be written in Shift_JIS (cp932)");
    file.plan.size = it->file_size(ec);
    if (ec) return fail("cannot read the size of " + file.host_path + ": " + ec.message());
    files.push_back(std::move(file));
  }

  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) {
    return archive::compare_archive_names(a.plan.name, b.plan.name) < 0;
  });
  for (std::size_t i = 1; i < files.size(); ++i) {
    if (archive::compare_archive_names(files[i - 1].plan.name, files[i].plan.name) == 0)
      return fail("the names " + files[i - 1].shown_name + " and " + files[i].shown_name +
                  " differ only in letter case; an archive cannot hold both");
  }

  if (!seed_given) seed = std::random_device{}();
  std::vector<archive::ArchiveMemberPlan> plans;
  for (const SourceFile& f : files) plans.push_back(f.plan);
  std::vector<std::uint8_t> front;
  std::string error;
  if (!archive::build_archive_front(seed, plans, front, error)) return fail(error);

  platform::FileReplacement out(archive_path);
  if (!out.is_open()) return fail("cannot create " + archive_path + ": " + std::strerror(errno));
  if (!out.file().write(front.data(), front.size())) return fail("cannot write " + archive_path);
  std::vector<char> chunk(1 << 20);
  for (const SourceFile& f : files) {
    std::ifstream in(f.host_path, std::ios::binary);
    if (!in) return fail("cannot open " + f.host_path);
    std::uint64_t copied = 0;
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      std::size_t n = static_cast<std::size_t>(in.gcount());
      if (n == 0) break;
      if (!out.file().write(chunk.data(), n)) return fail("cannot write " + archive_path);
      copied += n;
    }
    if (in.bad() || copied != f.plan.size) return fail(f.host_path + " changed or could not be read while archiving");
  }
  if (!out.commit()) return fail("cannot write " + archive_path + ": " + std::strerror(errno));
  std::printf("%s: %zu members, seed 0x%08X\n", archive_path.c_str(), files.size(), seed);
  return 0;
}

// ---- list and extract

struct Member {
  std::string name;  // cp932
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

bool read_directory(const std::string& archive_path, std::vector<Member>& members, std::string& error) {
  platform::HostFile file = platform::open_for_reading(archive_path);
  if (!file.is_open()) {
    error = "cannot open " + archive_path + ": " + std::strerror(errno);
    return false;
  }
  std::int64_t file_size = file.size();
  std::uint8_t header_bytes[archive::kArchiveHeaderSize];
  std::size_t got = 0;
  archive::ArchiveHeader header;
  archive::ArchiveKeystream keystream(0);
  if (!file.read(header_bytes, sizeof header_bytes, &got) || got != sizeof header_bytes ||
      !archive::decode_archive_header(header_bytes, header, keystream)) {
    error = archive_path + " is not an archive (it does not begin with \"TLV-ARC2\")";
    return false;
  }
  std::uint64_t bytes = header.directory_bytes();
  if (bytes > static_cast<std::uint64_t>(file_size) - sizeof header_bytes) {
    error = archive_path + " is damaged: its directory is larger than the file";
    return false;
  }
  std::vector<std::uint8_t> buffer(bytes);
  if (!file.read(buffer.data(), bytes, &got) || got != bytes) {
    error = "cannot read the directory of " + archive_path;
    return false;
  }
  archive::unscramble_directory(buffer.data(), header.count, keystream);
  archive::DirectoryView view{buffer.data(), header.count,
                              buffer.data() + std::size_t{header.count} * archive::kDirectoryEntrySize,
                              header.names_size};
  for (std::uint32_t i = 0; i < header.count; ++i) {
    archive::DirectoryEntry e = view.entry(i);
    std::string_view name;
    if (!view.name(e, name)) {
      error = archive_path + " is damaged: entry " + std::to_string(i) + " names a place outside the name table";
      return false;
    }
    if (std::uint64_t{e.data_offset} + e.data_size > static_cast<std::uint64_t>(file_size)) {
      error = archive_path + " is damaged: the data of " + platform::cp932_to_utf8(name) +
              " lies beyond the end of the file";
      return false;
    }
    members.push_back({std::string(name), e.data_offset, e.data_size});
  }
  return true;
}

int list_archive(const std::string& archive_path) {
  std::vector<Member> members;
  std::string error;
  if (!read_directory(archive_path, members, error)) return fail(error);
  for (const Member& m : members) std::printf("%10u  %s\n", m.size, platform::cp932_to_utf8(m.name).c_str());
  return 0;
}

// The member name's folders and file name as host path parts; false for names that would leave
// the output folder.
bool member_parts(const std::string& name, std::vector<std::string>& parts) {
  std::string run;
  auto end_part = [&]() {
    if (run.empty() || run == "." || run == "..") return false;
    parts.push_back(platform::cp932_to_utf8(run));
    run.clear();
    return true;
  };
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (platform::is_sjis_lead(static_cast<unsigned char>(c)) && i + 1 < name.size()) {
      run += c;
      run += name[++i];
    } else if (c == '/' || c == '\\') {
      if (!end_part()) return false;
    } else {
      run += c;
    }
  }
  return end_part();
}

int extract_archive(const std::string& archive_path, std::string out_dir) {
  if (out_dir.empty()) {
    out_dir = archive_path;
    std::string suffix = out_dir.size() > 4 ? out_dir.substr(out_dir.size() - 4) : std::string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
    if (suffix == ".bin")
      out_dir.resize(out_dir.size() - 4);
    else
      out_dir += ".files";
  }
  std::vector<Member> members;
  std::string error;
  if (!read_directory(archive_path, members, error)) return fail(error);
  platform::HostFile file = platform::open_for_reading(archive_path);
  if (!file.is_open()) return fail("cannot open " + archive_path);
  std::vector<std::uint8_t> data;
  for (const Member& m : members) {
    std::vector<std::string> parts;
    std::string shown = platform::cp932_to_utf8(m.name);
    if (!member_parts(m.name, parts)) return fail("the member name " + shown + " would leave the output folder");
    fs::path target = out_dir;
    for (const std::string& p : parts) target /= p;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return fail("cannot create the folder " + target.parent_path().string() + ": " + ec.message());
    data.resize(m.size);
    std::size_t got = 0;
    if (file.seek(m.offset, 0) != m.offset || !file.read(data.data(), m.size, &got) || got != m.size)
      return fail("cannot read the member " + shown);
    if (!write_whole_file(target.string(), data.data(), data.size(), error)) return fail(error);
  }
  std::printf("%s: %zu members extracted to %s\n", archive_path.c_str(), members.size(), out_dir.c_str());
  return 0;
}

// ---- pack and unpack

int pack_file(const std::string& in_path, std::string out_path) {
  if (out_path.empty()) out_path = in_path + ".pack";
  std::vector<std::uint8_t> data;
  std::string error;
  if (!read_whole_file(in_path, data, error)) return fail(error);
  if (data.size() > 0xFFFFFFFFu) return fail(in_path + " is larger than a pack file can hold (4 GiB)");
  if (!archive::write_pack_file(out_path, data.data(), data.size()))
    return fail("cannot write " + out_path + ": " + std::strerror(errno));
  return 0;
}

int unpack_file(const std::string& in_path, std::string out_path) {
  if (out_path.empty()) {
    out_path = in_path;
    if (out_path.size() > 5 && out_path.compare(out_path.size() - 5, 5, ".pack") == 0)
      out_path.resize(out_path.size() - 5);
    else
      out_path += ".unpacked";
  }
  std::vector<std::uint8_t> packed, data;
  std::string error;
  if (!read_whole_file(in_path, packed, error)) return fail(error);
  switch (archive::unpack_bytes(packed.data(), packed.size(), data)) {
    case archive::UnpackStatus::ok: break;
    case archive::UnpackStatus::not_packed:
      return fail(in_path + " is not a pack file (it does not begin with \"acp\" and a zero byte)");
    case archive::UnpackStatus::damaged:
    case archive::UnpackStatus::too_large: return fail(in_path + " is damaged: its codes do not decode");
  }
  if (!write_whole_file(out_path, data.data(), data.size(), error)) return fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  talven::shell::install_error_reporter();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage_error("no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }

  if (command == "create") {
    std::vector<std::string> positional;
    bool seed_given = false;
    std::uint32_t seed = 0;
    char separator = '/';
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--seed" || args[i] == "--separator") {
        if (i + 1 >= args.size()) return usage_error((args[i] + " needs a value").c_str());
        const std::string& value = args[++i];
        if (args[i - 1] == "--seed") {
          if (!parse_seed(value.c_str(), seed)) return usage_error("the seed must be a number from 0 to 4294967295");
          seed_given = true;
        } else {
          if (value != "/" && value != "\\") return usage_error("the separator must be / or \\");
          separator = value[0];
        }
      } else if (args[i].starts_with("--")) {
        return usage_error(("unknown option " + args[i]).c_str());
      } else {
        positional.push_back(args[i]);
      }
    }
    if (positional.size() != 2) return usage_error("create needs ARCHIVE.bin and DIR");
    return create_archive(positional[0], positional[1], seed_given, seed, separator);
  }

  bool known = command == "list" || command == "extract" || command == "pack" || command == "unpack";
  if (!known) return usage_error(("unknown command " + command).c_str());
  std::size_t most = command == "list" ? 2 : 3;
  if (args.size() < 2 || args.size() > most) return usage_error(("wrong number of arguments for " + command).c_str());
  std::string second = args.size() > 2 ? args[2] : std::string();
  if (command == "list") return list_archive(args[1]);
  if (command == "extract") return extract_archive(args[1], second);
  if (command == "pack") return pack_file(args[1], second);
  return unpack_file(args[1], second);
}
