// mirror.cpp -- a replay's buffer operations made again on a sound device.
#include "platform/replay/mirror.h"

#include "platform/wave_file.h"

namespace qv {

Mirror::Mirror(Sound& sound, std::string sounds_dir)
    : sound_(sound), sounds_dir_(std::move(sounds_dir)) {}

void Mirror::Stage(const std::vector<StagedBuffer>& stage) {
  for (const StagedBuffer& b : stage) {
    const BufferId id = sound_.CreateBuffer(b.file);
    ids_[b.id] = id;
    sound_.SetVolume(id, b.volume);
    sound_.SetPan(id, b.pan);
    if (b.frequency > 0) sound_.SetFrequency(id, b.frequency);
    const WaveFormat f = ReadWaveFormat(sounds_dir_ + "/" + b.file);
    sound_.SetCurrentPosition(id, b.frame * f.channels * (f.bits / 8u));
    if (b.playing) sound_.Play(id, b.looping ? kPlayLooping : kPlayOnce);
  }
}

void Mirror::Saw(const PlatformEvent& e) {
  const std::string value(e.value);
  if (e.op == "load") {
    ids_[e.id] = sound_.CreateBuffer(std::string(e.subject));
  } else if (ids_.count(e.id) == 0) {
    return;  // not a buffer's operation
  } else if (e.op == "play") {
    sound_.Play(ids_[e.id], value == "loop" ? kPlayLooping : kPlayOnce);
  } else if (e.op == "stop") {
    sound_.Stop(ids_[e.id]);
  } else if (e.op == "position") {
    sound_.SetCurrentPosition(ids_[e.id], static_cast<uint32_t>(std::stoul(value)));
  } else if (e.op == "volume") {
    sound_.SetVolume(ids_[e.id], std::stoi(value));
  } else if (e.op == "pan") {
    sound_.SetPan(ids_[e.id], std::stoi(value));
  } else if (e.op == "frequency") {
    sound_.SetFrequency(ids_[e.id], std::stoi(value));
  } else if (e.op == "release") {
    sound_.Release(ids_[e.id]);
    ids_.erase(e.id);
  }
}

}  // namespace qv
