// mirror.h -- a replay heard on a sound device: each buffer operation the game makes on a replay
// backend is made again on another platform's sound, with that platform's buffer numbers.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/replay/replay_file.h"
#include "platform/sound.h"

namespace qv {

class Mirror : public PlatformObserver {
 public:
  // sounds_dir: where the other platform finds its files (to place the staged sounds).
  Mirror(Sound& sound, std::string sounds_dir);

  // Makes the sounds that were there as the recording began, each where it played.
  void Stage(const std::vector<StagedBuffer>& stage);
  void Saw(const PlatformEvent& event) override;

 private:
  Sound& sound_;
  std::string sounds_dir_;
  std::map<int, BufferId> ids_;  // the replay's buffer number -> the sound's
};

}  // namespace qv
