// The ".bin" archive format: a scrambled directory of members sorted by the archive name order,
// a plain name table, and the members' bytes stored as they are. Shared by the reader, the
// archive tool and the fuzz target.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talven::archive {

inline constexpr char kArchiveMagic[8] = {'T', 'L', 'V', '-', 'A', 'R', 'C', '2'};
inline constexpr std::uint32_t kArchiveKey = 0x3A71C4D9;
inline constexpr std::size_t kArchiveHeaderSize = 20;
inline constexpr std::size_t kDirectoryEntrySize = 12;

// The sequence that scrambles the count, the names size and the directory words, in that order.
class ArchiveKeystream {
 public:
  explicit ArchiveKeystream(std::uint32_t seed) : state_(seed) {}
  std::uint32_t next();

 private:
  std::uint32_t state_;
};

// The archive name order: ASCII letters compare without regard to case, full-width Latin letters
// of cp932 likewise, everything else by its byte or double-byte value. A name ends at a NUL, at
// a lead byte followed by NUL, or at the end of the view. Negative, zero or positive.
int compare_archive_names(std::string_view a, std::string_view b);

struct ArchiveHeader {
  std::uint32_t seed = 0;
  std::uint32_t count = 0;
  std::uint32_t names_size = 0;
  // Bytes of directory and name table that follow the header.
  std::uint64_t directory_bytes() const { return std::uint64_t{count} * kDirectoryEntrySize + names_size; }
};

// Checks the magic and unscrambles the counts of the 20 header bytes. `keystream` (started from
// the header's seed) is left ready for the directory words.
bool decode_archive_header(const std::uint8_t* bytes, ArchiveHeader& header, ArchiveKeystream& keystream);

// Unscrambles `count` directory entries in place.
void unscramble_directory(std::uint8_t* entries, std::uint32_t count, ArchiveKeystream& keystream);

struct DirectoryEntry {
  std::uint32_t name_offset = 0;
  std::uint32_t data_offset = 0;
  std::uint32_t data_size = 0;
};

// An unscrambled directory and its name table, as read from an archive.
struct DirectoryView {
  const std::uint8_t* entries = nullptr;
  std::uint32_t count = 0;
  const std::uint8_t* names = nullptr;
  std::uint32_t names_size = 0;

  DirectoryEntry entry(std::uint32_t index) const;
  // The entry's name (up to its NUL or the end of the table); false when the name offset lies
  // outside the table.
  bool name(const DirectoryEntry& entry, std::string_view& name) const;
};

enum class LookupResult { found, absent, damaged };

// Binary search for `member` (cp932). `damaged` when a visited entry names a place outside the
// name table.
LookupResult find_member(const DirectoryView& directory, std::string_view member, DirectoryEntry& found);

// What an archive writer needs: the members in archive name order and the seed. Builds the
// header, the scrambled directory and the name table; the members' bytes follow in the given order
// starting at `front.size()`. False (with `error` set) when the archive would pass 4 GiB.
struct ArchiveMemberPlan {
  std::string name;  // cp932
  std::uint64_t size = 0;
};
bool build_archive_front(std::uint32_t seed, const std::vector<ArchiveMemberPlan>& members,
                         std::vector<std::uint8_t>& front, std::string& error);

}  // namespace talven::archive
