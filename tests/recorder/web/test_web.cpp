// The live-picture server over real HTTP on 127.0.0.1, fed by the test in place
// of camera workers: routes, whole pictures in streams and snapshots, login,
// client limit, stalled viewers and a clean stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "recorder/web/live_camera.h"
#include "recorder/web/serve_settings.h"
#include "recorder/web/web_server.h"
#include "tests/recorder/web/http_client.h"

namespace {

using namespace recorder::web;
using http_test::Fetch;
using http_test::Get;

// JPEG-framed bytes, different for each seed and size.
std::vector<uint8_t> FakePicture(int seed, size_t size = 3000) {
  std::vector<uint8_t> p(size);
  for (size_t i = 0; i < size; ++i) p[i] = uint8_t((i * 31 + size_t(seed) * 7) & 0x7F);
  p[0] = 0xFF, p[1] = 0xD8, p[size - 2] = 0xFF, p[size - 1] = 0xD9;
  return p;
}
std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool WaitUntil(const std::function<bool()>& condition, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A raw connection that sends one request and then reads nothing, with a tiny
// receive buffer: a viewer that stalls.
class RawClient {
 public:
  RawClient(uint16_t port, const std::string& path) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (connected_) connected_ = send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return connected_; }
  // Reads until the status line is in; the line.
  std::string StatusLine() {
    std::string in;
    char c;
    while (in.find("\r\n") == std::string::npos && recv(fd_, &c, 1, 0) == 1) in += c;
    return in.substr(0, in.find("\r\n"));
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board_ = std::make_shared<LiveBoard>();
    camera_ = std::make_shared<LiveCamera>();
    camera_->SetInfo("front \"door\"", "Started");
    camera_->SetServing(true);
    board_->SetCameras({camera_});
    server_ = std::make_unique<WebServer>(board_);
  }
  void Start(const std::string& user = "", const std::string& password = "") {
    ServeSettings s;
    s.enabled = true;
    s.port = 0;
    s.user = user;
    s.password = password;
    std::string error;
    ASSERT_TRUE(server_->Start(s, error)) << error;
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_->Port()) + path;
  }

  std::shared_ptr<LiveBoard> board_;
  std::shared_ptr<LiveCamera> camera_;
  std::unique_ptr<WebServer> server_;
};

