// System values, message boxes, the caption, starting programs, the wallpaper and the clipboard.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "library/library_builtins.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/game_paths.h"
#include "platform/host_system.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "vm/call_gate.h"
#include "vm/requests.h"

namespace talven::library {
namespace {

using vm::argument_int;
using vm::argument_word;

std::string text_argument_utf8(Address arguments, int i) {
  Address a = argument_word(arguments, i);
  auto text = a != 0 ? vm::load_string(a) : std::nullopt;
  return text ? platform::cp932_to_utf8(*text) : std::string();
}

// ---- Message boxes ---------------------------------------------------------------------------

enum ButtonId { kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7, kTryAgain = 10, kContinue = 11 };

std::vector<platform::MessageButton> buttons_for(std::uint32_t style) {
  struct Button {
    int id;
    const char* label;
  };
  std::vector<Button> set;
  switch (style & 0x0F) {
    case 1: set = {{kOk, "OK"}, {kCancel, "Cancel"}}; break;
    case 2: set = {{kAbort, "Abort"}, {kRetry, "Retry"}, {kIgnore, "Ignore"}}; break;
    case 3: set = {{kYes, "Yes"}, {kNo, "No"}, {kCancel, "Cancel"}}; break;
    case 4: set = {{kYes, "Yes"}, {kNo, "No"}}; break;
    case 5: set = {{kRetry, "Retry"}, {kCancel, "Cancel"}}; break;
    case 6: set = {{kCancel, "Cancel"}, {kTryAgain, "Try Again"}, {kContinue, "Continue"}}; break;
    default: set = {{kOk, "OK"}}; break;
  }
  std::size_t default_index = (style >> 8) & 0x0F;
  if (default_index >= set.size()) default_index = 0;
  std::vector<platform::MessageButton> buttons;
  for (std::size_t i = 0; i < set.size(); ++i) {
    bool escape = set[i].id == kCancel || (set.size() == 1);
    buttons.push_back(platform::MessageButton{set[i].id, set[i].label, i == default_index, escape});
  }
  return buttons;
}

platform::MessageIcon icon_for(std::uint32_t style) {
  switch (style & 0xF0) {
    case 0x10: return platform::MessageIcon::error;
    case 0x20: return platform::MessageIcon::question;
    case 0x30: return platform::MessageIcon::warning;
    case 0x40: return platform::MessageIcon::information;
    default: return platform::MessageIcon::none;
  }
}

// ---- The caption, set on the window thread ---------------------------------------------------

std::string g_pending_caption;

std::uint32_t set_caption_request(std::uint32_t, std::uint32_t) {
  platform::display().set_window_title(g_pending_caption);
  return 1;
}

// A file the shell should open: the game path when it names something that exists, else the text
// as written (a URL, a program name).
std::string shell_target(const std::string& cp932_text) {
  std::string host = platform::resolve_game_path(cp932_text);
  if (!host.empty() && platform::path_exists(host)) return platform::absolute_path(host);
  return platform::cp932_to_utf8(cp932_text);
}

}  // namespace

std::uint32_t bi_mbox(Address arguments) {
  std::uint32_t style = argument_word(arguments, 0);
  std::string caption = argument_word(arguments, 1) != 0 ? text_argument_utf8(arguments, 1) : "Error";
  std::string text = text_argument_utf8(arguments, 2);
  return static_cast<std::uint32_t>(platform::message_boxes().show(caption, text, icon_for(style), buttons_for(style)));
}

std::uint32_t bi_caption(Address arguments) {
  static std::once_flag registered;
  std::call_once(registered, [] { vm::set_request_handler(vm::kSetTextRequest, set_caption_request); });
  g_pending_caption = text_argument_utf8(arguments, 0);
  return vm::send_request(vm::kSetTextRequest, 0, 0);
}

// ---- Programs --------------------------------------------------------------------------------

std::uint32_t bi_shell(Address arguments) {
  Address verb_address = argument_word(arguments, 0);
  auto verb = verb_address != 0 ? vm::load_string(verb_address) : std::optional<std::string_view>("open");
  Address file_address = argument_word(arguments, 1);
  auto file = file_address != 0 ? vm::load_string(file_address) : std::nullopt;
  if (!verb || !file || file->empty()) return 0;
  std::string v(*verb);
  for (char& c : v) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  // The desktop's opener knows "open" (and "explore" for folders); other verbs have no meaning here.
  if (v != "open" && v != "explore" && !v.empty()) return 0;
  return platform::open_with_desktop(shell_target(std::string(*file))) ? 1 : 0;
}

std::uint32_t bi_exec(Address arguments) {
  Address a = argument_word(arguments, 0);
  auto command = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!command || command->empty()) return 0;
  return platform::start_shell_command(platform::cp932_to_utf8(*command)) ? 1 : 0;
}

// There is no desktop registry to write the wallpaper into: the call succeeds and changes nothing.
std::uint32_t bi_wallpaper(Address) { return 1; }

// ---- Clipboard -------------------------------------------------------------------------------

std::uint32_t bi_clip_write(Address arguments) {
  Address a = argument_word(arguments, 0);
  auto text = a != 0 ? vm::load_string(a) : std::nullopt;
  if (!text || text->empty()) return 0;
  if (!platform::clipboard().set_text(platform::cp932_to_utf8(*text))) return static_cast<std::uint32_t>(-2);
  return static_cast<std::uint32_t>(text->size());
}

std::uint32_t bi_clip_read(Address arguments) {
  Address buffer = argument_word(arguments, 0);
  std::int32_t size = argument_int(arguments, 1);
  if (buffer == 0 || size < 1) return 0;
  std::uint8_t* p = vm::checked_pointer(buffer, static_cast<std::uint32_t>(size));
  if (p == nullptr) return 0;
  auto utf8 = platform::clipboard().text();
  if (!utf8) return static_cast<std::uint32_t>(-3);
  std::string text = platform::utf8_to_cp932(*utf8);
  std::size_t n = text.size() + 1 < static_cast<std::size_t>(size) ? text.size() + 1 : static_cast<std::size_t>(size) - 1;
  std::memcpy(p, text.c_str(), n);  // c_str: the terminator is there when n = length + 1
  p[n] = 0;
  return static_cast<std::uint32_t>(n);
}

void reset_pending_caption() { g_pending_caption.clear(); }

}  // namespace talven::library
