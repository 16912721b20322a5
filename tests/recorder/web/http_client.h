#pragma once
// A small HTTP client for tests (libcurl): whole answers, and MJPEG streams cut
// into their parts.
#include <curl/curl.h>

#include <functional>
#include <cstdint>
#include <string>
#include <vector>

namespace http_test {

struct Answer {
  CURLcode result = CURLE_OK;
  long status = 0;
  std::string type;
  std::string headers;
  std::string body;
};

struct Request {
  std::string url;
  std::string method = "GET";
  std::string user;  // with password: Digest login
  std::string password;
  long timeoutMs = 10000;
  // Stream reading: stop (and report CURLE_WRITE_ERROR) once the body holds this many parts; 0 reads to the end.
  size_t stopAfterParts = 0;
  // When set, called with the body so far each time bytes arrive (on the fetching thread).
  std::function<void(const std::string& body)> onBody;
};

// The parts of a multipart/x-mixed-replace body with boundary "tollanframe", each
// checked to be exactly as long as its Content-Length says; `closed` tells whether
// the closing boundary was there.
std::vector<std::string> StreamParts(const std::string& body, bool* closed = nullptr);

struct WriteState {
  std::string* body;
  size_t stopAfterParts;
  const std::function<void(const std::string&)>* onBody;
};

inline size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<WriteState*>(user);
  state->body->append(data, size * count);
  if (state->onBody && *state->onBody) (*state->onBody)(*state->body);
  if (state->stopAfterParts && StreamParts(*state->body).size() >= state->stopAfterParts) return 0;
  return size * count;
}

inline size_t CollectHeaders(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

inline Answer Fetch(const Request& request) {
  Answer answer;
  CURL* curl = curl_easy_init();
  WriteState state{&answer.body, request.stopAfterParts, &request.onBody};
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &CollectHeaders);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
  if (request.method == "HEAD")
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  else if (request.method != "GET")
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (!request.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
  }
  answer.result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  char* type = nullptr;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
  if (type) answer.type = type;
  curl_easy_cleanup(curl);
  return answer;
}

inline Answer Get(const std::string& url) {
  Request r;
  r.url = url;
  return Fetch(r);
}

inline std::vector<std::string> StreamParts(const std::string& body, bool* closed) {
  std::vector<std::string> parts;
  const std::string start = "--tollanframe\r\n";
  size_t at = 0;
  for (;;) {
    if (body.compare(at, start.size(), start) != 0) break;
    const size_t headEnd = body.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) break;
    const std::string head = body.substr(at, headEnd - at);
    const size_t lengthAt = head.find("Content-Length: ");
    if (lengthAt == std::string::npos || head.find("Content-Type: image/jpeg") == std::string::npos) break;
    const size_t length = std::stoul(head.substr(lengthAt + 16));
    const size_t bodyAt = headEnd + 4;
    if (bodyAt + length + 2 > body.size() || body.compare(bodyAt + length, 2, "\r\n") != 0) break;
    parts.push_back(body.substr(bodyAt, length));
    at = bodyAt + length + 2;
  }
  if (closed) *closed = body.compare(at, std::string::npos, "--tollanframe--\r\n") == 0;
  return parts;
}

}  // namespace http_test
