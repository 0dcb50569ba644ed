// transfer.cpp -- the score submission's request in the browser: the page fetches the URL's
// path and query from its own server (a GET, or a POST of the body), and each turn of the event
// pump looks whether it has ended.
#include "platform/web/page_calls.h"
#include "platform/web/web_platform.h"

namespace qv {

void WebTransfer::StartTransfer(const std::string& url, const std::string& body) {
  url_ = url;
  status_ = 0;
  running_ = true;
  Tell("http", 0, url_, "start");
  qv_page_fetch(url.c_str(), body.data(), static_cast<int>(body.size()));
  Check();
}

void WebTransfer::Check() {
  if (!running_) return;
  const int status = qv_page_fetch_status();
  if (status < 0) return;
  running_ = false;
  status_ = status;
  Tell("http", 0, url_, "end " + std::to_string(status_));
}

bool WebTransfer::TransferExecuting() {
  Check();
  return running_;
}

}  // namespace qv
