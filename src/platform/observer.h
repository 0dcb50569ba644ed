// observer.h -- what watches the seam: every backend tells its observers each operation that has
// succeeded, in the sound log's own terms, so that the sound log and the simulator's render
// follow what the program does without standing between it and the backend.
#pragma once

#include <string_view>
#include <vector>

namespace qv {

// One operation, as the sound log writes it (docs/DESIGN.md, section 5).
struct PlatformEvent {
  std::string_view op;       // load, play, stop, release, position, volume, pan, frequency,
                             // http, timer, key, message, exit
  int id = 0;                // the buffer's number; 0 for the others
  std::string_view subject;  // the buffer's file, the URL, "Timer1", the key's name, the text
  std::string_view value;    // what was set: "loop", "-2000", "end 200", "on", "down", "1"...
};

class PlatformObserver {
 public:
  virtual ~PlatformObserver() = default;
  // Called on the game's thread by the backend, within the operation, once it has succeeded;
  // before the operation for the two that do not come back on their own: the message box
  // (it waits for the player) and the program's end.
  virtual void Saw(const PlatformEvent& event) = 0;
};

// The side of every part of the seam that keeps its observers. The parts share it as a virtual
// base, so a backend that is all four parts at once keeps one list.
class Observable {
 public:
  // Adds an observer (once, however often it is added); it must outlive the part, or leave it
  // with Unwatch first.
  void Watch(PlatformObserver& observer);
  void Unwatch(PlatformObserver& observer);

 protected:
  ~Observable() = default;
  // Tells every observer, in the order they came.
  void Tell(std::string_view op, int id, std::string_view subject, std::string_view value) const;

 private:
  std::vector<PlatformObserver*> observers_;
};

}  // namespace qv
