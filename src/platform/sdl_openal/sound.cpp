// sound.cpp -- the game's sound buffers on OpenAL Soft, each a pair of sources, one per channel.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <SDL.h>
#include <sys/stat.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/sdl_openal/machine.h"
#include "platform/units.h"

namespace qv {

namespace {

std::string AlErrorName(ALenum error) {
  switch (error) {
    case AL_INVALID_NAME:
      return "invalid name";
    case AL_INVALID_ENUM:
      return "invalid enum";
    case AL_INVALID_VALUE:
      return "invalid value";
    case AL_INVALID_OPERATION:
      return "invalid operation";
    case AL_OUT_OF_MEMORY:
      return "out of memory";
    default:
      return "error " + std::to_string(error);
  }
}

// How long the game waits for a lost sound device to come back before it gives up.
constexpr int kReopenTries = 25;
constexpr auto kReopenPause = std::chrono::milliseconds(200);

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A wave file decoded to signed 16-bit samples, interleaved.
struct Decoded {
  std::vector<int16_t> samples;
  int rate = 0;
  int channels = 1;
};

Decoded Decode(const std::string& path, const std::string& fail) {
  SDL_AudioSpec format;
  Uint8* data = nullptr;
  Uint32 length = 0;
  if (SDL_LoadWAV(path.c_str(), &format, &data, &length) == nullptr) {
    throw PlatformError(fail + SDL_GetError());
  }
  Decoded out;
  out.rate = format.freq;
  out.channels = format.channels >= 2 ? 2 : 1;
  SDL_AudioCVT cvt{};
  if (SDL_BuildAudioCVT(&cvt, format.format, format.channels, format.freq, AUDIO_S16SYS,
                        static_cast<Uint8>(out.channels), format.freq) < 0) {
    SDL_FreeWAV(data);
    throw PlatformError(fail + SDL_GetError());
  }
  std::vector<Uint8> work(static_cast<size_t>(length) * static_cast<size_t>(std::max(cvt.len_mult, 1)));
  std::memcpy(work.data(), data, length);
  SDL_FreeWAV(data);
  size_t bytes = length;
  if (cvt.needed != 0) {
    cvt.buf = work.data();
    cvt.len = static_cast<int>(length);
    if (SDL_ConvertAudio(&cvt) != 0) throw PlatformError(fail + SDL_GetError());
    bytes = static_cast<size_t>(cvt.len_cvt);
  }
  const size_t frames = bytes / (2u * static_cast<size_t>(out.channels));
  out.samples.resize(frames * static_cast<size_t>(out.channels));
  std::memcpy(out.samples.data(), work.data(), out.samples.size() * 2);
  return out;
}

}  // namespace

AlSound::AlSound(std::string sounds_dir) : sounds_dir_(std::move(sounds_dir)) {}

AlSound::~AlSound() { Close(); }

bool AlSound::OpenSoundDevice() {
  if (context_ != nullptr) return true;
  // OpenAL Soft reads its configuration once, at its first use; the game's own file sets a
  // short mixing period unless the player chose a configuration.
  const std::string conf = sounds_dir_ + "/alsoft.conf";
  if (std::getenv("ALSOFT_CONF") == nullptr && FileExists(conf)) {
    setenv("ALSOFT_CONF", conf.c_str(), 0);
  }
  return OpenDevice();
}

bool AlSound::OpenDevice() {
  ALCdevice* device = alcOpenDevice(nullptr);
  if (device == nullptr) return false;
  ALCcontext* context = alcCreateContext(device, nullptr);
  if (context == nullptr || alcMakeContextCurrent(context) == ALC_FALSE) {
    if (context != nullptr) alcDestroyContext(context);
    alcCloseDevice(device);
    return false;
  }
  device_ = device;
  context_ = context;
  ALCint refresh = 0;
  alcGetIntegerv(device, ALC_REFRESH, 1, &refresh);
  period_ms_ = refresh > 0 ? 1000.0 / refresh : 0.0;
  alDistanceModel(AL_NONE);
  alGetError();
  return true;
}

bool AlSound::DeviceConnected() {
  if (device_ == nullptr || alcIsExtensionPresent(device_, "ALC_EXT_disconnect") == ALC_FALSE) {
    return true;
  }
  ALCint connected = ALC_TRUE;
  alcGetIntegerv(device_, ALC_CONNECTED, 1, &connected);
  return connected != ALC_FALSE;
}

void AlSound::KeepDevice() {
  if (context_ == nullptr || DeviceConnected()) return;
  // The sources of a lost device stop where they are; what they were doing is in the voices.
  for (auto& [id, v] : voices_) {
    v.frame = FrameNow(v);
    DeleteVoice(v);
  }
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context_);
  alcCloseDevice(device_);
  context_ = nullptr;
  device_ = nullptr;
  for (int i = 0; i < kReopenTries && !OpenDevice(); ++i) std::this_thread::sleep_for(kReopenPause);
  if (context_ == nullptr) throw SoundDeviceLost("The sound device was lost and did not come back.");
  // The wait to reopen does not count as playing time.
  const uint64_t resumed_at = NowMs();
  for (auto& [id, v] : voices_) {
    Build(v, "Cannot reload sound file " + v.file + ": ");
    const ALint frame = static_cast<ALint>(v.frame);
    for (unsigned source : v.sources) {
      alSourcei(source, AL_LOOPING, v.looping ? AL_TRUE : AL_FALSE);
      if (frame > 0) alSourcei(source, AL_SAMPLE_OFFSET, frame);
    }
    if (v.playing) {
      v.since_ms = resumed_at;
      alSourcePlayv(2, v.sources.data());
    }
    Check("reload", v.file);
  }
}

