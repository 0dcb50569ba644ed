// target.h -- what the shooting game and the bonus round share about their one target at a
// time: the side it is heard on (its pan, the arrow that fires there), the clocks of its wait
// and flight, and the fields a round starts from.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/scan_codes.h"

namespace qv {

struct Game;
struct GameState;

// A side a target can be on: its position in the game record (0 left, 1 centre, 2 right), the
// pan its sounds are placed at, and the arrow that fires there.
struct Side {
  uint8_t position;
  int pan;
  int key;
};
inline constexpr std::array<Side, 3> kSides = {
    {{0, -10000, kKeyLeft}, {1, 0, kKeyUp}, {2, 10000, kKeyRight}}};
// The arrows in the order each pass looks at them: Up, Left, Right.
inline constexpr std::array<Side, 3> kFireOrder = {kSides[1], kSides[0], kSides[2]};

// The side of a target position.
inline const Side& SideOf(uint8_t position) { return kSides.at(position); }
// The side a sound placed at pan is heard on: the left for any pan below 0, the right above.
inline const Side& SideOfPan(int pan) { return kSides[pan < 0 ? 0 : pan > 0 ? 2 : 1]; }

// The tick count now, as the game record keeps its clocks.
int32_t Now(Game& game);
// The tick count ms ago, modulo 2^32.
int32_t TickBefore(Game& game, int32_t ms);
// Milliseconds from a stored tick count to now, modulo 2^32, so the clock's wrap is harmless.
uint32_t Since(Game& game, int32_t start);
// The first tick at which more than limit ms have passed since start, summed modulo 2^32: a
// tick count past 2^31 is a negative start, which must not overflow.
uint32_t DueAfter(int32_t start, int32_t limit);
// What a round's loop waits for next without a key: the landing while a target flies, the
// next launch while none does.
std::optional<uint32_t> NextDue(const GameState& g);

// The fields a game or a bonus round starts from: no score, no target, no count, both clocks
// at 0, and the round's flight and wait limits.
void StartRound(GameState& g, int32_t flight_limit, int32_t wait_limit);

}  // namespace qv
