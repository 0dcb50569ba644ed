// controller.cpp -- game controllers: opening them as they come and go, their buttons as keys.
#include "platform/real/controller.h"

#include <SDL.h>

#include "platform/real/machine.h"

namespace qv {

int KeyForButton(int button) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
      return SDL_SCANCODE_LEFT;
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
      return SDL_SCANCODE_UP;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
      return SDL_SCANCODE_RIGHT;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
      return SDL_SCANCODE_DOWN;
    case SDL_CONTROLLER_BUTTON_A:
      return SDL_SCANCODE_RETURN;
    case SDL_CONTROLLER_BUTTON_B:
      return SDL_SCANCODE_ESCAPE;
    case SDL_CONTROLLER_BUTTON_X:
      return SDL_SCANCODE_SPACE;
    case SDL_CONTROLLER_BUTTON_Y:
      return SDL_SCANCODE_S;
    case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER:
      return SDL_SCANCODE_PAGEUP;
    case SDL_CONTROLLER_BUTTON_LEFTSHOULDER:
      return SDL_SCANCODE_PAGEDOWN;
    case SDL_CONTROLLER_BUTTON_BACK:
      return SDL_SCANCODE_F1;
    default:
      return 0;
  }
}

void Controllers::Start() {
  if (started_) return;
  started_ = true;
  // SDL announces the controllers already plugged in as if they had just come.
  SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void Controllers::Open(int device_index) {
  SDL_GameController* controller = SDL_GameControllerOpen(device_index);
  if (controller == nullptr) return;
  const int32_t id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller));
  if (open_.count(id) != 0) {
    SDL_GameControllerClose(controller);  // announced twice: SDL counts the opens
    return;
  }
  open_[id] = controller;
}

void Controllers::Close(int32_t instance_id) {
  auto it = open_.find(instance_id);
  if (it == open_.end()) return;
  SDL_GameControllerClose(it->second);
  open_.erase(it);
}

void Controllers::AddHeldKeys(std::array<bool, 512>& keys) const {
  for (const auto& [id, controller] : open_) {
    for (int button = 0; button < SDL_CONTROLLER_BUTTON_MAX; ++button) {
      const int key = KeyForButton(button);
      if (key == 0) continue;
      if (SDL_GameControllerGetButton(controller, static_cast<SDL_GameControllerButton>(button))) {
        keys[static_cast<size_t>(key)] = true;
      }
    }
  }
}

bool SdlSystem::DeliverController(const SDL_Event& event) {
  switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED:
      controllers_.Open(event.cdevice.which);
      return false;
    case SDL_CONTROLLERDEVICEREMOVED:
      controllers_.Close(event.cdevice.which);
      return false;
    case SDL_CONTROLLERBUTTONDOWN:
      // Pressed and let go within one turn, it still reads as down once, as a key does.
      if (const int key = KeyForButton(event.cbutton.button); key != 0) {
        pressed_this_turn_[static_cast<size_t>(key)] = true;
      }
      input_last_turn_ = true;
      return true;
    default:  // a button let go
      input_last_turn_ = true;
      return true;
  }
}

}  // namespace qv
