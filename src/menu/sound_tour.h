// sound_tour.h -- the sound tour (F1 in the main menu): the keys of the menus and of a game told
// in words, then every game sound, each named and then played on its side where it has one.
#pragma once

#include <span>

#include "menu/main_menu.h"
#include "menu/screens.h"

namespace qv {

// One stop of the tour: the words (a file under the sounds folder), then the game sound they
// name, if any, played at pan.
struct TourItem {
  const char* words;
  const char* sound = nullptr;
  int pan = 0;
};

// The stops in the order the tour takes them.
std::span<const TourItem> SoundTourItems();

// Plays the tour with the menu music stopped. Any key skips to the next stop; Escape leaves. Both
// the tour's end and Escape hand over to a fresh main menu.
Screen SoundTour(Menu& menu);

}  // namespace qv
