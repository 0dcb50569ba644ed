// transfer.cpp -- the one HTTP GET, on libcurl's multi interface: started without waiting,
// advanced by each turn of the event pump.
#include <curl/curl.h>

#include "platform/real/machine.h"

namespace qv {

namespace {

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// A transfer gives up after this long, so nothing stays open for ever.
constexpr long kTransferTimeoutMs = 30000;

}  // namespace

CurlTransfer::~CurlTransfer() { Close(); }

void CurlTransfer::Close() {
  Abandon();
  if (multi_ != nullptr) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  multi_ = nullptr;
}

void CurlTransfer::Abandon() {
  if (easy_ == nullptr) return;
  curl_multi_remove_handle(static_cast<CURLM*>(multi_), static_cast<CURL*>(easy_));
  curl_easy_cleanup(static_cast<CURL*>(easy_));
  easy_ = nullptr;
  running_ = false;
}

void CurlTransfer::StartTransfer(const std::string& url) {
  Abandon();
  status_ = 0;
  url_ = url;
  // Told first: the first drive below may already see the end.
  Tell("http", 0, url_, "start");
  static const bool curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (curl_ready && multi_ == nullptr) multi_ = curl_multi_init();
  CURL* easy = curl_ready && multi_ != nullptr ? curl_easy_init() : nullptr;
  if (easy == nullptr) {  // reads as a failed transfer: not running, status 0
    Tell("http", 0, url_, "end 0");
    return;
  }
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
  if (curl_multi_add_handle(static_cast<CURLM*>(multi_), easy) != CURLM_OK) {
    curl_easy_cleanup(easy);
    Tell("http", 0, url_, "end 0");
    return;
  }
  easy_ = easy;
  running_ = true;
  Drive();
}

void CurlTransfer::Drive() {
  if (!running_) return;
  CURLM* multi = static_cast<CURLM*>(multi_);
  int still = 0;
  curl_multi_perform(multi, &still);
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    long code = 0;
    if (msg->data.result == CURLE_OK) {
      curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &code);
    }
    status_ = static_cast<int>(code);
    Abandon();
    Tell("http", 0, url_, "end " + std::to_string(status_));
    break;  // msg belonged to the handle just freed
  }
}

void CurlTransfer::WaitForActivity(int ms) {
  if (running_) curl_multi_poll(static_cast<CURLM*>(multi_), nullptr, 0, ms, nullptr);
}

bool CurlTransfer::TransferExecuting() {
  Drive();
  return running_;
}

}  // namespace qv
