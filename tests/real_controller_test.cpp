// real_controller_test.cpp -- a game controller on the real backend, under a display (a private
// Xvfb when none is set): SDL's virtual joystick, plugged in while the game runs, moves through
// the main menu and fires left, centre and right in a game, its buttons read as the keys they
// stand for.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "core/program.h"
#include "display.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "menu/main_menu.h"
#include "platform/real/machine.h"
#include "sound/sound_bank.h"
#include "store/ini_store.h"
#include "support.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

// Hears the game's sound operations on its own thread and answers some of them with the
// controller's buttons, as a player would: each rule runs on the first matching operation.
struct Player : PlatformObserver {
  struct Rule {
    std::string op, subject, value;  // value: any when empty
    std::function<void()> then;
  };
  void Saw(const PlatformEvent& e) override {
    if (e.op == "pan") pans[std::string(e.subject)] = std::stoi(std::string(e.value));
    if (e.op == "volume") volumes.push_back(std::string(e.subject) + " " + std::string(e.value));
    if (e.op == "play" && e.subject == "gun.wav") shots.push_back(pans["gun.wav"]);
    if (e.op == "play" && e.subject == "glass.wav") hits.insert(pans["glass.wav"]);
    if (on_play && e.op == "play") {
      const auto handler = on_play;  // the handler may clear on_play while it runs
      handler(std::string(e.subject));
    }
    if (!rules.empty() && e.op == rules.front().op && e.subject == rules.front().subject &&
        (rules.front().value.empty() || e.value == rules.front().value)) {
      const std::function<void()> then = rules.front().then;
      rules.erase(rules.begin());
      then();
    }
  }
  std::vector<Rule> rules;
  std::function<void(const std::string&)> on_play;
  std::map<std::string, int> pans;  // the last pan set on each file
  std::vector<std::string> volumes;
  std::vector<int> shots;  // the gun's pan at each shot
  std::set<int> hits;      // the sides the glass was heard on
};

class RealController : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::EnsureDisplay()) << "no display, and Xvfb could not be started";
    // Should the buttons not reach the game, its loops would wait for them for ever.
    std::thread([] {
      std::this_thread::sleep_for(std::chrono::seconds(120));
      std::fprintf(stderr, "the controller's presses never arrived\n");
      std::_Exit(1);
    }).detach();
    test::WriteSoundSet(dir_.path().string());
    setenv("QUORVANE_SOUND_CAPTURE", (dir_ / "out.wav").c_str(), 1);
    machine_ = std::make_unique<RealPlatform>(dir_.path().string());
    pg_ = std::make_unique<Program>(machine_->Parts(), settings_);
    machine_->system.ShowWindow();
    // No window manager gives the window the keyboard: it takes it.
    SDL_SetWindowInputFocus(machine_->system.Window());
    const auto start = Clock::now();
    while (!machine_->system.HasFocus() && Clock::now() - start < std::chrono::seconds(3)) {
      machine_->system.ProcessEvents(machine_->system.TickCount() + 10);
    }
    ASSERT_TRUE(machine_->system.HasFocus());
    ASSERT_TRUE(pg_->sound.OpenSoundDevice());
    InitKeyboard(*pg_);
    LoadSoundBank(*pg_);
    machine_->Parts().Watch(player_);
    // Plugged in now, with the game running.
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "test pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    ASSERT_GE(index, 0) << SDL_GetError();
    pad_ = SDL_JoystickOpen(index);
    ASSERT_NE(pad_, nullptr) << SDL_GetError();
  }

  void TearDown() override {
    if (machine_ != nullptr) machine_->Parts().Unwatch(player_);
  }

  void Button(SDL_GameControllerButton button, bool down) {
    SDL_JoystickSetVirtualButton(pad_, button, down ? 1 : 0);
  }
  std::function<void()> Press(SDL_GameControllerButton b) {
    return [this, b] { Button(b, true); };
  }
  std::function<void()> Release(SDL_GameControllerButton b) {
    return [this, b] { Button(b, false); };
  }
  // Lets go of the button, and turns until the keyboard shows it up.
  void LetGo(SDL_GameControllerButton button) {
    Button(button, false);
    for (int i = 0; i < 100; ++i) {
      pg_->system.ProcessEvents(pg_->system.TickCount() + 5);
      PollKeyboard(*pg_);
    }
  }

  test::TempDir dir_;
  IniStore settings_;
  std::unique_ptr<RealPlatform> machine_;
  std::unique_ptr<Program> pg_;
  Player player_;
  SDL_Joystick* pad_ = nullptr;
};

TEST_F(RealController, TheDpadMovesThroughTheMenuAndFiresLeftCentreAndRightInAGame) {
  // The menu: down to the speaker check, up to "start game", A to start it. Each arrow is let
  // go once the menu lowers its music to speak the item, as the speech waits for that.
  player_.rules = {
      {"release", "menuprompt.wav", "", Press(SDL_CONTROLLER_BUTTON_DPAD_DOWN)},
      {"volume", "menumusic.wav", "-1000", Release(SDL_CONTROLLER_BUTTON_DPAD_DOWN)},
      {"release", "calSpeakers.wav", "", Press(SDL_CONTROLLER_BUTTON_DPAD_UP)},
      {"volume", "menumusic.wav", "-1000", Release(SDL_CONTROLLER_BUTTON_DPAD_UP)},
      {"release", "startgame.wav", "", Press(SDL_CONTROLLER_BUTTON_A)},
  };
  EXPECT_EQ(MainMenu(*pg_), Screen::NewGame);
  EXPECT_TRUE(player_.rules.empty());
  LetGo(SDL_CONTROLLER_BUTTON_A);

  // A game at difficulty 1, targets coming quickly: the arrow for each launch's side, held
  // until the gun fires. Once all three sides have been hit, the left shoulder lowers the
  // music, and B ends the game.
  const std::map<int, SDL_GameControllerButton> arrow = {{-10000, SDL_CONTROLLER_BUTTON_DPAD_LEFT},
                                                         {0, SDL_CONTROLLER_BUTTON_DPAD_UP},
                                                         {10000, SDL_CONTROLLER_BUTTON_DPAD_RIGHT}};
  int launches = 0;
  player_.on_play = [&](const std::string& file) {
    if (file == "launch.wav") {
      ++launches;
      Button(arrow.at(player_.pans["launch.wav"]), true);
    } else if (file == "gun.wav") {
      for (const auto& [pan, button] : arrow) Button(button, false);
    } else if (file == "glass.wav" && (player_.hits.size() == 3 || launches >= 20)) {
      player_.on_play = nullptr;
      Button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, true);
    }
  };
  player_.rules = {{"volume", "level1.wav", "", [this] {
                      Button(SDL_CONTROLLER_BUTTON_LEFTSHOULDER, false);
                      Button(SDL_CONTROLLER_BUTTON_B, true);
                    }}};
  NewGame(*pg_);
  pg_->game.Difficulty = 1;
  pg_->game.WaitLimit = 300;
  EXPECT_EQ(RunGame(*pg_), Screen::MainMenu);
  LetGo(SDL_CONTROLLER_BUTTON_B);

  EXPECT_EQ(player_.hits, (std::set<int>{-10000, 0, 10000}));
  EXPECT_EQ(player_.shots.size(), static_cast<size_t>(launches));  // one shot a launch, each a hit
  EXPECT_GT(pg_->game.Score, 0);
  EXPECT_TRUE(std::find(player_.volumes.begin(), player_.volumes.end(), "level1.wav -300") !=
              player_.volumes.end());
}

}  // namespace
}  // namespace qv
