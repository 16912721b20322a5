#include "recorder/web/web_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/timecode.h"

namespace recorder::web {
namespace {

constexpr const char* kRealm = "Tollan recorder";
constexpr const char* kBoundary = "tollanframe";
constexpr size_t kMaxRememberedAddresses = 4096;
constexpr int kResendAfterMs = 5000;
int overLimitMarker = 0;  // the socket context of a connection past the client limit
int requestStarted = 0;   // the request state once its headers are in

struct StreamState {
  WebServer* server = nullptr;
  std::shared_ptr<LiveCamera> camera;
  Picture picture;  // the one picture this viewer is sending, or null
  uint64_t number = 0;
  std::string head;
  size_t offset = 0;  // within head + picture + CR LF
  bool closed = false;
  int idleMs = 0;
  int socket = -1;  // the viewer's connection, watched for a hang-up while waiting
  size_t index = 0;
};

// Whether the viewer hung up: its thread waits here for pictures, not on the socket.
bool ViewerGone(int socket) {
  if (socket < 0) return false;
  pollfd p{socket, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

// Copies part of the pieces from offset into out; returns the bytes copied.
size_t CopyPart(const std::string& head, const std::vector<uint8_t>& body, size_t offset, char* out, size_t max) {
  size_t copied = 0;
  auto piece = [&](const char* data, size_t size) {
    if (offset >= size) {
      offset -= size;
      return;
    }
    const size_t n = std::min(size - offset, max - copied);
    std::memcpy(out + copied, data + offset, n);
    copied += n;
    offset = 0;
  };
  piece(head.data(), head.size());
  if (copied < max) piece(reinterpret_cast<const char*>(body.data()), body.size());
  if (copied < max) piece("\r\n", 2);
  return copied;
}

ssize_t ReadStream(void* cls, uint64_t, char* out, size_t max) {
  auto* s = static_cast<StreamState*>(cls);
  for (;;) {
    if (s->picture) {
      const size_t total = s->head.size() + s->picture->size() + 2;
      if (s->offset < total) {
        const size_t n = CopyPart(s->head, *s->picture, s->offset, out, max);
        s->offset += n;
        return static_cast<ssize_t>(n);
      }
      s->picture.reset();  // skipped pictures are never held: the next is the newest
    }
    if (s->closed) return MHD_CONTENT_READER_END_OF_STREAM;
    // A stop, or a camera taken off the list, ends the stream with its closing boundary.
    if (s->server->Stopping() || !s->server->Listed(s->index, s->camera)) {
      s->closed = true;
      const std::string tail = std::string("--") + kBoundary + "--\r\n";
      const size_t n = std::min(max, tail.size());
      std::memcpy(out, tail.data(), n);
      return static_cast<ssize_t>(n);
    }
    if (ViewerGone(s->socket)) return MHD_CONTENT_READER_END_WITH_ERROR;
    uint64_t number = 0;
    Picture next = s->camera->WaitNewer(s->number, 200, &number);
    if (!next) {
      // A camera that sends nothing for a while gets its last picture again, which
      // also finds viewers that went away, so their threads end.
      s->idleMs += 200;
      if (s->idleMs < kResendAfterMs) continue;
      next = s->camera->Latest(&number);
      if (!next) continue;
    }
    s->idleMs = 0;
    s->picture = std::move(next);
    s->number = number;
    s->offset = 0;
    s->head = std::string("--") + kBoundary +
              "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(s->picture->size()) + "\r\n\r\n";
  }
}

void EndStream(void* cls) {
  auto* s = static_cast<StreamState*>(cls);
  s->camera->RemoveWatcher();
  s->server->StreamEnded();
  delete s;
}

void FreePicture(void* cls) { delete static_cast<Picture*>(cls); }

MHD_Result Trampoline(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                      const char*, size_t*, void** state) {
  return static_cast<WebServer*>(cls)->HandleRequest(connection, url, method, state) == MHD_YES ? MHD_YES : MHD_NO;
}

void NotifyTrampoline(void* cls, MHD_Connection* connection, void** socketContext,
                      MHD_ConnectionNotificationCode code) {
  static_cast<WebServer*>(cls)->NoteConnection(connection, socketContext, code == MHD_CONNECTION_NOTIFY_STARTED);
}

void AddCommonHeaders(MHD_Response* response, const char* type) {
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
}

int AnswerText(MHD_Connection* connection, unsigned status, const std::string& text,
               const char* type = "text/plain; charset=utf-8", bool close = false) {
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  AddCommonHeaders(response, type);
  if (close) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const int result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string TimeJson(int64_t when) {
  if (when <= 0) return "null";
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&t, &local);
  return JsonText(platform::FormatTime("%Y-%m-%d %H:%M:%S", local));
}

// "/cameras/N/stream.mjpg" and "/cameras/N/snapshot.jpg": the camera number and the
// last part; false for any other path.
bool ParseCameraPath(const std::string& url, size_t& index, std::string& what) {
  static const std::string prefix = "/cameras/";
  if (url.compare(0, prefix.size(), prefix) != 0) return false;
  const size_t slash = url.find('/', prefix.size());
  if (slash == std::string::npos) return false;
  const std::string number = url.substr(prefix.size(), slash - prefix.size());
  if (number.empty() || number.size() > 4 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  index = std::stoul(number);
  what = url.substr(slash + 1);
  return what == "stream.mjpg" || what == "snapshot.jpg";
}

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return "?";
  char text[INET6_ADDRSTRLEN] = "?";
  if (info->client_addr->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof(text));
  else if (info->client_addr->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text, sizeof(text));
  return text;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = text.str();
  return !out.empty() && out.size() < (1u << 20);
}

}  // namespace

WebServer::WebServer(std::shared_ptr<LiveBoard> board) : board_(std::move(board)) {}

WebServer::~WebServer() { Stop(0); }

int WebServer::FailedLoginDelayMs(int failures) {
  if (failures <= 0) return 0;
  const int shift = std::min(failures - 1, 6);
  return std::min(250 << shift, 8000);  // 250 ms, 500 ms, 1 s ... 8 s
}

bool WebServer::Start(const ServeSettings& settings, std::string& error) {
  Stop(0);
  settings_ = settings;
  stopping_ = false;
  const std::string problem = ServeSettingsProblem(settings_);
  if (!problem.empty()) {
    error = problem;
    return false;
  }
  if (settings_.Tls()) {
    if (!ReadWholeFile(settings_.certFile, cert_)) {
      error = "Cannot read the certificate file " + settings_.certFile;
      return false;
    }
    if (!ReadWholeFile(settings_.keyFile, key_)) {
      error = "Cannot read the key file " + settings_.keyFile;
      return false;
    }
  }
  std::random_device random;
  nonceSeed_.clear();
  for (int i = 0; i < 32; ++i) nonceSeed_ += static_cast<char>(random() & 0xFF);

  sockaddr_storage address{};
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC;
  const bool v6 = settings_.address.find(':') != std::string::npos;
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(settings_.port);
    if (inet_pton(AF_INET6, settings_.address.c_str(), &a->sin6_addr) != 1) {
      error = "Not an IP address: " + settings_.address;
      return false;
    }
    flags |= MHD_USE_IPv6;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(settings_.port);
    if (inet_pton(AF_INET, settings_.address.c_str(), &a->sin_addr) != 1) {
      error = "Not an IP address: " + settings_.address;
      return false;
    }
  }
  // Past the client limit a few more connections are taken, to be told 503; past
  // those the library refuses them outright, which bounds threads and memory.
  const unsigned hardLimit = kMaxClients + 8;
  errno = 0;
  if (settings_.Tls()) {
    daemon_ = MHD_start_daemon(flags | MHD_USE_TLS, settings_.port, nullptr, nullptr, &Trampoline, this,
                               MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT, hardLimit,
                               MHD_OPTION_NOTIFY_CONNECTION, &NotifyTrampoline, this, MHD_OPTION_CONNECTION_TIMEOUT,
                               120u, MHD_OPTION_DIGEST_AUTH_RANDOM, nonceSeed_.size(), nonceSeed_.data(),
                               MHD_OPTION_NONCE_NC_SIZE, 4096u, MHD_OPTION_HTTPS_MEM_KEY, key_.c_str(),
                               MHD_OPTION_HTTPS_MEM_CERT, cert_.c_str(), MHD_OPTION_END);
  } else {
    daemon_ =
        MHD_start_daemon(flags, settings_.port, nullptr, nullptr, &Trampoline, this, MHD_OPTION_SOCK_ADDR, &address,
                         MHD_OPTION_CONNECTION_LIMIT, hardLimit, MHD_OPTION_NOTIFY_CONNECTION, &NotifyTrampoline, this,
                         MHD_OPTION_CONNECTION_TIMEOUT, 120u, MHD_OPTION_DIGEST_AUTH_RANDOM, nonceSeed_.size(),
                         nonceSeed_.data(), MHD_OPTION_NONCE_NC_SIZE, 4096u, MHD_OPTION_END);
  }
  if (!daemon_) {
    const int code = errno;
    error = "Cannot serve on " + settings_.WallUrl() + (code ? std::string(": ") + std::strerror(code) : "");
    if (settings_.Tls()) error += " (is the certificate and key a matching PEM pair?)";
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info && info->port ? info->port : settings_.port;
  return true;
}

void WebServer::Stop(int waitMs) {
  if (!daemon_) return;
  stopping_ = true;
  const MHD_socket listener = MHD_quiesce_daemon(daemon_);
  if (board_)
    for (const auto& camera : board_->Cameras()) camera->WakeAll();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopWake_.notify_all();
  }
  // Streams see the stop within their next wait and send their closing boundary.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (openStreams_.load() > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  MHD_stop_daemon(daemon_);
  if (listener != MHD_INVALID_SOCKET) ::close(listener);
  daemon_ = nullptr;
  cert_.clear();
  key_.clear();
}

void WebServer::StreamEnded() { openStreams_.fetch_sub(1); }

bool WebServer::Listed(size_t index, const std::shared_ptr<LiveCamera>& camera) const {
  return board_->Camera(index) == camera;
}

void WebServer::NoteConnection(MHD_Connection*, void** socketContext, bool started) {
  if (started) {
    const int open = openConnections_.fetch_add(1) + 1;
    *socketContext = open > kMaxClients ? &overLimitMarker : nullptr;
  } else {
    openConnections_.fetch_sub(1);
  }
}

void WebServer::WaitUnlessStopping(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  stopWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

bool WebServer::CheckLogin(MHD_Connection* connection, int* answer) {
  if (settings_.user.empty()) return true;
  const std::string address = ClientAddress(connection);
  char* offered = MHD_digest_auth_get_username(connection);
  int result = MHD_NO;
  if (offered) {
    if (settings_.user == offered)
      result = MHD_digest_auth_check2(connection, kRealm, offered, settings_.password.c_str(), 300, MHD_DIGEST_ALG_MD5);
    MHD_free(offered);
  }
  if (result == MHD_YES) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(address);
    return true;
  }
  if (offered && result != MHD_INVALID_NONCE) {
    int failures = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failures_.size() >= kMaxRememberedAddresses && !failures_.count(address)) failures_.clear();
      failures = ++failures_[address];
    }
    WaitUnlessStopping(FailedLoginDelayMs(failures));
  }
  static const std::string text = "A user and password are needed to watch these cameras.\n";
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_PERSISTENT);
  if (!response) {
    *answer = MHD_NO;
    return false;
  }
  AddCommonHeaders(response, "text/plain; charset=utf-8");
  *answer = MHD_queue_auth_fail_response2(connection, kRealm, "tollan", response,
                                          result == MHD_INVALID_NONCE ? MHD_YES : MHD_NO, MHD_DIGEST_ALG_MD5);
  MHD_destroy_response(response);
  return false;
}

