// audio_latency.cpp -- the output latency OpenAL Soft reports with OpenAL's defaults and with the
// game's own alsoft.conf. Usage: audio_latency SOUNDS_DIR. It measures against whatever output
// OpenAL finds (scripts/bench starts a PulseAudio server with a null sink for it).
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// One configuration per process: OpenAL Soft reads its configuration once.
int Measure(const char* label) {
  ALCdevice* device = alcOpenDevice(nullptr);
  if (device == nullptr) {
    std::printf("%-8s no output device\n", label);
    return 1;
  }
  ALCcontext* context = alcCreateContext(device, nullptr);
  alcMakeContextCurrent(context);
  ALCint rate = 0, refresh = 0;
  alcGetIntegerv(device, ALC_FREQUENCY, 1, &rate);
  alcGetIntegerv(device, ALC_REFRESH, 1, &refresh);
  const char* name = alcGetString(device, ALC_DEVICE_SPECIFIER);

  // A quiet looping tone, so the mixer runs as it does in the game.
  std::vector<int16_t> tone(static_cast<size_t>(rate));
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>((i % 100) * 20);
  ALuint buffer = 0, source = 0;
  alGenBuffers(1, &buffer);
  alBufferData(buffer, AL_FORMAT_MONO16, tone.data(), static_cast<ALsizei>(tone.size() * 2), rate);
  alGenSources(1, &source);
  alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
  alSourcei(source, AL_LOOPING, AL_TRUE);
  alSourcePlay(source);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  auto device_latency =
      reinterpret_cast<void(ALC_APIENTRY*)(ALCdevice*, ALCenum, ALsizei, ALCint64SOFT*)>(
          alcGetProcAddress(device, "alcGetInteger64vSOFT"));
  auto source_latency = reinterpret_cast<void(AL_APIENTRY*)(ALuint, ALenum, ALdouble*)>(
      alGetProcAddress("alGetSourcedvSOFT"));
  std::vector<double> dev_ms, src_ms;
  for (int i = 0; i < 50; ++i) {
    if (device_latency != nullptr) {
      ALCint64SOFT ns = 0;
      device_latency(device, ALC_DEVICE_LATENCY_SOFT, 1, &ns);
      dev_ms.push_back(static_cast<double>(ns) / 1e6);
    }
    if (source_latency != nullptr) {
      ALdouble values[2] = {0, 0};
      source_latency(source, AL_SEC_OFFSET_LATENCY_SOFT, values);
      src_ms.push_back(values[1] * 1000.0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  auto median = [](std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  auto most = [](const std::vector<double>& v) {
    return v.empty() ? -1.0 : *std::max_element(v.begin(), v.end());
  };
  auto least = [](const std::vector<double>& v) {
    return v.empty() ? -1.0 : *std::min_element(v.begin(), v.end());
  };
  // A PulseAudio null sink sometimes hands a new stream stale timing (a constant figure of
  // about 1 ms while its own sink latency reads hundreds of ms); a real output's figure always
  // moves as periods are written, so a frozen one is measured again.
  if (most(dev_ms) - least(dev_ms) < 0.01) {
    std::fprintf(stderr, "%s: frozen latency clock (%.2f ms), measuring again\n", label,
                 most(dev_ms));
    return 3;
  }
  std::printf(
      "%-8s device latency median %.1f ms (max %.1f), source latency median %.1f ms "
      "(max %.1f); %d Hz, %d mixes/s; output \"%s\"\n",
      label, median(dev_ms), most(dev_ms), median(src_ms), most(src_ms), rate, refresh,
      name != nullptr ? name : "?");
  alSourceStop(source);
  alDeleteSources(1, &source);
  alDeleteBuffers(1, &buffer);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context);
  alcCloseDevice(device);
  return 0;
}

int RunWith(const std::string& self, const std::string& conf, const char* label) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("ALSOFT_CONF", conf.c_str(), 1);
    setenv("QV_LATENCY_LABEL", label, 1);
    execl(self.c_str(), self.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int Retried(const std::string& self, const std::string& conf, const char* label) {
  int result = 3;
  for (int attempt = 0; attempt < 5 && result == 3; ++attempt) result = RunWith(self, conf, label);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* label = std::getenv("QV_LATENCY_LABEL")) return Measure(label);
  if (argc < 2) {
    std::fprintf(stderr, "usage: audio_latency SOUNDS_DIR\n");
    return 2;
  }
  const std::string ours = std::string(argv[1]) + "/alsoft.conf";
  if (!std::ifstream(ours)) {
    std::fprintf(stderr, "audio_latency: no %s\n", ours.c_str());
    return 1;
  }
  // "Default" still reads the system's and the user's OpenAL files, as the game does.
  const std::string empty = "/tmp/qv_latency_empty_" + std::to_string(getpid()) + ".conf";
  std::ofstream(empty) << "# no settings: OpenAL Soft's defaults\n";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  int failed = Retried(self, empty, "default");
  failed |= Retried(self, ours, "game");
  std::remove(empty.c_str());
  return failed;
}
