// Regular expressions through Oniguruma: Shift_JIS text, the library's default syntax.
//
// Pattern handles are indexes into a table of compiled patterns. A match record is a 20-byte
// record in script memory laid out as the library's region is on a 32-bit build (allocated count,
// number of groups, address of the begin array, address of the end array, history); the region
// itself lives beside it on the host, and the record and its two arrays (also in script memory)
// are brought up to date after every search, match or clear.
#include <oniguruma.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "library/library_builtins.h"
#include "vm/call_gate.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

constexpr std::size_t kMaxPatterns = 4096;

struct MatchRecord {
  std::int32_t allocated;
  std::int32_t groups;
  Address begin;
  Address end;
  Address history;
};
static_assert(sizeof(MatchRecord) == 20);

struct HostRegion {
  OnigRegion* region = nullptr;
  Address begin = 0;  // script arrays of `capacity` words
  Address end = 0;
  std::int32_t capacity = 0;
};

// Patterns and regions that a script never freed live until the process ends; the tables are
// never destroyed, so they stay reachable (and releasable) until the very end.
std::vector<regex_t*>& g_patterns = *new std::vector<regex_t*>();        // handle = index + 1; nullptr = free
std::map<Address, HostRegion>& g_regions = *new std::map<Address, HostRegion>();  // by the record's address

void initialise_library() {
  static std::once_flag once;
  std::call_once(once, [] {
    OnigEncoding encodings[] = {ONIG_ENCODING_SJIS};
    onig_initialize(encodings, 1);
  });
}

regex_t* pattern(std::uint32_t handle) {
  if (handle == 0 || handle > g_patterns.size()) return nullptr;
  return g_patterns[handle - 1];
}

HostRegion* host_region(Address record) {
  auto it = g_regions.find(record);
  return it == g_regions.end() ? nullptr : &it->second;
}

// Copies the region's state into the script's record and arrays, growing the arrays as needed.
void mirror(Address record, HostRegion& host) {
  const OnigRegion* r = host.region;
  if (r->num_regs > host.capacity) {
    std::uint32_t bytes = static_cast<std::uint32_t>(r->num_regs) * 4u;
    Address begin = vm::script_alloc_zeroed(bytes), end = vm::script_alloc_zeroed(bytes);
    if (begin == 0 || end == 0) {
      vm::script_free(begin);
      vm::script_free(end);
      return;
    }
    vm::script_free(host.begin);
    vm::script_free(host.end);
    host.begin = begin;
    host.end = end;
    host.capacity = r->num_regs;
  }
  for (int i = 0; i < r->num_regs; ++i) {
    vm::store(host.begin + 4u * static_cast<Address>(i), static_cast<std::int32_t>(r->beg[i]));
    vm::store(host.end + 4u * static_cast<Address>(i), static_cast<std::int32_t>(r->end[i]));
  }
  MatchRecord m{host.capacity, r->num_regs, host.begin, host.end, 0};
  vm::store(record, m);
}

// The text of a search or match: `length` bytes that must lie in script memory.
const OnigUChar* text_argument(Address text, std::int32_t length) {
  if (length < 0) return nullptr;
  return vm::checked_pointer(text, static_cast<std::uint32_t>(length));
}

OnigRegion* region_for(Address record) {
  HostRegion* host = record != 0 ? host_region(record) : nullptr;
  return host != nullptr ? host->region : nullptr;
}

void after_call(Address record) {
  if (HostRegion* host = record != 0 ? host_region(record) : nullptr) mirror(record, *host);
}

}  // namespace

