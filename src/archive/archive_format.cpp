#include "archive/archive_format.h"

#include <cstring>

#include "platform/sjis.h"

namespace talven::archive {
namespace {

std::uint32_t load_le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void store_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// The next character's comparison value of `s` at `i`, advancing `i`; 0 at the end of the name.
std::uint32_t next_name_value(std::string_view s, std::size_t& i) {
  if (i >= s.size()) return 0;
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c == 0) return 0;
  if (platform::is_sjis_lead(c)) {
    if (i + 1 >= s.size() || s[i + 1] == '\0') {
      i = s.size();
      return 0;
    }
    std::uint32_t value = std::uint32_t{c} << 8 | static_cast<unsigned char>(s[i + 1]);
    i += 2;
    if (value >= 0x8281 && value <= 0x829A) value -= 0x21;  // full-width a-z to A-Z
    return value;
  }
  ++i;
  return c >= 'A' && c <= 'Z' ? c + 32u : c;
}

}  // namespace

std::uint32_t ArchiveKeystream::next() {
  std::uint32_t x = state_ ^ kArchiveKey;
  state_ = x ^ ((x ^ (x >> 1)) >> 3) ^ ((x ^ (x << 1)) << 3);
  return state_;
}

int compare_archive_names(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  for (;;) {
    std::uint32_t x = next_name_value(a, i);
    std::uint32_t y = next_name_value(b, j);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

bool decode_archive_header(const std::uint8_t* bytes, ArchiveHeader& header, ArchiveKeystream& keystream) {
  if (std::memcmp(bytes, kArchiveMagic, sizeof kArchiveMagic) != 0) return false;
  header.seed = load_le32(bytes + 8);
  keystream = ArchiveKeystream(header.seed);
  header.count = load_le32(bytes + 12) ^ keystream.next();
  header.names_size = load_le32(bytes + 16) ^ keystream.next();
  return true;
}

void unscramble_directory(std::uint8_t* entries, std::uint32_t count, ArchiveKeystream& keystream) {
  std::uint8_t* end = entries + std::size_t{count} * kDirectoryEntrySize;
  for (std::uint8_t* p = entries; p < end; p += 4) store_le32(p, load_le32(p) ^ keystream.next());
}

DirectoryEntry DirectoryView::entry(std::uint32_t index) const {
  const std::uint8_t* p = entries + std::size_t{index} * kDirectoryEntrySize;
  return {load_le32(p), load_le32(p + 4), load_le32(p + 8)};
}

bool DirectoryView::name(const DirectoryEntry& e, std::string_view& out) const {
  if (e.name_offset >= names_size) return false;
  const char* start = reinterpret_cast<const char*>(names) + e.name_offset;
  std::size_t room = names_size - e.name_offset;
  const void* nul = std::memchr(start, 0, room);
  out = std::string_view(start, nul ? static_cast<const char*>(nul) - start : room);
  return true;
}

LookupResult find_member(const DirectoryView& directory, std::string_view member, DirectoryEntry& found) {
  std::int64_t lo = 0, hi = std::int64_t{directory.count} - 1;
  while (lo <= hi) {
    std::int64_t mid = (lo + hi) / 2;
    DirectoryEntry e = directory.entry(static_cast<std::uint32_t>(mid));
    std::string_view name;
    if (!directory.name(e, name)) return LookupResult::damaged;
    int order = compare_archive_names(member, name);
    if (order < 0) {
      hi = mid - 1;
    } else if (order > 0) {
      lo = mid + 1;
    } else {
      found = e;
      return LookupResult::found;
    }
  }
  return LookupResult::absent;
}

bool build_archive_front(std::uint32_t seed, const std::vector<ArchiveMemberPlan>& members,
                         std::vector<std::uint8_t>& front, std::string& error) {
  constexpr std::uint64_t kLimit = 0xFFFFFFFFull;
  std::uint64_t names_size = 0;
  for (const ArchiveMemberPlan& m : members) names_size += m.name.size() + 1;
  std::uint64_t front_size = kArchiveHeaderSize + members.size() * kDirectoryEntrySize + names_size;
  std::uint64_t total = front_size;
  for (const ArchiveMemberPlan& m : members) total += m.size;
  if (members.size() > kLimit || names_size > kLimit || total > kLimit) {
    error = "the archive would be larger than 4 GiB, which its 32-bit offsets cannot address";
    return false;
  }

  front.assign(front_size, 0);
  std::memcpy(front.data(), kArchiveMagic, sizeof kArchiveMagic);
  ArchiveKeystream keystream(seed);
  store_le32(front.data() + 8, seed);
  store_le32(front.data() + 12, static_cast<std::uint32_t>(members.size()) ^ keystream.next());
  store_le32(front.data() + 16, static_cast<std::uint32_t>(names_size) ^ keystream.next());

  std::uint8_t* entry = front.data() + kArchiveHeaderSize;
  std::uint8_t* names = entry + members.size() * kDirectoryEntrySize;
  std::uint32_t name_offset = 0;
  std::uint64_t data_offset = front_size;
  for (const ArchiveMemberPlan& m : members) {
    store_le32(entry, name_offset ^ keystream.next());
    store_le32(entry + 4, static_cast<std::uint32_t>(data_offset) ^ keystream.next());
    store_le32(entry + 8, static_cast<std::uint32_t>(m.size) ^ keystream.next());
    std::memcpy(names + name_offset, m.name.data(), m.name.size());
    name_offset += static_cast<std::uint32_t>(m.name.size() + 1);
    data_offset += m.size;
    entry += kDirectoryEntrySize;
  }
  return true;
}

}  // namespace talven::archive