TEST(ServeSettings, AddressesPortsAndWhoMayServe) {
  struct Row {
    const char* text;
    bool ok;
    const char* address;
    int port;
  };
  const Row rows[] = {
      {"127.0.0.1:8080", true, "127.0.0.1", 8080},
      {"8081", true, "127.0.0.1", 8081},
      {"localhost:81", true, "127.0.0.1", 81},
      {"0.0.0.0", true, "0.0.0.0", kDefaultServePort},
      {"[::1]:9000", true, "::1", 9000},
      {"::1", true, "::1", kDefaultServePort},
      {"192.168.1.5:0", true, "192.168.1.5", 0},
      {"example.com:80", false, "", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1:8x", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},
      {"", false, "", 0},
  };
  for (const Row& row : rows) {
    std::string address, error;
    uint16_t port = 1;
    EXPECT_EQ(ParseServeAddress(row.text, address, port, error), row.ok) << row.text << ": " << error;
    if (!row.ok) {
      EXPECT_FALSE(error.empty()) << row.text;
      continue;
    }
    EXPECT_EQ(address, row.address) << row.text;
    EXPECT_EQ(port, row.port) << row.text;
  }

  struct Who {
    const char* address;
    const char* user;
    const char* password;
    const char* cert;
    const char* key;
    const char* problem;  // "" when the settings may serve
  };
  const Who who[] = {
      {"127.0.0.1", "", "", "", "", ""},
      {"127.8.9.1", "", "", "", "", ""},
      {"::1", "", "", "", "", ""},
      {"0.0.0.0", "", "", "", "", kNeedsLoginText},
      {"192.168.1.5", "anna", "", "", "", kNeedsLoginText},
      {"::", "", "", "", "", kNeedsLoginText},
      {"192.168.1.5", "anna", "secret", "", "", ""},
      {"127.0.0.1", "", "secret", "", "", "A user for serving needs a password, and a password a user"},
      {"127.0.0.1", "a:b", "secret", "", "", "The user for serving may not contain ':'"},
      {"127.0.0.1", "", "", "cert.pem", "", "Serving over HTTPS needs both a certificate and a key file"},
  };
  for (const Who& w : who) {
    ServeSettings s;
    s.enabled = true;
    s.address = w.address;
    s.user = w.user;
    s.password = w.password;
    s.certFile = w.cert;
    s.keyFile = w.key;
    EXPECT_EQ(ServeSettingsProblem(s), w.problem) << w.address << " " << w.user;
  }
}

TEST_F(WebServerTest, OnlyTheFixedRoutesAreServed) {
  const std::vector<uint8_t> picture = FakePicture(1);
  camera_->Publish(std::vector<uint8_t>(picture));
  Start();
  struct Row {
    const char* method;
    const char* path;
    long status;
    const char* type;  // start of the content type; "" for any
  };
  const Row rows[] = {
      {"GET", "/", 200, "text/html"},
      {"HEAD", "/", 200, "text/html"},
      {"GET", "/status.json", 200, "application/json"},
      {"GET", "/cameras/0/snapshot.jpg", 200, "image/jpeg"},
      {"GET", "/cameras/1/snapshot.jpg", 404, ""},
      {"GET", "/cameras/1/stream.mjpg", 404, ""},
      {"GET", "/cameras/0/", 404, ""},
      {"GET", "/cameras/x/snapshot.jpg", 404, ""},
      {"GET", "/cameras/99999/snapshot.jpg", 404, ""},
      {"GET", "/cameras/0/../../../etc/passwd", 404, ""},
      {"GET", "/../etc/passwd", 404, ""},
      {"GET", "/index.html", 404, ""},
      {"GET", "/status.json/", 404, ""},
      {"POST", "/", 405, ""},
      {"DELETE", "/cameras/0/snapshot.jpg", 405, ""},
  };
  for (const Row& row : rows) {
    http_test::Request request;
    request.url = Url(row.path);
    request.method = row.method;
    const http_test::Answer a = Fetch(request);
    EXPECT_EQ(a.result, CURLE_OK) << row.path;
    EXPECT_EQ(a.status, row.status) << row.method << " " << row.path;
    EXPECT_EQ(a.type.rfind(row.type, 0), 0u) << row.path << ": " << a.type;
  }
  EXPECT_EQ(Get(Url("/cameras/0/snapshot.jpg")).body, Text(picture));
  const std::string status = Get(Url("/status.json")).body;
  EXPECT_NE(status.find("\"name\":\"front \\\"door\\\"\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"status\":\"Started\""), std::string::npos) << status;
  EXPECT_NE(status.find("\"picture\":true"), std::string::npos) << status;
  EXPECT_NE(Get(Url("/")).body.find("cameras/' + i + '/snapshot.jpg"), std::string::npos);
}

TEST_F(WebServerTest, StreamCarriesWholePicturesInOrderAndEndsCleanlyOnStop) {
  Start();
  std::vector<std::vector<uint8_t>> published;
  http_test::Answer answer;
  std::atomic<bool> gotLast{false};
  std::string last;  // written before the last picture is published
  std::atomic<bool> lastKnown{false};
  std::thread viewer([&] {
    http_test::Request r;
    r.url = Url("/cameras/0/stream.mjpg");
    r.onBody = [&](const std::string& body) {
      if (lastKnown && body.find(last) != std::string::npos) gotLast = true;
    };
    answer = Fetch(r);
  });
  ASSERT_TRUE(WaitUntil([&] { return camera_->Watched(); }, 5000));
  // Pictures of different sizes, some larger than one block of the stream.
  for (int i = 0; i < 12; ++i) {
    published.push_back(FakePicture(i, 1000 + size_t(i) * 9000));
    if (i == 11) {
      last = Text(published.back());
      lastKnown = true;
    }
    camera_->Publish(std::vector<uint8_t>(published.back()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The viewer has the newest picture before the stop.
  EXPECT_TRUE(WaitUntil([&] { return gotLast.load(); }, 5000));
  server_->Stop();
  viewer.join();
  EXPECT_FALSE(camera_->Watched());
  EXPECT_EQ(answer.result, CURLE_OK);  // the chunked body ended properly
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.type, "multipart/x-mixed-replace; boundary=tollanframe");
  bool closed = false;
  const std::vector<std::string> parts = http_test::StreamParts(answer.body, &closed);
  EXPECT_TRUE(closed);
  ASSERT_FALSE(parts.empty());
  // Each part is one published picture, newer than the one before (pictures may be skipped).
  size_t next = 0;
  for (const std::string& part : parts) {
    while (next < published.size() && Text(published[next]) != part) ++next;
    EXPECT_LT(next, published.size()) << "a part that was never published, or out of order";
    ++next;
  }
  EXPECT_EQ(parts.back(), Text(published.back()));
}

TEST_F(WebServerTest, ACameraTakenOffTheListEndsItsStreams) {
  camera_->Publish(FakePicture(5));
  Start();
  http_test::Answer answer;
  std::thread viewer([&] {
    http_test::Request r;
    r.url = Url("/cameras/0/stream.mjpg");
    answer = Fetch(r);
  });
  ASSERT_TRUE(WaitUntil([&] { return camera_->Watched(); }, 5000));
  board_->SetCameras({std::make_shared<LiveCamera>()});  // another camera now stands at 0
  viewer.join();
  bool closed = false;
  const auto parts = http_test::StreamParts(answer.body, &closed);
  EXPECT_EQ(answer.result, CURLE_OK);
  EXPECT_TRUE(closed);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0], Text(FakePicture(5)));
}

TEST_F(WebServerTest, ASnapshotBeforeTheFirstPictureAsksForOneAndWaits) {
  Start();
  std::thread camera([&] {
    ASSERT_TRUE(WaitUntil([&] { return camera_->Watched(); }, 5000));
    camera_->Publish(FakePicture(7));
  });
  const http_test::Answer a = Get(Url("/cameras/0/snapshot.jpg"));
  camera.join();
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, Text(FakePicture(7)));
  EXPECT_FALSE(camera_->Watched());
}

