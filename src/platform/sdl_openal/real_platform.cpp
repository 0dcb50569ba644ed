// real_platform.cpp -- the window, timer, keyboard, sound, settings and transfer of the real
// program, on SDL2, OpenAL Soft and libcurl.
#include "platform/sdl_openal/real_platform.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <SDL.h>
#include <curl/curl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sdl_openal/keymap.h"
#include "platform/sdl_openal/units.h"

namespace qv {

namespace {

constexpr int kWindowWidth = 312;
constexpr int kWindowHeight = 213;
constexpr Uint32 kTimerPeriodMs = 500;

// Runs on SDL's timer thread: it only posts an event, which ProcessEvents counts.
Uint32 PostTimerEvent(Uint32 interval, void* param) {
  SDL_Event event{};
  event.type = static_cast<Uint32>(reinterpret_cast<uintptr_t>(param));
  SDL_PushEvent(&event);
  return interval;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

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

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

RealPlatform::RealPlatform(std::string sounds_dir, std::string settings_path)
    : sounds_dir_(std::move(sounds_dir)), settings_(std::move(settings_path)) {}

RealPlatform::~RealPlatform() { Shutdown(); }

void RealPlatform::Shutdown() {
  AbandonTransfer();
  if (curl_multi_ != nullptr) curl_multi_cleanup(static_cast<CURLM*>(curl_multi_));
  curl_multi_ = nullptr;
  ReleaseAll();
  CloseSoundDevice();
  if (timer_id_ != 0) SDL_RemoveTimer(timer_id_);
  timer_id_ = 0;
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  window_ = nullptr;
  if (sdl_started_) SDL_Quit();
  sdl_started_ = false;
}

// ---- Clock ----

uint32_t RealPlatform::TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
  return static_cast<uint32_t>(ms);
}

uint32_t RealPlatform::ClockSeed() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  // Microseconds of the time of day: two launches a few ms apart still get different seeds.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000000u + ts.tv_nsec / 1000);
}

// ---- Window, events, timer ----

void RealPlatform::ShowWindow() {
  if (window_ != nullptr) return;
  // The window's one black fill would otherwise go through an OpenGL renderer, whose loading
  // costs tens of milliseconds before the first sound.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
    throw PlatformError(std::string("Cannot open the game window: ") + SDL_GetError());
  }
  sdl_started_ = true;
  // Without a display SDL falls back to a driver that draws nowhere and never has the keyboard:
  // the game would talk on with no way to answer it. Better to say so and stop.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr &&
      (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    throw PlatformError(
        "Cannot open the game window: no display to show it on (is DISPLAY or "
        "WAYLAND_DISPLAY set?); the game needs a window to read the keyboard.");
  }
  window_ = SDL_CreateWindow("Quor Vane", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             kWindowWidth, kWindowHeight, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) {
    throw PlatformError(std::string("Cannot open the game window: ") + SDL_GetError());
  }
  // An input method would swallow key presses meant for the keyboard array.
  SDL_StopTextInput();
  if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    SDL_UpdateWindowSurface(window_);
  }
  SDL_RaiseWindow(window_);
}

WindowEvents RealPlatform::ProcessEvents() {
  WindowEvents events;
  pressed_this_turn_.fill(false);
  if (transfer_running_) DriveTransfer();
  if (!sdl_started_) {
    // No window yet: still a turn of about 1 ms, so loops keep their pace.
    timespec ts{0, 1000000};
    nanosleep(&ts, nullptr);
    return events;
  }
  SDL_Event event;
  if (SDL_WaitEventTimeout(&event, 1) == 0) return events;
  do {
    if (event.type == SDL_QUIT) {
      events.close_requested = true;
    } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
      events.close_requested = true;
    } else if (timer_event_ != 0 && event.type == timer_event_) {
      // A tick that was already queued when the timer went off does not count.
      if (timer_id_ != 0) ++events.timer_ticks;
    } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
      const int code = event.key.keysym.scancode;
      if (code >= 0 && code < static_cast<int>(pressed_this_turn_.size())) {
        pressed_this_turn_[static_cast<size_t>(code)] = true;
      }
    }
  } while (SDL_PollEvent(&event) != 0);
  return events;
}

void RealPlatform::MessageBox(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  // SDL shows a box even before SDL_Init when a display is there; without one, stderr is all.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "QuorVane", text.c_str(), window_);
}

void RealPlatform::Terminate(int status) {
  Shutdown();
  std::fflush(nullptr);
  std::exit(status);
}

