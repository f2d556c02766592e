// Secrets of the log-on never reach a log: not the password, not the digest
// key the Gateway hands out, not the digest the driver sends back. Checked
// at the most talkative settings (LogLevel 100 for the host sink, file
// logging on) across full log-ons against the simulator, including a wrong
// password that makes the driver retry. The keys are taken from the bytes
// the simulator really sent, through a recording relay between driver and
// simulator; the digests from the simulator's request log.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "driver_fixture.h"

namespace strevon {
namespace integration {
namespace {

constexpr const char* kUser = "auditor";
constexpr const char* kPassword = "Sec-r3t!pw#Audit";
constexpr const char* kWrongPassword = "Wr0ng-pw!Audit";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Forwards every connection it accepts to the simulator and keeps the bytes
// the simulator sent back, so that the digest keys can be read from them.
class RecordingRelay {
 public:
  explicit RecordingRelay(std::uint16_t target) : m_target(target) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof(address);
    if (m_listener >= 0 && bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        listen(m_listener, 8) == 0 &&
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
    m_thread = std::thread([this] { Run(); });
  }
  ~RecordingRelay() {
    m_stop.store(true);
    m_thread.join();
    if (m_listener >= 0) close(m_listener);
  }
  std::uint16_t Port() const { return m_port; }

  // Every "DigestKey" header value the simulator has sent so far.
  std::set<std::string> DigestKeys() const {
    std::string downstream;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      downstream = m_downstream;
    }
    std::set<std::string> keys;
    const std::string name = "DigestKey:";
    for (std::size_t at = downstream.find(name); at != std::string::npos;
         at = downstream.find(name, at + 1)) {
      const std::size_t start = downstream.find_first_not_of(" \t", at + name.size());
      const std::size_t end = downstream.find("\r\n", at);
      if (start != std::string::npos && end != std::string::npos && end > start) {
        keys.insert(downstream.substr(start, end - start));
      }
    }
    return keys;
  }

 private:
  struct Pair {
    int driverSide = -1;
    int gatewaySide = -1;
  };

  static sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
  }

  int ConnectToTarget() const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(m_target);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  // Moves what is waiting on from to to; false when from is done.
  bool Forward(int from, int to, bool record) {
    char buffer[8192];
    const ssize_t n = recv(from, buffer, sizeof(buffer), 0);
    if (n <= 0) return false;
    if (record) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_downstream.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(n)) {
      const ssize_t sent = send(to, buffer + done, static_cast<std::size_t>(n) - done, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }

  void Run() {
    std::vector<Pair> pairs;
    while (!m_stop.load()) {
      // The listener first, then two entries per relayed connection.
      std::vector<pollfd> fds = {{m_listener, POLLIN, 0}};
      for (const Pair& pair : pairs) {
        fds.push_back({pair.driverSide, POLLIN, 0});
        fds.push_back({pair.gatewaySide, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), 10) <= 0) continue;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        Pair& pair = pairs[i];
        bool open = true;
        if ((fds[1 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          open = Forward(pair.driverSide, pair.gatewaySide, false);
        }
        if (open && (fds[2 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          open = Forward(pair.gatewaySide, pair.driverSide, true);
        }
        if (!open) {
          close(pair.driverSide);
          close(pair.gatewaySide);
          pair.driverSide = pair.gatewaySide = -1;
        }
      }
      pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                                 [](const Pair& p) { return p.driverSide < 0; }),
                  pairs.end());
      if ((fds[0].revents & POLLIN) != 0) {
        Pair pair;
        pair.driverSide = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        pair.gatewaySide = ConnectToTarget();
        if (pair.driverSide >= 0 && pair.gatewaySide >= 0) {
          pairs.push_back(pair);
        } else {
          if (pair.driverSide >= 0) close(pair.driverSide);
          if (pair.gatewaySide >= 0) close(pair.gatewaySide);
        }
      }
    }
    for (const Pair& pair : pairs) {
      close(pair.driverSide);
      close(pair.gatewaySide);
    }
  }

  const std::uint16_t m_target;
  int m_listener = -1;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::string m_downstream;  // guarded by m_mutex
  std::thread m_thread;
};

class LogSecrecyTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    sim::Scenario withAuditor = sim::DefaultScenario();
    sim::SimUser auditor;
    auditor.name = kUser;
    auditor.password = kPassword;
    auditor.profiles = withAuditor.users.at(0).profiles;
    withAuditor.users.push_back(auditor);
    // The most talkative log there is: every level to the host, and a file.
    // A section without a profile name would stop the log-on short of the
    // profile request, so it names the default one.
    WriteSettings(
        "<Configuration><Common><Profile>service</Profile><LogLevel>100</LogLevel>"
        "<DebugEnabled>yes</DebugEnabled></Common></Configuration>");
    StartSimulator(withAuditor);
    relay = std::make_unique<RecordingRelay>(simulator->Port());
  }

