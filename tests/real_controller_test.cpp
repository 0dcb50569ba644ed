// real_controller_test.cpp -- a game controller on the real backend, under a display (a private
// Xvfb when none is set): SDL's virtual joystick, plugged in while the game runs, moves through
// the main menu and fires left, centre and right in a game, its buttons read as the keys they
// stand for.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "display.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "menu/main_menu.h"
#include "platform/real/machine.h"
#include "sound/sound_bank.h"
#include "startup/program.h"
#include "store/ini_store.h"
#include "support.h"

namespace qv {
namespace {

// Hears the game's sound operations, from its creation to its end, and answers some of them with
// the controller's buttons, as a player would: each rule runs on the first matching operation.
struct Player : PlatformObserver {
  struct Rule {
    std::string op, subject, value;                               // value: any when empty
    std::vector<std::pair<SDL_GameControllerButton, bool>> then;  // button, down
  };
  Player(Platform parts, SDL_Joystick* pad) : parts(parts), pad(pad) { parts.Watch(*this); }
  ~Player() override { parts.Unwatch(*this); }

  void Button(SDL_GameControllerButton b, bool down) { SDL_JoystickSetVirtualButton(pad, b, down); }
  void Saw(const PlatformEvent& e) override {
    if (e.op == "pan") pans[std::string(e.subject)] = std::stoi(std::string(e.value));
    if (e.op == "volume") volumes.insert(std::string(e.subject) + " " + std::string(e.value));
    if (e.op == "play" && e.subject == "gun.wav") ++shots;
    if (e.op == "play" && e.subject == "glass.wav") hits.insert(pans["glass.wav"]);
    if (on_play && e.op == "play") {
      const auto handler = on_play;  // the handler may clear on_play while it runs
      handler(std::string(e.subject));
    }
    if (!rules.empty() && e.op == rules.front().op && e.subject == rules.front().subject &&
        (rules.front().value.empty() || e.value == rules.front().value)) {
      for (const auto& [button, down] : rules.front().then) Button(button, down);
      rules.erase(rules.begin());
    }
  }

  Platform parts;
  SDL_Joystick* pad;
  std::vector<Rule> rules;
  std::function<void(const std::string&)> on_play;
  std::map<std::string, int> pans;  // the last pan set on each file
  std::set<std::string> volumes;    // "file value" of every volume set
  size_t shots = 0;
  std::set<int> hits;  // the sides the glass was heard on
};

TEST(RealController, TheDpadMovesThroughTheMenuAndFiresLeftCentreAndRightInAGame) {
  ASSERT_TRUE(test::EnsureDisplay()) << "no display, and Xvfb could not be started";
  std::thread([] {  // should the buttons not reach the game, its loops would wait for ever
    std::this_thread::sleep_for(std::chrono::seconds(120));
    std::fprintf(stderr, "the controller's presses never arrived\n");
    std::_Exit(1);
  })
      .detach();
  test::TempDir dir;
  test::WriteSoundSet(dir.path().string());
  setenv("QUORVANE_SOUND_CAPTURE", (dir / "out.wav").c_str(), 1);
  RealPlatform machine(dir.path().string());
  IniStore settings;
  Program pg(machine.Parts(), settings);
  const auto turn = [&](uint32_t ms) {
    pg.platform.system.ProcessEvents(pg.platform.system.TickCount() + ms);
  };
  machine.system.ShowWindow();
  SDL_SetWindowInputFocus(machine.system.Window());  // no window manager gives it the keyboard
  for (int i = 0; i < 300 && !machine.system.HasFocus(); ++i) turn(10);
  ASSERT_TRUE(machine.system.HasFocus());
  ASSERT_TRUE(pg.platform.sound.OpenSoundDevice());
  InitKeyboard(pg.keyboard);
  LoadSoundBank(pg.audio);
  // Plugged in now, with the game running.
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "test pad";
  Player player(machine.Parts(), SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc)));
  ASSERT_NE(player.pad, nullptr) << SDL_GetError();
  const auto let_go = [&](SDL_GameControllerButton b) {  // and turn until the keyboard shows it
    player.Button(b, false);
    for (int i = 0; i < 100; ++i, PollKeyboard(pg.keyboard)) turn(5);
  };

  // The menu: down to the speaker check, up to "start game", A to start it. Each arrow is let
  // go once the menu lowers its music to speak the item, as the speech waits for that.
  player.rules = {{"release", "menuprompt.wav", "", {{SDL_CONTROLLER_BUTTON_DPAD_DOWN, true}}},
                  {"volume", "menumusic.wav", "-1000", {{SDL_CONTROLLER_BUTTON_DPAD_DOWN, false}}},
                  {"release", "calSpeakers.wav", "", {{SDL_CONTROLLER_BUTTON_DPAD_UP, true}}},
                  {"volume", "menumusic.wav", "-1000", {{SDL_CONTROLLER_BUTTON_DPAD_UP, false}}},
                  {"release", "startgame.wav", "", {{SDL_CONTROLLER_BUTTON_A, true}}}};
  EXPECT_EQ(MainMenu(pg.menu), Screen::NewGame);
  EXPECT_TRUE(player.rules.empty());
  let_go(SDL_CONTROLLER_BUTTON_A);

  // A game at difficulty 1, targets coming quickly: the arrow for each launch's side, held
  // until the gun fires. Once all three sides have been hit, the left shoulder lowers the
  // music, and B ends the game.
  const std::map<int, SDL_GameControllerButton> arrow = {{-10000, SDL_CONTROLLER_BUTTON_DPAD_LEFT},
                                                         {0, SDL_CONTROLLER_BUTTON_DPAD_UP},
                                                         {10000, SDL_CONTROLLER_BUTTON_DPAD_RIGHT}};
  size_t launches = 0;
  player.on_play = [&](const std::string& file) {
    if (file == "launch.wav") {
      ++launches;
      player.Button(arrow.at(player.pans["launch.wav"]), true);
    } else if (file == "gun.wav") {
      for (const auto& [pan, button] : arrow) player.Button(button, false);
    } else if (file == "glass.wav" && (player.hits.size() == 3 || launches >= 20)) {
      player.on_play = nullptr;
      player.Button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, true);
    }
  };
  player.rules = {{"volume",
                   "level1.wav",
                   "",
                   {{SDL_CONTROLLER_BUTTON_LEFTSHOULDER, false}, {SDL_CONTROLLER_BUTTON_B, true}}}};
  NewGame(pg.game);
  pg.game.state.Difficulty = 1;
  pg.game.state.WaitLimit = 300;
  RunGame(pg.game);
  let_go(SDL_CONTROLLER_BUTTON_B);

  EXPECT_EQ(player.hits, (std::set<int>{-10000, 0, 10000}));
  EXPECT_EQ(player.shots, launches);  // one shot a launch, each a hit
  EXPECT_GT(pg.game.state.Score, 0);
  EXPECT_TRUE(player.volumes.count("level1.wav -300"));
}

}  // namespace
}  // namespace qv
