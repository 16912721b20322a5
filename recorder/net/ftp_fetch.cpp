#include "recorder/net/ftp_fetch.h"

#include <curl/curl.h>

#include <mutex>

namespace recorder::net {

namespace {

struct Sink {
  std::vector<uint8_t>* out;
  bool tooLarge = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  if (sink->out->size() + n > kMaxFtpDownload) {
    sink->tooLarge = true;
    return 0;  // makes curl fail the transfer
  }
  sink->out->insert(sink->out->end(), reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + n);
  return n;
}

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

bool FtpDownload(const CameraAddress& address, std::vector<uint8_t>& out) {
  out.clear();
  if (address.host.empty()) return false;
  GlobalInitOnce();
  CURL* curl = curl_easy_init();
  if (!curl) return false;

  // The path is the remote file name as written in the camera address.
  const std::string url = "ftp://" + address.host + ":" + std::to_string(address.port) + "/" + address.path;
  Sink sink{&out};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, address.userName.empty() ? "anonymous" : address.userName.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, address.password.c_str());
  curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");  // active mode
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  // Bounded waits so that a dead server cannot hold the worker past a shutdown.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
  curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, 5000L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK || sink.tooLarge || out.empty()) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace recorder::net
