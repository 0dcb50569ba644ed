// render_file.h -- the simulator's render: the virtual machine's buffers mixed a virtual
// millisecond at a time, at the end of each of its turns, and written to a wave file.
#pragma once

#include <string>
#include <vector>

#include "platform/render.h"
#include "platform/virtual/virtual_platform.h"
#include "platform/wave_file.h"

namespace qv {

// A render of the virtual machine: it takes the machine's turn-end hook and mixes each
// millisecond as the turn that ends it.
class VirtualRender : public Render {
 public:
  VirtualRender(VirtualPlatform& machine, std::string sounds_dir, Sink sink, int stems = 1,
                StemOf stem_of = {});
  ~VirtualRender() override;

 private:
  VirtualPlatform& machine_;
};

// Writes the sum of the stems to a 16-bit stereo wave file as it comes.
class RenderFile {
 public:
  explicit RenderFile(const std::string& path);
  void Add(const std::vector<std::vector<float>>& stems, size_t frames);
  // Completes the file. Throws WaveError.
  void Close() { out_.Close(); }

 private:
  WaveWriter out_;
  std::vector<float> sum_;
};

}  // namespace qv
