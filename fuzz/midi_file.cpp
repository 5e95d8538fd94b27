// MIDI files of any bytes: refused with a reason, or read as a layout a player can take: a format
// of 0, 1 or 2 with tracks as the header says, and a Standard MIDI File span inside the bytes
// that reads the same on its own. A bare file wrapped in a RIFF "RMID" file keeps its verdict
// and its length.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sound/midi_file.h"

using namespace talven::sound;

namespace {

bool same_length(const MidiFileInfo& a, const MidiFileInfo& b) {
  return a.format == b.format && a.tracks == b.tracks && a.division == b.division &&
         a.length_ticks == b.length_ticks && a.length_us == b.length_us;
}

std::vector<std::uint8_t> rmid_of(std::span<const std::uint8_t> smf) {
  std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(smf.size() >> (8 * i)));
  out.insert(out.end(), smf.begin(), smf.end());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  std::string why;
  const std::optional<MidiFileInfo> info = scan_midi_file(bytes, &why);
  if (info.has_value() != scan_midi_file(bytes).has_value()) std::abort();
  const bool riff = size >= 4 && std::string(data, data + 4) == "RIFF";
  if (!info) {
    if (why.empty()) std::abort();
    if (!riff && scan_midi_file(rmid_of(bytes))) std::abort();
    return 0;
  }
  if (info->format < 0 || info->format > 2 || info->tracks < 1 || info->tracks > 65535) std::abort();
  if (info->format == 0 && info->tracks != 1) std::abort();
  if (info->division <= 0 || info->division > 0xFFFF) std::abort();
  if (info->smf_offset > size || info->smf_size > size - info->smf_offset) std::abort();
  const std::span<const std::uint8_t> smf = bytes.subspan(info->smf_offset, info->smf_size);
  const std::optional<MidiFileInfo> alone = scan_midi_file(smf);
  if (!alone || !same_length(*alone, *info) || alone->smf_offset != 0 || alone->smf_size != smf.size()) std::abort();
  if (!riff) {
    const std::optional<MidiFileInfo> wrapped = scan_midi_file(rmid_of(smf));
    if (!wrapped || !same_length(*wrapped, *info) || wrapped->smf_offset != 20) std::abort();
  }
  return 0;
}