std::uint32_t bi_reg_new(Address arguments) {
  auto text = vm::load_string(argument_word(arguments, 0));
  if (argument_word(arguments, 0) == 0 || !text) return 0;
  initialise_library();
  auto begin = reinterpret_cast<const OnigUChar*>(text->data());
  regex_t* compiled = nullptr;
  OnigErrorInfo info;
  if (onig_new(&compiled, begin, begin + text->size(), argument_word(arguments, 1), ONIG_ENCODING_SJIS,
               ONIG_SYNTAX_DEFAULT, &info) != ONIG_NORMAL)
    return 0;
  for (std::size_t i = 0; i < g_patterns.size(); ++i) {
    if (g_patterns[i] == nullptr) {
      g_patterns[i] = compiled;
      return static_cast<std::uint32_t>(i + 1);
    }
  }
  if (g_patterns.size() >= kMaxPatterns) {
    onig_free(compiled);
    return 0;
  }
  g_patterns.push_back(compiled);
  return static_cast<std::uint32_t>(g_patterns.size());
}

std::uint32_t bi_reg_free(Address arguments) {
  std::uint32_t handle = argument_word(arguments, 0);
  if (regex_t* r = pattern(handle)) {
    onig_free(r);
    g_patterns[handle - 1] = nullptr;
  }
  return 1;
}

std::uint32_t bi_reg_search(Address arguments) {
  regex_t* r = pattern(argument_word(arguments, 0));
  std::int32_t length = argument_int(arguments, 2);
  const OnigUChar* text = text_argument(argument_word(arguments, 1), length);
  if (r == nullptr || text == nullptr) return static_cast<std::uint32_t>(ONIGERR_INVALID_ARGUMENT);
  std::uint32_t size = static_cast<std::uint32_t>(length);
  std::uint32_t start = std::min(argument_word(arguments, 3), size);
  std::uint32_t range = std::min(argument_word(arguments, 4), size);
  Address record = argument_word(arguments, 5);
  int result = onig_search(r, text, text + size, text + start, text + range, region_for(record),
                           argument_word(arguments, 6));
  after_call(record);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t bi_reg_match(Address arguments) {
  regex_t* r = pattern(argument_word(arguments, 0));
  std::int32_t length = argument_int(arguments, 2);
  const OnigUChar* text = text_argument(argument_word(arguments, 1), length);
  if (r == nullptr || text == nullptr) return static_cast<std::uint32_t>(ONIGERR_INVALID_ARGUMENT);
  std::uint32_t size = static_cast<std::uint32_t>(length);
  std::uint32_t at = std::min(argument_word(arguments, 3), size);
  Address record = argument_word(arguments, 4);
  int result = onig_match(r, text, text + size, text + at, region_for(record), argument_word(arguments, 5));
  after_call(record);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t bi_match_new(Address) {
  initialise_library();
  Address record = vm::script_alloc_zeroed(sizeof(MatchRecord));
  if (record == 0) return 0;
  OnigRegion* region = onig_region_new();
  if (region == nullptr) {
    vm::script_free(record);
    return 0;
  }
  HostRegion& host = g_regions[record];
  host = HostRegion{region, 0, 0, 0};
  mirror(record, host);
  return record;
}

std::uint32_t bi_match_free(Address arguments) {
  Address record = argument_word(arguments, 0);
  auto it = g_regions.find(record);
  if (it == g_regions.end()) return 1;
  onig_region_free(it->second.region, 1);
  vm::script_free(it->second.begin);
  vm::script_free(it->second.end);
  vm::script_free(record);
  g_regions.erase(it);
  return 1;
}

std::uint32_t bi_match_clear(Address arguments) {
  Address record = argument_word(arguments, 0);
  if (record == 0) return 0;
  HostRegion* host = host_region(record);
  if (host == nullptr) return 0;
  onig_region_clear(host->region);
  mirror(record, *host);
  return 1;
}

// The script blocks of live match records belong to script memory, which is reset on its own;
// only the host side is freed here.
void reset_regular_expressions() {
  for (regex_t*& r : g_patterns)
    if (r != nullptr) onig_free(r);
  g_patterns.clear();
  for (auto& [record, host] : g_regions) onig_region_free(host.region, 1);
  g_regions.clear();
}

}  // namespace talven::library
