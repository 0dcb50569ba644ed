// request_head_test.cpp -- reading a request head: where it ends, what it says about the
// connection, and the limits past which it is refused before it ends.
#include "request_head.h"

#include <gtest/gtest.h>

namespace scores {
namespace {

using Outcome = HeadReading::Outcome;

TEST(RequestHead, FindsWhereAHeadEndsAndWhetherTheConnectionStaysOpen) {
  const std::string head = "GET /scores/?a=b HTTP/1.1\r\nHost: x\r\n\r\n";
  HeadReading reading = ReadRequestHead(head + "GET / HTTP/1.1\r\n");
  ASSERT_EQ(reading.outcome, Outcome::kComplete);
  EXPECT_EQ(reading.length, head.size());  // the next request is left where it starts
  EXPECT_EQ(reading.head.method, "GET");
  EXPECT_EQ(reading.head.target, "/scores/?a=b");
  EXPECT_TRUE(reading.head.keep_alive);
  EXPECT_EQ(ReadRequestHead(head.substr(0, head.size() - 1)).outcome, Outcome::kIncomplete);

  struct Case {
    std::string bytes;
    bool keep_alive;
  };
  for (const Case& c : {Case{"GET / HTTP/1.1\nHost: x\n\n", true},  // bare line feeds
                        Case{"\r\nGET / HTTP/1.1\r\n\r\n", true},   // a blank line before
                        Case{"GET / HTTP/1.1\r\nConnection: Close\r\n\r\n", false},
                        Case{"GET / HTTP/1.0\r\n\r\n", false},
                        Case{"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", true},
                        Case{"HEAD / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", true}}) {
    SCOPED_TRACE(c.bytes);
    reading = ReadRequestHead(c.bytes);
    ASSERT_EQ(reading.outcome, Outcome::kComplete);
    EXPECT_EQ(reading.length, c.bytes.size());
    EXPECT_EQ(reading.head.keep_alive, c.keep_alive);
  }
}

TEST(RequestHead, RefusesHeadsPastTheirLimitsAsSoonAsTheyArePassed) {
  // A request line of exactly the limit is read; one byte more is refused, ended or not.
  std::string line = "GET /" + std::string(kMaxRequestLine - 14, 'a') + " HTTP/1.1";
  ASSERT_EQ(line.size(), kMaxRequestLine);
  EXPECT_EQ(ReadRequestHead(line + "\r\n\r\n").outcome, Outcome::kComplete);
  EXPECT_EQ(ReadRequestHead("GET /a" + line + "\r\n\r\n").status, 414);
  EXPECT_EQ(ReadRequestHead(std::string(kMaxRequestLine + 2, 'a')).status, 414);
  EXPECT_EQ(ReadRequestHead(std::string(kMaxRequestLine + 1, 'a')).outcome, Outcome::kIncomplete);

  // Header fields: the limit counts every byte after the request line, blank line included.
  const std::string start = "GET / HTTP/1.1\r\n";
  std::string fields = "X: " + std::string(kMaxHeaderBytes - 7, 'b') + "\r\n";
  EXPECT_EQ(ReadRequestHead(start + fields + "\r\n").outcome, Outcome::kComplete);
  EXPECT_EQ(ReadRequestHead(start + "Y" + fields + "\r\n").status, 431);
  EXPECT_EQ(ReadRequestHead(start + std::string(kMaxHeaderBytes + 1, 'b')).status, 431);
}

TEST(RequestHead, RefusesMalformedHeadsAndRequestsWithABody) {
  struct Case {
    std::string bytes;
    int status;
  };
  for (const Case& c : {Case{"GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 413},
                        Case{"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 413},
                        Case{"GET / HTTP/1.1\r\nContent-Length: five\r\n\r\n", 400},
                        Case{"GET / HTTP/2.0\r\n\r\n", 505}, Case{"GET / HTTP/1.1 \r\n\r\n", 400},
                        Case{"GET  / HTTP/1.1\r\n\r\n", 400}, Case{"GET / http/1.1\r\n\r\n", 400},
                        Case{"GET / HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", 400},
                        Case{"GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400},
                        Case{"GET / HTTP/1.1\r\nX: a\rb\r\n\r\n", 400},
                        Case{std::string(kMaxRequestLine + 1, '\n'), 400}}) {
    SCOPED_TRACE(c.bytes);
    HeadReading reading = ReadRequestHead(c.bytes);
    EXPECT_EQ(reading.outcome, Outcome::kRefused);
    EXPECT_EQ(reading.status, c.status);
  }
}

}  // namespace
}  // namespace scores
