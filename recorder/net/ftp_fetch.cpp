#include "recorder/net/ftp_fetch.h"

#include <curl/curl.h>

#include <mutex>
#include <string_view>

namespace recorder::net {

namespace {

// How often a quiet download looks for a waiting stop; curl's own wait would be a second.
constexpr int kStopCheckMs = 100;

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

// Called by curl while data moves; a non-zero answer abandons the transfer.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* stopRequested = static_cast<const std::function<bool()>*>(user);
  return *stopRequested && (*stopRequested)() ? 1 : 0;
}

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A host that curl would read as something else (a path, a fragment, credentials)
// must not reach the URL: it would connect somewhere the address does not name.
bool UsableHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
    for (char bad : std::string_view("/?#@[]\\%")) {
      if (c == bad) return false;
    }
  }
  return true;
}

// Every segment escaped, the slashes kept: '%', '#', '?' and ";type=" in a file
// name stay parts of the name instead of being decoded, cutting it or switching
// the transfer to text mode.
bool EscapePath(CURL* curl, const std::string& path, std::string& out) {
  out.clear();
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) {
      char* escaped = curl_easy_escape(curl, path.data() + start, static_cast<int>(end - start));
      if (!escaped) return false;
      out += escaped;
      curl_free(escaped);
    }
    if (slash == std::string::npos) return true;
    out += '/';
    start = slash + 1;
  }
}

}  // namespace

bool FtpDownload(const CameraAddress& address, std::vector<uint8_t>& out, const FtpRequest& request,
                 std::string* error) {
  out.clear();
  if (error) error->clear();
  auto fail = [&](const std::string& reason) {
    out.clear();
    if (error) *error = reason;
    return false;
  };
  if (!UsableHost(address.host)) return fail("no usable host name");
  // An empty name would list the folder, and that listing is no picture.
  if (address.path.empty() || address.path.back() == '/') return fail("no file name");
  GlobalInitOnce();

  CURL* curl = curl_easy_init();
  CURLM* multi = curl_multi_init();
  std::string path;
  if (!curl || !multi || !EscapePath(curl, address.path, path)) {
    if (curl) curl_easy_cleanup(curl);
    if (multi) curl_multi_cleanup(multi);
    return fail("the FTP client could not be started");
  }

  const std::string url = "ftp://" + HostForUrl(address.host) + ":" + std::to_string(address.port) + "/" + path;
  Sink sink{&out};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_USERNAME, address.userName.empty() ? "anonymous" : address.userName.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, address.password.c_str());
  curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");  // active mode
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  // Bounded waits so that a dead or dripping server cannot hold the worker for long.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
  curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, 5000L);
  if (!request.timeUp) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request.stopRequested);
  curl_multi_add_handle(multi, curl);

  // Our own loop rather than curl_easy_perform, so that a stop is seen between
  // short waits even while no data moves.
  bool abandoned = false;
  bool done = false;
  CURLcode rc = CURLE_OK;
  int running = 1;
  while (!done) {
    if (request.stopRequested && request.stopRequested()) {
      abandoned = true;
      break;
    }
    if (request.timeUp && request.timeUp()) {
      rc = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      rc = CURLE_FAILED_INIT;
      break;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE) {
        rc = msg->data.result;
        done = true;
      }
    }
    if (!done && running == 0) {
      rc = CURLE_FAILED_INIT;  // finished without a result: cannot happen, but never spin
      break;
    }
    if (!done && curl_multi_poll(multi, nullptr, 0, kStopCheckMs, nullptr) != CURLM_OK) {
      rc = CURLE_FAILED_INIT;
      break;
    }
  }
  if (rc == CURLE_ABORTED_BY_CALLBACK && !sink.tooLarge) abandoned = true;
  // curl's own text for the result, with the server's reply code when it refused:
  // the error buffer keeps the first message of the transfer, which may be an
  // internal step that curl recovered from.
  std::string reason = curl_easy_strerror(rc);
  long reply = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply) == CURLE_OK && reply >= 400)
    reason += " (reply " + std::to_string(reply) + ")";
  curl_multi_remove_handle(multi, curl);
  curl_easy_cleanup(curl);
  curl_multi_cleanup(multi);

  if (abandoned) return fail("");
  if (sink.tooLarge) return fail("file larger than " + std::to_string(kMaxFtpDownload >> 20) + " MiB");
  if (rc != CURLE_OK) return fail(reason);
  if (out.empty()) return fail("empty file");
  return true;
}

}  // namespace recorder::net