void RealPlatform::SetTimerEnabled(bool enabled) {
  if (!enabled) {
    if (timer_id_ != 0) SDL_RemoveTimer(timer_id_);
    timer_id_ = 0;
    return;
  }
  if (timer_id_ != 0) return;
  if (!sdl_started_) {
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
      throw PlatformError(std::string("Cannot start the timer: ") + SDL_GetError());
    }
    sdl_started_ = true;
  }
  if (timer_event_ == 0) {
    const Uint32 type = SDL_RegisterEvents(1);
    if (type == static_cast<Uint32>(-1)) throw PlatformError("Cannot start the timer");
    timer_event_ = type;
  }
  timer_id_ = SDL_AddTimer(kTimerPeriodMs, PostTimerEvent,
                           reinterpret_cast<void*>(static_cast<uintptr_t>(timer_event_)));
  if (timer_id_ == 0) {
    throw PlatformError(std::string("Cannot start the timer: ") + SDL_GetError());
  }
}

// ---- Keyboard ----

bool RealPlatform::HasFocus() const {
  return window_ != nullptr && SDL_GetKeyboardFocus() == window_;
}

bool RealPlatform::CreateKeyboard() {
  keyboard_created_ = true;
  keyboard_acquired_ = false;
  return true;
}

bool RealPlatform::AcquireKeyboard() {
  if (!keyboard_created_ || !HasFocus()) return false;
  keyboard_acquired_ = true;
  return true;
}

KeyRead RealPlatform::ReadKeyboard(uint8_t state[256]) {
  if (!keyboard_acquired_) return KeyRead::NotAcquired;
  if (!HasFocus()) {
    // Like a keyboard taken by another window: one "lost", then "not acquired" until the
    // game acquires it again, which only works once the window is back in front.
    keyboard_acquired_ = false;
    return KeyRead::InputLost;
  }
  std::memset(state, 0, 256);
  int count = 0;
  const Uint8* keys = SDL_GetKeyboardState(&count);
  count = std::min(count, static_cast<int>(pressed_this_turn_.size()));
  for (int i = 0; i < count; ++i) {
    if (keys[i] == 0 && !pressed_this_turn_[static_cast<size_t>(i)]) continue;
    const uint8_t code = SetOneFromSdlScancode(i);
    if (code != 0) state[code] = 0x80;
  }
  return KeyRead::Ok;
}

// ---- Sound ----

bool RealPlatform::OpenSoundDevice() {
  if (context_ != nullptr) return true;
  // OpenAL Soft reads its configuration once, at its first use; the game's own file sets a
  // short mixing period unless the player chose a configuration.
  const std::string conf = sounds_dir_ + "/alsoft.conf";
  if (std::getenv("ALSOFT_CONF") == nullptr && FileExists(conf)) {
    setenv("ALSOFT_CONF", conf.c_str(), 0);
  }
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
  alDistanceModel(AL_NONE);
  alGetError();
  return true;
}

void RealPlatform::CloseSoundDevice() {
  if (context_ != nullptr) {
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(context_);
  }
  if (device_ != nullptr) alcCloseDevice(device_);
  context_ = nullptr;
  device_ = nullptr;
}

void RealPlatform::Check(const char* operation, const std::string& file) {
  const ALenum error = alGetError();
  if (error != AL_NO_ERROR) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed for " + file + ": " +
                        AlErrorName(error));
  }
}

RealPlatform::Sound& RealPlatform::Find(BufferId id, const char* operation) {
  auto it = sounds_.find(id);
  if (it == sounds_.end()) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed: no buffer " +
                        std::to_string(id));
  }
  alGetError();  // a stale error must not be blamed on this call
  return it->second;
}