TEST_F(WebServerTest, LoginIsDigestAndEachFailureFromAnAddressWaitsLonger) {
  const int delays[][2] = {{0, 0}, {1, 250}, {2, 500}, {3, 1000}, {6, 8000}, {40, 8000}};
  for (const auto& row : delays) EXPECT_EQ(WebServer::FailedLoginDelayMs(row[0]), row[1]) << row[0];

  camera_->Publish(FakePicture(2));
  Start("anna", "s3cret");
  const http_test::Answer none = Get(Url("/cameras/0/snapshot.jpg"));
  EXPECT_EQ(none.status, 401);
  EXPECT_NE(none.headers.find("WWW-Authenticate: Digest"), std::string::npos) << none.headers;
  EXPECT_EQ(none.body.find("s3cret"), std::string::npos);

  http_test::Request good;
  good.url = Url("/cameras/0/snapshot.jpg");
  good.user = "anna";
  good.password = "s3cret";
  const http_test::Answer ok = Fetch(good);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, Text(FakePicture(2)));

  http_test::Request bad = good;
  bad.password = "guess";
  std::vector<long> ms;
  for (int i = 0; i < 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(bad).status, 401);
    ms.push_back(
        long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()));
  }
  EXPECT_GE(ms[0], 250);
  EXPECT_GE(ms[1], 500);
  http_test::Request wrongUser = good;
  wrongUser.user = "bob";
  EXPECT_EQ(Fetch(wrongUser).status, 401);
  EXPECT_EQ(Fetch(good).status, 200);  // and a success forgets the failures
}

