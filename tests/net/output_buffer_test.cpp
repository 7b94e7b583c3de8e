// COutputBuffer over a real loopback connection whose reader is slow: units
// are kept whole or refused whole at the bound, every byte leaves once and in
// order across partial writes and compaction, and a peer that reset the
// connection makes the write fail (errno kept) instead of raising SIGPIPE.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/output_buffer.h"
#include "net/socket_setup.h"
#include "tests/support/wait.h"

namespace {
// A connected pair on 127.0.0.1: writer (non-blocking, small send buffer) and reader.
struct LoopbackPair {
  int writer = -1;
  int reader = -1;
  LoopbackPair() {
    std::string error;
    int listener = OpenListener("127.0.0.1", 0, &error);
    if (listener < 0) return;
    writer = OpenTcpSocket();
    int small = 4096;
    setsockopt(writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(LocalPort(listener));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    connect(writer, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    std::string peer;
    WaitUntil([&] { return (reader = AcceptConnection(listener, &peer)) >= 0; }, 5000);
    close(listener);
  }
  ~LoopbackPair() {
    if (writer >= 0) close(writer);
    if (reader >= 0) close(reader);
  }
  // Reads what has arrived into got; false when the peer closed.
  bool ReadSome(std::string* got) const {
    char buf[65536];
    ssize_t n = RecvNoWait(reader, buf, sizeof buf);
    if (n > 0) got->append(buf, static_cast<size_t>(n));
    return n != 0;
  }
};

std::string Unit(int i, size_t len) { return std::string(len, static_cast<char>('a' + i % 26)); }
}  // namespace

TEST(OutputBuffer, UnitsLeaveWholeInOrderAndThePastBoundOneIsRefusedWhole) {
  LoopbackPair pair;
  ASSERT_GE(pair.writer, 0);
  ASSERT_GE(pair.reader, 0);
  COutputBuffer out(300000);
  std::string expected;
  int i = 0;
  // Send until the kernel stops taking: the rest waits in the buffer.
  for (; out.Empty(); i++) {
    std::string u = Unit(i, 1000 + static_cast<size_t>(i));
    ASSERT_NE(out.Send(pair.writer, u.data(), u.size()), OUTPUT_FAILED);
    expected += u;
  }
  // Later units go behind the waiting bytes, one in two parts, until the bound.
  std::string head = "HEAD", body = Unit(i, 5000);
  ASSERT_TRUE(out.Append(head.data(), head.size(), body.data(), body.size()));
  expected += head + body;
  for (i++;; i++) {
    std::string u = Unit(i, 20000);
    size_t before = out.Pending();
    if (!out.Append(u.data(), u.size())) {
      EXPECT_EQ(out.Pending(), before);  // nothing of the refused unit was kept
      EXPECT_GT(before + u.size(), out.Bound());
      break;
    }
    expected += u;
  }
  std::string twoParts = "X";
  EXPECT_FALSE(out.Append(twoParts.data(), 1, body.data(), out.Bound()));  // the body alone passes the bound

  // The reader drains; the writer writes whenever it can and keeps appending
  // behind the partly written front (which compaction moves).
  std::string got;
  int extra = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        EXPECT_NE(out.WriteTo(pair.writer), OUTPUT_FAILED);
        std::string u = Unit(i + extra, 3000);
        if (extra < 100 && out.Append(u.data(), u.size())) {
          expected += u;
          extra++;
        }
        pair.ReadSome(&got);
        return extra == 100 && out.Empty() && got.size() == expected.size();
      },
      10000));
  EXPECT_TRUE(got == expected);  // not EXPECT_EQ: a megabyte of text on failure helps nobody
  EXPECT_LE(out.Capacity(), 65536u);  // the drained buffer gave its memory back
}

TEST(OutputBuffer, WriteToAResetPeerFailsWithErrnoAndNoSignal) {
  LoopbackPair pair;
  ASSERT_GE(pair.reader, 0);
  COutputBuffer out(1u << 20);
  std::string u = Unit(0, 200000);
  ASSERT_NE(out.Send(pair.writer, u.data(), u.size()), OUTPUT_FAILED);
  ASSERT_FALSE(out.Empty());
  SetResetOnClose(pair.reader);
  close(pair.reader);
  pair.reader = -1;
  OutputResult r = OUTPUT_WOULD_BLOCK;
  int err = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        r = out.WriteTo(pair.writer);
        err = errno;
        return r != OUTPUT_WOULD_BLOCK;
      },
      5000));
  EXPECT_EQ(r, OUTPUT_FAILED);
  EXPECT_TRUE(err == ECONNRESET || err == EPIPE) << err;
  EXPECT_FALSE(out.Empty());  // the caller decides: it drops the peer and clears
  out.Clear();
  EXPECT_EQ(out.Pending(), 0u);
}
