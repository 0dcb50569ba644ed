// transfer.h -- the seam's one HTTP GET at a time, never blocking: the score submission starts
// it, asks whether it still runs, and once it does not, reads its HTTP status.
#pragma once

#include <string>

namespace qv {

class Transfer {
 public:
  virtual ~Transfer() = default;

  // Starts a GET of url ("http://host[:port]/path?query"), abandoning one still running.
  virtual void StartTransfer(const std::string& url) = 0;
  // True while the transfer runs; it advances in the turns of the window system and here.
  virtual bool TransferExecuting() = 0;
  // The HTTP status of the finished transfer; 0 when it failed (no host, refused, time-out).
  virtual int TransferStatus() = 0;
};

}  // namespace qv
