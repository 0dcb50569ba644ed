// target.cpp -- a target's clocks and a round's fresh record.
#include "game/target.h"

#include "game/game.h"

namespace qv {

int32_t Now(Game& game) { return static_cast<int32_t>(game.window.system.TickCount()); }

int32_t TickBefore(Game& game, int32_t ms) {
  return static_cast<int32_t>(game.window.system.TickCount() - static_cast<uint32_t>(ms));
}

uint32_t Since(Game& game, int32_t start) {
  return game.window.system.TickCount() - static_cast<uint32_t>(start);
}

uint32_t DueAfter(int32_t start, int32_t limit) {
  return static_cast<uint32_t>(start) + static_cast<uint32_t>(limit) + 1;
}

std::optional<uint32_t> NextDue(const GameState& g) {
  if (g.TargetInFlight) return DueAfter(g.FlightStart, g.FlightLimit);
  if (!g.Launched) return DueAfter(g.WaitStart, g.WaitLimit);
  return std::nullopt;
}

void StartRound(GameState& g, int32_t flight_limit, int32_t wait_limit) {
  g.Score = 0;
  g.TargetCount = 0;
  g.TargetInFlight = false;
  g.Launched = false;
  g.FlightStart = 0;
  g.FlightElapsed = 0;
  g.WaitStart = 0;
  g.FlightLimit = flight_limit;
  g.WaitLimit = wait_limit;
}

}  // namespace qv