int WebServer::HandleRequest(MHD_Connection* connection, const char* url, const char* method, void** state) {
  if (*state == nullptr) {  // headers only so far: answer once the request is complete
    *state = &requestStarted;
    return MHD_YES;
  }
  const MHD_ConnectionInfo* context = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (context && context->socket_context == &overLimitMarker)
    return AnswerText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Too many viewers; try again later.\n",
                      "text/plain; charset=utf-8", true);
  if (stopping_)
    return AnswerText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "The recorder is stopping.\n",
                      "text/plain; charset=utf-8", true);
  const std::string verb = method ? method : "";
  if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const int result = MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
    MHD_destroy_response(response);
    return result;
  }
  int answer = MHD_NO;
  if (!CheckLogin(connection, &answer)) return answer;

  const std::string path = url ? url : "";
  if (path == "/") {
    MHD_Response* response = MHD_create_response_from_buffer(WallPage().size(), const_cast<char*>(WallPage().data()),
                                                             MHD_RESPMEM_PERSISTENT);
    if (!response) return MHD_NO;
    AddCommonHeaders(response, "text/html; charset=utf-8");
    // The page runs only its own script and shows only this server's pictures.
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                            "img-src 'self' blob:; connect-src 'self'; frame-ancestors 'none'");
    const int result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
  }
  if (path == "/status.json") {
    std::string json = "{\"cameras\":[";
    const auto cameras = board_->Cameras();
    for (size_t i = 0; i < cameras.size(); ++i) {
      const LiveCamera::Info info = cameras[i]->ReadInfo();
      if (i) json += ",";
      json += "{\"index\":" + std::to_string(i) + ",\"name\":" + JsonText(info.title) +
              ",\"status\":" + JsonText(info.status) + ",\"framesSaved\":" + std::to_string(info.framesSaved) +
              ",\"motionLevel\":" + std::to_string(info.motionLevel) + ",\"lastMotion\":" + TimeJson(info.lastMotion) +
              ",\"picture\":" + (info.pictureNumber ? "true" : "false") + "}";
    }
    json += "]}\n";
    return AnswerText(connection, MHD_HTTP_OK, json, "application/json");
  }
  size_t index = 0;
  std::string what;
  if (!ParseCameraPath(path, index, what)) return AnswerText(connection, MHD_HTTP_NOT_FOUND, "Not found.\n");
  std::shared_ptr<LiveCamera> camera = board_->Camera(index);
  if (!camera) return AnswerText(connection, MHD_HTTP_NOT_FOUND, "No such camera.\n");

  if (what == "snapshot.jpg") {
    uint64_t number = 0;
    Picture picture = camera->Latest(&number);
    if (!picture) {
      // Ask the worker for pictures and wait a little for the first.
      camera->AddWatcher();
      for (int waited = 0; !picture && waited < 3000 && !stopping_; waited += 200)
        picture = camera->WaitNewer(0, 200, &number);
      camera->RemoveWatcher();
    }
    if (!picture) return AnswerText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "No picture yet.\n");
    auto* holder = new Picture(picture);
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        picture->size(), const_cast<uint8_t*>(picture->data()), &FreePicture, holder);
    if (!response) {
      delete holder;
      return MHD_NO;
    }
    AddCommonHeaders(response, "image/jpeg");
    const int result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
  }

  auto* stream = new StreamState;
  stream->server = this;
  stream->camera = camera;
  stream->index = index;
  if (const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
    stream->socket = fd->connect_fd;
  camera->AddWatcher();
  openStreams_.fetch_add(1);
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlockBytes, &ReadStream, stream, &EndStream);
  if (!response) {
    EndStream(stream);
    return MHD_NO;
  }
  AddCommonHeaders(response, (std::string("multipart/x-mixed-replace; boundary=") + kBoundary).c_str());
  const int result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
}

}  // namespace recorder::web