uint32_t AlSound::FrameNow(Voice& v) {
  if (!v.playing) return v.frame;
  const uint32_t frames = v.bytes / v.frame_bytes;
  const double played = static_cast<double>(NowMs() - v.since_ms) * v.sample_rate * v.pitch / 1000;
  const uint64_t at = v.frame + static_cast<uint64_t>(played);
  if (frames == 0) return 0;
  if (v.looping) return static_cast<uint32_t>(at % frames);
  if (at >= frames) {
    v.playing = false;  // played to its end: the next Play starts from the beginning
    v.frame = 0;
    return 0;
  }
  return static_cast<uint32_t>(at);
}

void AlSound::Close() {
  for (auto& [id, v] : voices_) DeleteVoice(v);
  voices_.clear();
  if (context_ != nullptr) {
    alGetError();
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(context_);
  }
  if (device_ != nullptr) alcCloseDevice(device_);
  context_ = nullptr;
  device_ = nullptr;
}

void AlSound::Check(const char* operation, const std::string& file) {
  const ALenum error = alGetError();
  if (error != AL_NO_ERROR) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed for " + file + ": " +
                        AlErrorName(error));
  }
}

AlSound::Voice& AlSound::Find(BufferId id, const char* operation) {
  KeepDevice();
  auto it = voices_.find(id);
  if (it == voices_.end()) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed: no buffer " +
                        std::to_string(id));
  }
  alGetError();  // a stale error must not be blamed on this call
  return it->second;
}

void AlSound::DeleteVoice(Voice& v) {
  if (v.sources[0] != 0) {
    alSourceStopv(2, v.sources.data());
    alDeleteSources(2, v.sources.data());
  }
  if (v.buffers[0] != 0) alDeleteBuffers(1, &v.buffers[0]);
  if (v.buffers[1] != 0 && v.buffers[1] != v.buffers[0]) alDeleteBuffers(1, &v.buffers[1]);
  v.sources = {};
  v.buffers = {};
}

