// controller.h -- game controllers on SDL2's game controller support: each button the game uses
// stands for a keyboard key, so a controller presses keys the game already reads.
#pragma once

#include <array>
#include <cstdint>
#include <map>

struct _SDL_GameController;

namespace qv {

// The keyboard key (an SDL scan code) a controller button (an SDL_GameControllerButton) stands
// for, or 0 for a button the game does not use: the D-pad is the arrows, A Return, B Escape, X
// Space (reload), Y S (the score), the right and left shoulders Page Up and Page Down (the
// music), Back F1 (the sound tour).
int KeyForButton(int button);

// The controllers plugged in, opened as SDL announces them: at start and whenever one is
// plugged in while the game runs.
class Controllers {
 public:
  // Starts SDL's game controller support, once; without it (no joystick support on this
  // machine) the game has the keyboard alone.
  void Start();
  void Open(int device_index);
  void Close(int32_t instance_id);
  // Marks down, in keys (indexed by SDL scan code), the key of every button held on any
  // controller.
  void AddHeldKeys(std::array<bool, 512>& keys) const;

 private:
  bool started_ = false;
  std::map<int32_t, _SDL_GameController*> open_;  // by joystick instance id
};

}  // namespace qv
