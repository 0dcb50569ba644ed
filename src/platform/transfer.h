// transfer.h -- the seam's one HTTP request at a time, never blocking: the score submission
// starts it, asks whether it still runs, and once it does not, reads its HTTP status.
#pragma once

#include <string>

#include "platform/observer.h"

namespace qv {

// Observers hear "http" with "start" when a transfer starts, and "end STATUS" when the backend
// first sees it over (in a turn of the window system, or when asked).
class Transfer : public virtual Observable {
 public:
  virtual ~Transfer() = default;

  // Starts a GET of url ("http://host[:port]/path?query"), or a POST of body when it is not
  // empty (sent as application/octet-stream), abandoning one still running. Called by submit
  // (SubmitScore: the score, then the replay of the game that made it).
  virtual void StartTransfer(const std::string& url, const std::string& body) = 0;
  // True while the transfer runs; it advances in the turns of the window system and here.
  // Called by submit, at each pass of SubmitScore's wait.
  virtual bool TransferExecuting() = 0;
  // The HTTP status of the finished transfer; 0 when it failed (no host, refused, time-out).
  // Called by submit (SubmitScore) once the transfer is over.
  virtual int TransferStatus() = 0;
};

}  // namespace qv