BufferId RealPlatform::CreateBuffer(const std::string& file) {
  const std::string fail = "Cannot load sound file " + file + ": ";
  if (context_ == nullptr) throw PlatformError(fail + "no sound device is open");
  SDL_AudioSpec wav_format;
  Uint8* data = nullptr;
  Uint32 length = 0;
  const std::string path = sounds_dir_ + "/" + file;
  if (SDL_LoadWAV(path.c_str(), &wav_format, &data, &length) == nullptr) {
    throw PlatformError(fail + SDL_GetError());
  }
  Sound sound;
  sound.file = file;
  sound.sample_rate = wav_format.freq;
  sound.channels = wav_format.channels;

  // OpenAL takes unsigned 8-bit or signed 16-bit, mono or stereo; anything else is converted.
  Uint8* samples = data;
  Uint32 bytes = length;
  SDL_AudioCVT cvt{};
  const bool native = (wav_format.format == AUDIO_U8 || wav_format.format == AUDIO_S16SYS) &&
                      (wav_format.channels == 1 || wav_format.channels == 2);
  if (!native) {
    sound.channels = wav_format.channels >= 2 ? 2 : 1;
    if (SDL_BuildAudioCVT(&cvt, wav_format.format, wav_format.channels, wav_format.freq,
                          AUDIO_S16SYS, static_cast<Uint8>(sound.channels), wav_format.freq) < 0) {
      SDL_FreeWAV(data);
      throw PlatformError(fail + SDL_GetError());
    }
    cvt.len = static_cast<int>(length);
    cvt.buf = static_cast<Uint8*>(SDL_malloc(static_cast<size_t>(length) * cvt.len_mult));
    if (cvt.buf == nullptr) {
      SDL_FreeWAV(data);
      throw PlatformError(fail + "out of memory");
    }
    std::memcpy(cvt.buf, data, length);
    if (SDL_ConvertAudio(&cvt) != 0) {
      SDL_free(cvt.buf);
      SDL_FreeWAV(data);
      throw PlatformError(fail + SDL_GetError());
    }
    samples = cvt.buf;
    bytes = static_cast<Uint32>(cvt.len_cvt);
  }
  const bool eight_bit = native && wav_format.format == AUDIO_U8;
  const ALenum format = sound.channels == 2 ? (eight_bit ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16)
                                            : (eight_bit ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16);
  sound.frame_bytes = static_cast<uint32_t>(sound.channels * (eight_bit ? 1 : 2));
  sound.bytes = bytes - bytes % sound.frame_bytes;

  alGetError();
  alGenBuffers(1, &sound.buffer);
  ALenum error = alGetError();
  if (error == AL_NO_ERROR) {
    alBufferData(sound.buffer, format, samples, static_cast<ALsizei>(sound.bytes), wav_format.freq);
    error = alGetError();
  }
  if (cvt.buf != nullptr) SDL_free(cvt.buf);
  SDL_FreeWAV(data);
  if (error == AL_NO_ERROR) {
    alGenSources(1, &sound.source);
    error = alGetError();
  }
  if (error == AL_NO_ERROR) {
    const PanPosition centre = PositionFromPan(0);
    alSourcei(sound.source, AL_BUFFER, static_cast<ALint>(sound.buffer));
    alSourcei(sound.source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(sound.source, AL_POSITION, centre.x, centre.y, centre.z);
    alSourcef(sound.source, AL_GAIN, 1.0f);
    alSourcef(sound.source, AL_PITCH, 1.0f);
    error = alGetError();
  }
  if (error != AL_NO_ERROR) {
    if (sound.source != 0) alDeleteSources(1, &sound.source);
    if (sound.buffer != 0) alDeleteBuffers(1, &sound.buffer);
    alGetError();
    throw PlatformError(fail + AlErrorName(error));
  }
  const BufferId id = next_id_++;
  sounds_.emplace(id, std::move(sound));
  return id;
}

void RealPlatform::Play(BufferId id, int flags) {
  Sound& s = Find(id, "play");
  alSourcei(s.source, AL_LOOPING, (flags & kPlayLooping) != 0 ? AL_TRUE : AL_FALSE);
  ALint state = AL_INITIAL;
  alGetSourcei(s.source, AL_SOURCE_STATE, &state);
  // alSourcePlay on a playing source would restart it; the game's buffers keep playing and
  // only take the new looping flag. Paused resumes; initial or ended starts (from 0, or from
  // a position set meanwhile).
  if (state != AL_PLAYING) alSourcePlay(s.source);
  Check("play", s.file);
}

void RealPlatform::Stop(BufferId id) {
  Sound& s = Find(id, "stop");
  alSourcePause(s.source);
  Check("stop", s.file);
}

void RealPlatform::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Sound& s = Find(id, "position");
  // OpenAL rejects offsets at or past the end and offsets inside a frame.
  uint32_t offset = std::min(byte_offset, s.bytes > 0 ? s.bytes - 1 : 0);
  offset -= offset % s.frame_bytes;
  alSourcei(s.source, AL_BYTE_OFFSET, static_cast<ALint>(offset));
  Check("position", s.file);
}

void RealPlatform::SetVolume(BufferId id, int hundredths_db) {
  Sound& s = Find(id, "volume");
  alSourcef(s.source, AL_GAIN, GainFromVolume(hundredths_db));
  Check("volume", s.file);
}