BufferId AlSound::CreateBuffer(const std::string& file) {
  KeepDevice();
  const std::string fail = "Cannot load sound file " + file + ": ";
  if (context_ == nullptr) throw PlatformError(fail + "no sound device is open");
  Voice v;
  v.file = file;
  Build(v, fail);
  const BufferId id = next_id_++;
  voices_.emplace(id, std::move(v));
  return id;
}

void AlSound::Build(Voice& v, const std::string& fail) {
  const Decoded d = Decode(sounds_dir_ + "/" + v.file, fail);
  v.sample_rate = d.rate;
  v.channels = d.channels;
  v.frame_bytes = static_cast<uint32_t>(2 * d.channels);
  v.bytes = static_cast<uint32_t>(d.samples.size() * 2);
  v.sources = {};
  v.buffers = {};

  alGetError();
  alGenSources(2, v.sources.data());
  ALenum error = alGetError();
  if (error == AL_NO_ERROR) {
    if (d.channels == 1) {
      alGenBuffers(1, &v.buffers[0]);
      v.buffers[1] = v.buffers[0];
      alBufferData(v.buffers[0], AL_FORMAT_MONO16, d.samples.data(),
                   static_cast<ALsizei>(v.bytes), d.rate);
    } else {
      // Each channel of a stereo file becomes a mono buffer of its own side.
      const size_t frames = d.samples.size() / 2;
      std::vector<int16_t> side(frames);
      alGenBuffers(2, v.buffers.data());
      for (size_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < frames; ++i) side[i] = d.samples[2 * i + c];
        alBufferData(v.buffers[c], AL_FORMAT_MONO16, side.data(),
                     static_cast<ALsizei>(frames * 2), d.rate);
      }
    }
    error = alGetError();
  }
  if (error == AL_NO_ERROR) {
    // A listener-relative source at x = -1 (or +1) with no distance model is heard on that
    // channel alone, at the buffer's own level.
    for (size_t c = 0; c < 2; ++c) {
      alSourcei(v.sources[c], AL_BUFFER, static_cast<ALint>(v.buffers[c]));
      alSourcei(v.sources[c], AL_SOURCE_RELATIVE, AL_TRUE);
      alSource3f(v.sources[c], AL_POSITION, c == 0 ? -1.0f : 1.0f, 0.0f, 0.0f);
      alSourcef(v.sources[c], AL_PITCH, v.pitch);
    }
    ApplyGains(v);
    error = alGetError();
  }
  if (error != AL_NO_ERROR) {
    DeleteVoice(v);
    alGetError();
    throw PlatformError(fail + AlErrorName(error));
  }
}

void AlSound::ApplyGains(const Voice& v) {
  const ChannelGains g = GainsFromVolumeAndPan(v.volume, v.pan);
  alSourcef(v.sources[0], AL_GAIN, g.left);
  alSourcef(v.sources[1], AL_GAIN, g.right);
}

void AlSound::Play(BufferId id, int flags) {
  Voice& v = Find(id, "play");
  const ALint looping = (flags & kPlayLooping) != 0 ? AL_TRUE : AL_FALSE;
  alSourcei(v.sources[0], AL_LOOPING, looping);
  alSourcei(v.sources[1], AL_LOOPING, looping);
  ALint state = AL_INITIAL;
  alGetSourcei(v.sources[0], AL_SOURCE_STATE, &state);
  // alSourcePlay on a playing source would restart it; the game's buffers keep playing and
  // only take the new looping flag. Paused resumes; initial or ended starts (from 0, or from
  // a position set meanwhile). Both sources start in the same mixing step.
  if (state != AL_PLAYING) {
    v.frame = FrameNow(v);
    v.playing = true;
    v.since_ms = NowMs();
    alSourcePlayv(2, v.sources.data());
  }
  v.looping = looping == AL_TRUE;
  Check("play", v.file);
}

