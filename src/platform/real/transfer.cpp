// transfer.cpp -- the one HTTP request (a GET, or a POST of a replay), on libcurl's multi
// interface: started without waiting, advanced by each turn of the event pump. libcurl is loaded
// when the first transfer starts: linked with the program, it and the thirty-odd libraries it needs
// (TLS, Kerberos, LDAP...) would be mapped and initialised before the first sound, about 8 ms of
// every start, for a request few sessions make.
#include <curl/curl.h>
#include <dlfcn.h>

#include <type_traits>

#include "platform/real/machine.h"

namespace qv {

namespace {

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

// A transfer gives up after this long, so nothing stays open for ever.
constexpr long kTransferTimeoutMs = 30000;

// The part of libcurl the transfer calls, looked up once in the loaded library.
struct Curl {
  decltype(&curl_global_init) global_init;
  decltype(&curl_multi_init) multi_init;
  decltype(&curl_multi_cleanup) multi_cleanup;
  decltype(&curl_multi_add_handle) multi_add_handle;
  decltype(&curl_multi_remove_handle) multi_remove_handle;
  decltype(&curl_multi_perform) multi_perform;
  decltype(&curl_multi_info_read) multi_info_read;
  decltype(&curl_multi_poll) multi_poll;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
};

// libcurl loaded and initialised, or null when it is not installed (every transfer then fails
// as one that cannot connect). The library stays loaded until the program ends.
const Curl* LoadCurl() {
  static const Curl* const curl = []() -> const Curl* {
    void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return nullptr;
    static Curl c;
    bool found = true;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      found = found && fn != nullptr;
    };
    get(c.global_init, "curl_global_init");
    get(c.multi_init, "curl_multi_init");
    get(c.multi_cleanup, "curl_multi_cleanup");
    get(c.multi_add_handle, "curl_multi_add_handle");
    get(c.multi_remove_handle, "curl_multi_remove_handle");
    get(c.multi_perform, "curl_multi_perform");
    get(c.multi_info_read, "curl_multi_info_read");
    get(c.multi_poll, "curl_multi_poll");
    get(c.easy_init, "curl_easy_init");
    get(c.easy_cleanup, "curl_easy_cleanup");
    get(c.easy_setopt, "curl_easy_setopt");
    get(c.easy_getinfo, "curl_easy_getinfo");
    get(c.slist_append, "curl_slist_append");
    get(c.slist_free_all, "curl_slist_free_all");
    if (!found || c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return &c;
  }();
  return curl;
}

}  // namespace

CurlTransfer::~CurlTransfer() { Close(); }

void CurlTransfer::Close() {
  Abandon();
  // multi_ is only ever made through a loaded libcurl.
  if (multi_ != nullptr) LoadCurl()->multi_cleanup(static_cast<CURLM*>(multi_));
  multi_ = nullptr;
}

void CurlTransfer::Abandon() {
  if (easy_ == nullptr) return;
  const Curl* curl = LoadCurl();
  curl->multi_remove_handle(static_cast<CURLM*>(multi_), static_cast<CURL*>(easy_));
  curl->easy_cleanup(static_cast<CURL*>(easy_));
  easy_ = nullptr;
  if (headers_ != nullptr) curl->slist_free_all(static_cast<curl_slist*>(headers_));
  headers_ = nullptr;
  running_ = false;
}

void CurlTransfer::StartTransfer(const std::string& url, const std::string& body) {
  Abandon();
  status_ = 0;
  url_ = url;
  body_ = body;
  // Told first: the first drive below may already see the end.
  Tell("http", 0, url_, "start");
  const Curl* curl = LoadCurl();
  if (curl != nullptr && multi_ == nullptr) multi_ = curl->multi_init();
  CURL* easy = curl != nullptr && multi_ != nullptr ? curl->easy_init() : nullptr;
  if (easy == nullptr) {  // reads as a failed transfer: not running, status 0
    Tell("http", 0, url_, "end 0");
    return;
  }
  curl->easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl->easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  curl->easy_setopt(easy, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
  curl->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl->easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
  if (!body_.empty()) {
    // libcurl reads the body from body_, which stays put until the transfer is abandoned.
    curl->easy_setopt(easy, CURLOPT_POSTFIELDS, body_.data());
    curl->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    headers_ = curl->slist_append(nullptr, "Content-Type: application/octet-stream");
    curl->easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers_));
  }
  if (curl->multi_add_handle(static_cast<CURLM*>(multi_), easy) != CURLM_OK) {
    curl->easy_cleanup(easy);
    if (headers_ != nullptr) curl->slist_free_all(static_cast<curl_slist*>(headers_));
    headers_ = nullptr;
    Tell("http", 0, url_, "end 0");
    return;
  }
  easy_ = easy;
  running_ = true;
  Drive();
}

void CurlTransfer::Drive() {
  if (!running_) return;
  const Curl* curl = LoadCurl();
  CURLM* multi = static_cast<CURLM*>(multi_);
  int still = 0;
  curl->multi_perform(multi, &still);
  int left = 0;
  while (CURLMsg* msg = curl->multi_info_read(multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    long code = 0;
    if (msg->data.result == CURLE_OK) {
      curl->easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &code);
    }
    status_ = static_cast<int>(code);
    Abandon();
    Tell("http", 0, url_, "end " + std::to_string(status_));
    break;  // msg belonged to the handle just freed
  }
}

void CurlTransfer::WaitForActivity(int ms) {
  if (running_) LoadCurl()->multi_poll(static_cast<CURLM*>(multi_), nullptr, 0, ms, nullptr);
}

bool CurlTransfer::TransferExecuting() {
  Drive();
  return running_;
}

}  // namespace qv