  void TearDown() override {
    DestroyDriver();
    relay.reset();
    DriverFixture::TearDown();
  }

  host::DeviceConfig Device(const std::string& password) {
    host::DeviceConfig config = DefaultDevice();
    config.port = relay->Port();
    config.userName = kUser;
    config.password = password;
    return config;
  }

  // The sink's lines and every log file in the home directory, one text.
  std::string EverythingLogged() {
    std::string all;
    for (const host::DebugLine& line : sink.Lines().Snapshot()) all += line.text + "\n";
    if (DIR* dir = opendir(home.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("Strevon", 0) != 0 || name == "Strevon.xml") continue;
        std::ifstream in(home + "/" + name, std::ios::binary);
        all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      closedir(dir);
    }
    return all;
  }

  // The digests the driver sent, from the simulator's request log.
  std::set<std::string> SentDigests() {
    std::set<std::string> digests;
    for (const sim::RequestRecord& r : simulator->Requests()) {
      if (r.command == "user/logon" && !r.Param("pass").empty()) digests.insert(r.Param("pass"));
    }
    return digests;
  }

  void ExpectNothingSecretLogged(const std::vector<std::string>& passwords) {
    const std::string logged = Lower(EverythingLogged());
    // Not vacuous: the log-on was logged at all, in the sink and the file.
    ASSERT_FALSE(sink.Lines().Snapshot().empty());
    std::ifstream file(home + "/Strevon.log");
    ASSERT_TRUE(file.good()) << "no log file in " << home;

    for (const std::string& password : passwords) {
      EXPECT_EQ(logged.find(Lower(password)), std::string::npos) << "password in the log";
    }
    const std::set<std::string> keys = relay->DigestKeys();
    ASSERT_FALSE(keys.empty());
    for (const std::string& key : keys) {
      EXPECT_EQ(logged.find(Lower(key)), std::string::npos) << "digest key " << key << " logged";
    }
    const std::set<std::string> digests = SentDigests();
    ASSERT_FALSE(digests.empty());
    for (const std::string& digest : digests) {
      ASSERT_EQ(digest.size(), 40u);
      EXPECT_EQ(logged.find(Lower(digest)), std::string::npos) << "digest " << digest << " logged";
      // Nor its first half, in case a line is cut or wrapped.
      EXPECT_EQ(logged.find(Lower(digest.substr(0, 20))), std::string::npos);
    }
  }

  std::unique_ptr<RecordingRelay> relay;
};

TEST_F(LogSecrecyTest, SuccessfulLogOnLogsNoSecret) {
  ASSERT_TRUE(OpenDriver(Device(kPassword)));
  ASSERT_TRUE(WaitConnected());
  DestroyDriver();
  ExpectNothingSecretLogged({kPassword});
}

TEST_F(LogSecrecyTest, RefusedLogOnsAndTheirRetriesLogNoSecret) {
  ASSERT_TRUE(OpenDriver(Device(kWrongPassword)));
  ASSERT_TRUE(Eventually([&] { return simulator->CountRequests("user/logon") >= 2; }, 10s));
  DestroyDriver();
  // Then the right password on a new driver, as after the user fixed it.
  ASSERT_TRUE(OpenDriver(Device(kPassword)));
  ASSERT_TRUE(WaitConnected());
  DestroyDriver();
  EXPECT_GE(SentDigests().size(), 3u);
  ExpectNothingSecretLogged({kWrongPassword, kPassword});
}

}  // namespace
}  // namespace integration
}  // namespace strevon