TEST_F(WebServerTest, TheClientPastTheLimitIsToldToComeBackLater) {
  camera_->Publish(FakePicture(3));
  Start();
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < WebServer::kMaxClients; ++i) {
    clients.push_back(std::make_unique<RawClient>(server_->Port(), "/cameras/0/stream.mjpg"));
    ASSERT_TRUE(clients.back()->connected());
    EXPECT_EQ(clients.back()->StatusLine(), "HTTP/1.1 200 OK") << i;
  }
  const http_test::Answer refused = Get(Url("/status.json"));
  EXPECT_EQ(refused.status, 503);
  clients.pop_back();
  EXPECT_TRUE(WaitUntil([&] { return Get(Url("/status.json")).status == 200; }, 5000));
}

TEST_F(WebServerTest, AStalledViewerNeverHoldsUpTheCameraNorOtherViewers) {
  Start();
  camera_->Publish(FakePicture(0, 200000));
  RawClient stalled(server_->Port(), "/cameras/0/stream.mjpg");
  ASSERT_TRUE(stalled.connected());
  ASSERT_TRUE(WaitUntil([&] { return camera_->Watched(); }, 5000));
  // Far more than the socket buffers hold: the stalled viewer's thread waits on its
  // socket while the camera goes on publishing without ever waiting.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= 300; ++i) {
    camera_->Publish(FakePicture(i, 200000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(3));
  // Another viewer gets the newest picture at once.
  http_test::Request r;
  r.url = Url("/cameras/0/stream.mjpg");
  r.stopAfterParts = 1;
  const http_test::Answer fresh = Fetch(r);
  const auto parts = http_test::StreamParts(fresh.body);
  ASSERT_GE(parts.size(), 1u);
  EXPECT_EQ(parts[0], Text(FakePicture(300, 200000)));
  // The stop does not wait on the stalled viewer for longer than its bound.
  const auto stopStart = std::chrono::steady_clock::now();
  server_->Stop(500);
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(10));
}

TEST_F(WebServerTest, ServesOverHttpsWithTheGivenCertificateAndKey) {
  camera_->Publish(FakePicture(4));
  ServeSettings s;
  s.enabled = true;
  s.port = 0;
  // A self-signed pair made for these tests, for 127.0.0.1.
  s.certFile = std::string(TOLLAN_WEB_TEST_DIR) + "/tls/cert.pem";
  s.keyFile = std::string(TOLLAN_WEB_TEST_DIR) + "/tls/key.pem";
  std::string error;
  ASSERT_TRUE(server_->Start(s, error)) << error;
  const std::string https = "https://127.0.0.1:" + std::to_string(server_->Port());
  CURL* curl = curl_easy_init();
  std::string body;
  http_test::WriteState state{&body, 0, nullptr};
  curl_easy_setopt(curl, CURLOPT_URL, (https + "/cameras/0/snapshot.jpg").c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, s.certFile.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &http_test::Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(body, Text(FakePicture(4)));
  // Plain HTTP on the same port gets no pictures.
  http_test::Request plain;
  plain.url = Url("/cameras/0/snapshot.jpg");
  plain.timeoutMs = 3000;
  EXPECT_NE(Fetch(plain).body, Text(FakePicture(4)));
}

TEST(WebServerStart, RefusesWhatItCannotServe) {
  auto board = std::make_shared<LiveBoard>();
  WebServer first(board);
  ServeSettings s;
  s.enabled = true;
  s.port = 0;
  std::string error;
  ASSERT_TRUE(first.Start(s, error)) << error;
  struct Row {
    std::string address;
    int port;
    std::string cert;
    std::string expect;  // start of the error
  };
  const Row rows[] = {
      {"0.0.0.0", 0, "", kNeedsLoginText},
      {"127.0.0.1", first.Port(), "", "Cannot serve on http://127.0.0.1:"},
      {"127.0.0.1", 0, "/nonexistent/cert.pem", "Cannot read the certificate file /nonexistent/cert.pem"},
  };
  for (const Row& row : rows) {
    WebServer second(board);
    ServeSettings t = s;
    t.address = row.address;
    t.port = uint16_t(row.port);
    t.certFile = row.cert;
    t.keyFile = row.cert;
    error.clear();
    EXPECT_FALSE(second.Start(t, error)) << row.address;
    EXPECT_EQ(error.rfind(row.expect, 0), 0u) << error;
    EXPECT_FALSE(second.Running());
  }
}

}  // namespace