void RealPlatform::SetPan(BufferId id, int pan) {
  Sound& s = Find(id, "pan");
  const PanPosition p = PositionFromPan(pan);
  alSource3f(s.source, AL_POSITION, p.x, p.y, p.z);
  if (s.channels == 2 && alIsExtensionPresent("AL_SOFT_source_spatialize")) {
    // A stereo file is not positioned unless asked to; panned, it is mixed down and placed.
    alSourcei(s.source, AL_SOURCE_SPATIALIZE_SOFT, pan == 0 ? AL_AUTO_SOFT : AL_TRUE);
  }
  Check("pan", s.file);
}

void RealPlatform::SetFrequency(BufferId id, int hertz) {
  Sound& s = Find(id, "frequency");
  alSourcef(s.source, AL_PITCH, PitchFromFrequency(hertz, s.sample_rate));
  Check("frequency", s.file);
}

int RealPlatform::GetStatus(BufferId id) {
  Sound& s = Find(id, "status");
  ALint state = AL_INITIAL;
  ALint looping = AL_FALSE;
  alGetSourcei(s.source, AL_SOURCE_STATE, &state);
  alGetSourcei(s.source, AL_LOOPING, &looping);
  Check("status", s.file);
  return (state == AL_PLAYING ? kStatusPlaying : 0) | (looping != AL_FALSE ? kStatusLooping : 0);
}

void RealPlatform::Release(BufferId id) {
  Sound& s = Find(id, "release");
  const std::string file = s.file;
  alSourceStop(s.source);
  alDeleteSources(1, &s.source);
  alDeleteBuffers(1, &s.buffer);
  sounds_.erase(id);
  Check("release", file);
}

void RealPlatform::ReleaseAll() {
  for (auto& [id, s] : sounds_) {
    alSourceStop(s.source);
    alDeleteSources(1, &s.source);
    alDeleteBuffers(1, &s.buffer);
  }
  sounds_.clear();
  if (context_ != nullptr) alGetError();
}

uint32_t RealPlatform::PlayPosition(BufferId id) {
  Sound& s = Find(id, "position");
  ALint offset = 0;
  alGetSourcei(s.source, AL_BYTE_OFFSET, &offset);
  Check("position", s.file);
  return static_cast<uint32_t>(offset);
}

// ---- Settings ----

std::string RealPlatform::ReadSetting(const std::string& app, const std::string& section,
                                      const std::string& key, const std::string& default_value) {
  return settings_.Read(app, section, key).value_or(default_value);
}

void RealPlatform::StoreSetting(const std::string& app, const std::string& section,
                                const std::string& key, const std::string& value) {
  settings_.Store(app, section, key, value);  // throws PlatformError naming the entry
}

// ---- Transfer ----

void RealPlatform::AbandonTransfer() {
  if (curl_easy_ == nullptr) return;
  curl_multi_remove_handle(static_cast<CURLM*>(curl_multi_), static_cast<CURL*>(curl_easy_));
  curl_easy_cleanup(static_cast<CURL*>(curl_easy_));
  curl_easy_ = nullptr;
  transfer_running_ = false;
}

void RealPlatform::StartTransfer(const std::string& url) {
  AbandonTransfer();
  transfer_status_ = 0;
  static const bool curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (curl_ready && curl_multi_ == nullptr) curl_multi_ = curl_multi_init();
  CURL* easy = curl_ready && curl_multi_ != nullptr ? curl_easy_init() : nullptr;
  if (easy == nullptr) return;  // reads as a failed transfer: not running, status 0
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
  if (curl_multi_add_handle(static_cast<CURLM*>(curl_multi_), easy) != CURLM_OK) {
    curl_easy_cleanup(easy);
    return;
  }
  curl_easy_ = easy;
  transfer_running_ = true;
  DriveTransfer();
}

void RealPlatform::DriveTransfer() {
  if (!transfer_running_) return;
  CURLM* multi = static_cast<CURLM*>(curl_multi_);
  int running = 0;
  curl_multi_perform(multi, &running);
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != curl_easy_) continue;
    long code = 0;
    if (msg->data.result == CURLE_OK) {
      curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &code);
    }
    transfer_status_ = static_cast<int>(code);
    AbandonTransfer();
    break;  // msg belonged to the handle just freed
  }
}

bool RealPlatform::TransferExecuting() {
  DriveTransfer();
  return transfer_running_;
}

int RealPlatform::TransferStatus() { return transfer_status_; }

}  // namespace qv