void AlSound::Stop(BufferId id) {
  Voice& v = Find(id, "stop");
  alSourcePausev(2, v.sources.data());
  ALint frame = 0;
  alGetSourcei(v.sources[0], AL_SAMPLE_OFFSET, &frame);
  v.frame = v.playing ? static_cast<uint32_t>(frame) : v.frame;
  v.playing = false;
  Check("stop", v.file);
}

void AlSound::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Voice& v = Find(id, "position");
  // OpenAL rejects offsets at or past the end; each source's buffer holds one channel.
  const uint32_t frames = v.bytes / v.frame_bytes;
  const uint32_t frame = std::min(byte_offset / v.frame_bytes, frames > 0 ? frames - 1 : 0);
  for (unsigned source : v.sources) alSourcei(source, AL_SAMPLE_OFFSET, static_cast<ALint>(frame));
  v.frame = frame;
  v.since_ms = NowMs();
  Check("position", v.file);
}

void AlSound::SetVolume(BufferId id, int hundredths_db) {
  Voice& v = Find(id, "volume");
  v.volume = hundredths_db;
  ApplyGains(v);
  Check("volume", v.file);
}

void AlSound::SetPan(BufferId id, int pan) {
  Voice& v = Find(id, "pan");
  v.pan = pan;
  ApplyGains(v);
  Check("pan", v.file);
}

void AlSound::SetFrequency(BufferId id, int hertz) {
  Voice& v = Find(id, "frequency");
  v.frame = FrameNow(v);  // the clock of a playing voice goes on at the new rate from here
  v.since_ms = NowMs();
  v.pitch = PitchFromFrequency(hertz, v.sample_rate);
  for (unsigned source : v.sources) alSourcef(source, AL_PITCH, v.pitch);
  Check("frequency", v.file);
}

int AlSound::GetStatus(BufferId id) {
  Voice& v = Find(id, "status");
  ALint state = AL_INITIAL;
  ALint looping = AL_FALSE;
  alGetSourcei(v.sources[0], AL_SOURCE_STATE, &state);
  alGetSourcei(v.sources[0], AL_LOOPING, &looping);
  Check("status", v.file);
  if (state != AL_PLAYING) {
    if (v.playing && !v.looping) v.frame = 0;  // it played to its end
    v.playing = false;
    return 0;  // a stopped looping buffer reads 0, as it should
  }
  return kStatusPlaying | (looping != AL_FALSE ? kStatusLooping : 0);
}

void AlSound::Release(BufferId id) {
  Voice& v = Find(id, "release");
  const std::string file = v.file;
  DeleteVoice(v);
  voices_.erase(id);
  Check("release", file);
}

uint32_t AlSound::PlayPosition(BufferId id) {
  Voice& v = Find(id, "position");
  ALint frame = 0;
  alGetSourcei(v.sources[0], AL_SAMPLE_OFFSET, &frame);
  Check("position", v.file);
  return static_cast<uint32_t>(frame) * v.frame_bytes;
}

std::optional<uint32_t> AlSound::MsToNextEnd() {
  std::optional<uint32_t> soonest;
  for (auto& [id, v] : voices_) {
    ALint state = AL_INITIAL, looping = AL_FALSE, frame = 0;
    alGetSourcei(v.sources[0], AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) continue;
    alGetSourcei(v.sources[0], AL_LOOPING, &looping);
    if (looping != AL_FALSE) continue;
    alGetSourcei(v.sources[0], AL_SAMPLE_OFFSET, &frame);
    const double left = static_cast<double>(v.bytes / v.frame_bytes) - frame;
    const double rate = v.sample_rate * static_cast<double>(v.pitch);
    // The offset moves a mixing period at a time, and the sound stops at the mix that
    // crosses its end, which may come up to a period before the offset says.
    const double ms = 1000.0 * left / rate - period_ms_;
    const auto whole = static_cast<uint32_t>(std::max(0.0, std::floor(ms)));
    if (!soonest || whole < *soonest) soonest = whole;
  }
  alGetError();
  return soonest;
}

}  // namespace qv
