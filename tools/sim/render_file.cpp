// render_file.cpp -- the virtual machine's render and the wave file it is written to.
#include "render_file.h"

namespace qv {

VirtualRender::VirtualRender(VirtualPlatform& machine, std::string sounds_dir, Sink sink, int stems,
                             StemOf stem_of)
    : Render(
          machine.Parts(), std::move(sounds_dir),
          [&machine](BufferId id) -> std::optional<Account> {
            const VirtualPlatform::Buffer* b = machine.FindBuffer(id);
            if (b == nullptr) return std::nullopt;
            return Account{b->position(), b->playing};
          },
          std::move(sink), stems, std::move(stem_of)),
      machine_(machine) {
  // A run that ends at its time limit ends before its last turn, so the render holds exactly
  // the run's time.
  machine_.SetTurnEndHook([this] { AdvanceTo(machine_.Elapsed()); });
}

VirtualRender::~VirtualRender() { machine_.SetTurnEndHook(nullptr); }

RenderFile::RenderFile(const std::string& path) : out_(path, kRenderRate, 2) {}

void RenderFile::Add(const std::vector<std::vector<float>>& stems, size_t frames) {
  sum_.assign(2 * frames, 0.0f);
  for (const auto& stem : stems) {
    for (size_t i = 0; i < sum_.size(); ++i) sum_[i] += stem[i];
  }
  out_.Append(sum_.data(), frames);
}

}  // namespace qv
