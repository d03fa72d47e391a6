// The event on Linux: a syslog socket of the test's own, one that never reads and one that reads
// a stream framed at line feeds. The event must never hold up the run, and never forge a record.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "platform/system_posix.h"
#include "temp_folder.h"

namespace kestario {
namespace {

constexpr char kText[] = "The update script finished.\n\nCaption: A\r\nB\nUser: root";
constexpr char kEscaped[] = "The update script finished.\\n\\nCaption: A\\r\\nB\\nUser: root";

int Listen(const std::string& path, int type) {
  int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  EXPECT_EQ(0, bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address));
  if (type == SOCK_STREAM) {
    EXPECT_EQ(0, listen(fd, 4));
  }
  return fd;
}

double Seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A daemon that has stopped reading: its queue is full before the event comes. syslog(3) would
// wait in send() for ever; the event gives up within its second, and says it was not written.
TEST(SyslogTest, DaemonThatNeverReadsDoesNotHoldUpTheRun) {
  kestario_test::TempFolder folder;
  std::string path = folder.Path() + "/log";
  int daemon = Listen(path, SOCK_DGRAM);
  int filler = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  int queued = 0;
  while (sendto(filler, "x", 1, 0, reinterpret_cast<struct sockaddr*>(&address), sizeof address) ==
         1) {
    ++queued;
  }
  ASSERT_GT(queued, 0);
  PosixSystem system;
  system.SetSyslogSocket(path.c_str());
  double began = Seconds();
  EXPECT_FALSE(system.WriteEventLogEntry("kestario-updater", kEventTypeInformation, 1000, nullptr,
                                         0, kText));
  double took = Seconds() - began;
  EXPECT_LT(took, 3.0);
  EXPECT_GT(took, 0.5);  // it did wait a while for room
  close(filler);
  close(daemon);
}

// A daemon with room gets one datagram, in the form of syslog(3), with the line breaks escaped;
// no socket at all loses the event at once.
TEST(SyslogTest, DatagramCarriesOneEscapedMessage) {
  kestario_test::TempFolder folder;
  std::string path = folder.Path() + "/log";
  int daemon = Listen(path, SOCK_DGRAM);
  PosixSystem system;
  system.SetSyslogSocket(path.c_str());
  EXPECT_TRUE(
      system.WriteEventLogEntry("kestario-updater", kEventTypeError, 1002, nullptr, 0, kText));
  char buffer[4096];
  ssize_t got = recv(daemon, buffer, sizeof buffer, MSG_DONTWAIT);
  ASSERT_GT(got, 0);
  std::string message(buffer, static_cast<size_t>(got));
  EXPECT_EQ(0u, message.find("<11>")) << message;  // LOG_USER | LOG_ERR
  std::string tail = " kestario-updater[" + std::to_string(getpid()) + "]: " + kEscaped;
  ASSERT_GT(message.size(), tail.size());
  EXPECT_EQ(tail, message.substr(message.size() - tail.size())) << message;
  close(daemon);
  system.SetSyslogSocket((folder.Path() + "/none").c_str());
  EXPECT_FALSE(
      system.WriteEventLogEntry("kestario-updater", kEventTypeError, 1002, nullptr, 0, kText));
}

// A daemon that listens on a stream and takes a record to end at a line feed (or a NUL, as
// syslog(3) ends a record on a stream) sees exactly one record.
TEST(SyslogTest, StreamReaderSeesExactlyOneRecord) {
  kestario_test::TempFolder folder;
  std::string path = folder.Path() + "/log";
  int daemon = Listen(path, SOCK_STREAM);
  std::string received;
  std::thread reader([&] {
    struct pollfd wait = {daemon, POLLIN, 0};
    if (poll(&wait, 1, 5000) != 1) return;
    int connection = accept(daemon, nullptr, nullptr);
    char buffer[4096];
    for (ssize_t got; (got = read(connection, buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<size_t>(got));
    }
    close(connection);
  });
  PosixSystem system;
  system.SetSyslogSocket(path.c_str());
  EXPECT_TRUE(
      system.WriteEventLogEntry("kestario-updater", kEventTypeWarning, 1001, nullptr, 0, kText));
  reader.join();
  close(daemon);
  std::vector<std::string> records;
  std::string record;
  for (char c : received) {
    if (c == '\n' || c == '\0') {
      if (!record.empty()) records.push_back(record);
      record.clear();
    } else {
      record += c;
    }
  }
  if (!record.empty()) records.push_back(record);
  ASSERT_EQ(1u, records.size()) << received;
  EXPECT_EQ(0u, records[0].find("<12>")) << records[0];  // LOG_USER | LOG_WARNING
  EXPECT_NE(std::string::npos, records[0].find(kEscaped)) << records[0];
  EXPECT_EQ('\0', received.back());
}

}  // namespace
}  // namespace kestario
