// Each module's reset leaves what a fresh process has: what one case changed through a module's
// built-ins and settings is gone, and the next case starts as the first one did.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/archive.h"
#include "archive/data_drive.h"
#include "archive/fast_file.h"
#include "archive/file_builtins.h"
#include "graphics/planes.h"
#include "input/input.h"
#include "input/input_state.h"
#include "sound/audio_engine.h"
#include "sound/sound.h"
#include "sound/sound_slots.h"
#include "library/library_builtins.h"
#include "shell/configuration.h"
#include "shell/modules.h"
#include "shell/test_support.h"
#include "support/script_arguments.h"
#include "vm/call_gate.h"

namespace talven::shell {
namespace {

using test::ScriptScratch;

// What a fresh process answers first, for the parts of the state that answers show.
struct FirstAnswers {
  std::uint32_t pattern, stream;
};

FirstAnswers first_answers(ScriptScratch& scratch) {
  FirstAnswers a{};
  a.pattern = library::bi_reg_new(scratch.args({"a+", 0}));
  a.stream = archive::bi_fopen(scratch.args({"notes.txt", "w"}));
  return a;
}

TEST(ModuleResetTest, EveryModuleReturnsToAFreshProcess) {
  test::ScratchFolder folder;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  ScriptScratch scratch;
  reset_engine_state();
  const FirstAnswers fresh = first_answers(scratch);
  ASSERT_NE(fresh.pattern, 0u);
  ASSERT_NE(fresh.stream, 0u);

  // A case that changes a piece of every module's state.
  library::bi_reg_new(scratch.args({"b+", 0}));
  archive::bi_fopen(scratch.args({"more.txt", "w"}));
  archive::set_data_drive("/media/disc");
  archive::set_file_system(3);
  ASSERT_TRUE(graphics::allocate_plane(5, 8, 8, 32));
  config().error = 0;
  config().width = 1024;
  vm::VmSettings debug;
  debug.debug_mode = true;
  vm::set_vm_settings(debug);
  input::input_start(true);
  input::queue_character_byte('k');
  input::set_input_enabled(false);
  platform::Event press;
  press.type = platform::EventType::mouse_button_down;
  press.button = 1;
  input::handle_input_event(press);
  sound::capture_output("heard.wav");
  sound::sound_start({});
  ASSERT_TRUE(sound::sound_available());

  reset_engine_state();
  const FirstAnswers again = first_answers(scratch);
  EXPECT_EQ(again.pattern, fresh.pattern);
  EXPECT_EQ(again.stream, fresh.stream);
  reset_engine_state();
  EXPECT_EQ(archive::data_drive(), "");
  EXPECT_EQ(archive::file_system(), archive::kDefaultFileSystem);
  EXPECT_EQ(graphics::plane(5), nullptr);
  EXPECT_EQ(config().error, Configuration().error);
  EXPECT_EQ(config().width, Configuration().width);
  EXPECT_FALSE(vm::vm_settings().debug_mode);
  EXPECT_EQ(input::next_character_byte(), -1);
  EXPECT_TRUE(input::input_enabled());
  EXPECT_FALSE(input::direct_input_numbering());
  EXPECT_EQ(input::mouse().presses[input::kLeft].load(), 0u);
  EXPECT_EQ(input::mouse().held.load(), 0u);
  EXPECT_FALSE(sound::sound_available());
  EXPECT_EQ(sound::capture_path(), "");
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace talven::shell
