#include "vm/source_map.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace talven::vm {
namespace {

// Compiles attach maps and freed images drop them on any thread; a fault looks one up from the
// faulting thread. Faults are rare, so one lock over an ordered map is plenty.
std::mutex g_mutex;
std::map<Address, SourceMap> g_maps;  // by image base

// The last element whose start is at or below `address`, or end.
template <typename Vector>
auto last_starting_at_or_below(const Vector& v, Address address) {
  auto it = std::upper_bound(v.begin(), v.end(), address, [](Address a, const auto& e) { return a < e.start; });
  return it == v.begin() ? v.end() : std::prev(it);
}

}  // namespace

std::optional<SourceMap::Position> SourceMap::find(Address address) const {
  if (address >= code_end) return std::nullopt;
  auto line = last_starting_at_or_below(lines, address);
  if (line == lines.end() || line->file >= files.size()) return std::nullopt;
  Position position;
  position.file = files[line->file];
  position.line = line->line;
  auto function = last_starting_at_or_below(functions, address);
  if (function != functions.end()) position.function = function->name;
  return position;
}

void attach_source_map(Address image_base, SourceMap map) {
  std::lock_guard lock(g_mutex);
  g_maps[image_base] = std::move(map);
}

void forget_all_source_maps() {
  std::lock_guard lock(g_mutex);
  g_maps.clear();
}

void forget_source_map(Address image_base) {
  std::lock_guard lock(g_mutex);
  g_maps.erase(image_base);
}

std::optional<SourceMap::Position> find_source_position(Address address) {
  std::lock_guard lock(g_mutex);
  auto it = g_maps.upper_bound(address);
  if (it == g_maps.begin()) return std::nullopt;
  --it;
  if (address < it->first) return std::nullopt;
  return it->second.find(address);
}

}  // namespace talven::vm
