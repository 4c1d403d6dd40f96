// Frames over a real byte stream: what the core writes, and how it finds,
// caps and gives up on what the handset sends.
#include <atomic>
#include <cstring>
#include <string>

#include "link/login.h"
#include "tests/link/link_fixture.h"

namespace {

class FrameTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    ASSERT_TRUE(OpenCorePort(peer.PortName()));
  }

  std::vector<std::uint8_t> Sent(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    EXPECT_TRUE(peer.ReadExact(bytes.data(), n, 3000));
    return bytes;
  }

  std::vector<std::uint8_t> Packet(std::size_t n) {
    return std::vector<std::uint8_t>(g_packet, g_packet + n);
  }
};

TEST_F(FrameTest, RequestsAreWrittenByteForByte) {
  SendGoodbye();
  EXPECT_EQ(Sent(12), Bytes({0xE1, 0x01, 0x00, 0xFF, 0x04, 0, 0, 0, 0x00, 0x01, 0x00, 0x02}));
  EXPECT_EQ(SendRequest(255, 0x0102, ""), 0);
  EXPECT_EQ(Sent(12), Bytes({0xE1, 0x01, 0x00, 0xFF, 0x04, 0, 0, 0, 0x00, 0x01, 0x00, 0x02}));

  EXPECT_EQ(SendRequest(kHello, "1"), 0);
  EXPECT_EQ(Sent(13), Bytes({0xE1, 0x01, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0x01, 0, 0x01, '1'}));

  // Header only: the length announces 35 payload bytes the caller writes.
  EXPECT_EQ(SendHeader(kBookmarkRecord, 35), 0);
  EXPECT_EQ(Sent(12), Bytes({0xE1, 0x01, 0x00, 0x03, 0x27, 0, 0, 0, 0x00, 0x08, 0x00, 0x03}));
  EXPECT_TRUE(PeerHearsNothing(peer));

  // Code above 255 and a length above 255 land in the right bytes.
  EXPECT_EQ(SendHeader(Request{0x1234, 0x0910}, 0x010000), 0);
  EXPECT_EQ(Sent(12), Bytes({0xE1, 0x01, 0x12, 0x34, 0x04, 0, 0x01, 0, 0, 0x09, 0, 0x10}));
}

TEST_F(FrameTest, FrameDeliveredOneByteAtATime) {
  const auto frame = ResponseFrame(3, 6, 7, "name\timage\t");
  PeerScript script([&] {
    for (std::uint8_t byte : frame) {
      peer.Write(&byte, 1);
      PauseMs(2);
    }
  });
  EXPECT_EQ(ReceiveResponse(kWholeFrame), static_cast<int>(frame.size()));
  EXPECT_EQ(Packet(frame.size()), frame);
  EXPECT_STREQ(ResponsePayload(), "name\timage\t");
  EXPECT_TRUE(ResponseIs(kFileList));
}

TEST_F(FrameTest, NoiseBeforeTheMarkerIsDropped) {
  auto bytes = Bytes({0x00, 0xE1, 0x00, 0xE1});
  const auto frame = ResponseFrame(2, 6, 1, "12");
  bytes.insert(bytes.end(), frame.begin() + 1,
               frame.end());  // 0xE1 of the frame is the noise's last
  PeerScript script([&] { peer.Write(bytes); });
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 14);
  EXPECT_EQ(Packet(14), frame);
  EXPECT_STREQ(ResponsePayload(), "12");
}

TEST_F(FrameTest, MarkerSplitAcrossReads) {
  const auto frame = ResponseFrame(0, 1, 1, "OK");
  PeerScript script([&] {
    // Noise without a marker pair that ends in the marker's first byte.
    peer.Write(Bytes({0x02, 0x41, 0xE1}));
    PauseMs(200);
    peer.Write(frame.data() + 1, frame.size() - 1);
  });
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 14);
  EXPECT_EQ(Packet(14), frame);
}

TEST_F(FrameTest, EmptyPayloadAndShortLengths) {
  PeerScript script([&] {
    peer.Write(ResponseFrame(2, 6, 1, ""));
    // length 3: not even room for the fields after it.
    peer.Write(Bytes({0xE1, 0x02, 0, 2, 0x03, 0, 0, 0, 0, 6, 0, 1}));
  });
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 12);
  EXPECT_EQ(g_packet[12], 0);
  EXPECT_STREQ(ResponsePayload(), "");
  EXPECT_EQ(ReceiveResponse(kWholeFrame), -1);
}

TEST_F(FrameTest, LengthFiveThousandIsCappedAndItsRestStaysInThePort) {
  std::string payload(4996, 'x');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  const auto frame = ResponseFrame(3, 5, 2, payload);  // length 5000
  const auto next = ResponseFrame(3, 5, 2, "next");
  PeerScript script([&] {
    peer.Write(frame);
    peer.Write(next);
    peer.Write(frame);
    peer.Write(next);
  });

  EXPECT_EQ(ReceiveResponse(kWholeFrame), 5008);
  EXPECT_EQ(Packet(kMaxFrame), std::vector<std::uint8_t>(frame.begin(), frame.begin() + kMaxFrame));
  EXPECT_EQ(g_packet[kMaxFrame], 0);
  std::vector<std::uint8_t> rest(912);
  ASSERT_TRUE(ReadPortExact(rest.data(), 912));
  EXPECT_EQ(rest, std::vector<std::uint8_t>(frame.begin() + kMaxFrame, frame.end()));
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 16);  // the rest was exactly 912 bytes
  EXPECT_STREQ(ResponsePayload(), "next");

  // A caller that leaves the rest behind: the next receive skips it.
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 5008);
  EXPECT_EQ(ReceiveResponse(kWholeFrame), 16);
  EXPECT_STREQ(ResponsePayload(), "next");
}

TEST_F(FrameTest, HeaderOnlyModeLeavesThePayloadInThePort) {
  const auto frame = ResponseFrame(3, 6, 2, "a.jpg\timage\tDATA");
  PeerScript script([&] {
    peer.Write(frame);
    peer.Write(Bytes({0xE1, 0x02, 0, 3, 0x02, 0, 0, 0, 0, 6, 0, 2}));  // length 2
  });
  g_packet[12] = 'Q';
  EXPECT_EQ(ReceiveResponse(kHeaderOnlyMode), static_cast<int>(frame.size()));
  EXPECT_EQ(g_packet[12], 0xFF);
  EXPECT_EQ(g_packet[13], 0);
  std::vector<std::uint8_t> payload(frame.size() - 12);
  ASSERT_TRUE(ReadPortExact(payload.data(), static_cast<DWORD>(payload.size())));
  EXPECT_EQ(std::string(payload.begin(), payload.end()), "a.jpg\timage\tDATA");

  EXPECT_EQ(ReceiveResponse(kHeaderOnlyMode), 10);  // no check of the length here
  EXPECT_EQ(g_packet[12], 0xFF);
  EXPECT_EQ(g_packet[13], 0);
}

TEST_F(FrameTest, SilentHandsetGivesUpWithinTheLimit) {
  g_silenceLimitMs = 1500;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveResponse(kWholeFrame), -1);
  long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 1400);
  EXPECT_LT(elapsed, 1500 + 2500);
  EXPECT_EQ(g_packet[12], 0xFF);

  // Falling silent in the middle of a payload.
  const auto frame = ResponseFrame(3, 4, 2, "0123456789");
  PeerScript script([&] { peer.Write(frame.data(), frame.size() - 4); });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveResponse(kWholeFrame), -1);
  EXPECT_LT(ElapsedMs(start), 1500 + 2500);
}

TEST_F(FrameTest, ABabblingLineEndsTheReceiveAtItsDeadline) {
  g_receiveDeadlineMs = 2500;
  // Bytes every 50 ms, so the silence limit never runs out: noise that never
  // pairs into a marker, then a header whose payload only trickles.
  for (const bool trickle : {false, true}) {
    std::atomic<bool> stop{false};
    PeerScript script([&] {
      if (trickle) {
        const auto frame = ResponseFrame(3, 4, 2, std::string(1000, 'x'));
        peer.Write(frame.data(), kHeaderBytes);
      }
      const std::uint8_t noise[2] = {0xE1, 0x00};
      for (int i = 0; !stop && i < 400; ++i) {
        peer.Write(trickle ? noise : noise + (i % 2), 1);
        PauseMs(50);
      }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveResponse(kWholeFrame), -1) << trickle;
    const long elapsed = ElapsedMs(start);
    stop = true;
    script.Join();
    EXPECT_GE(elapsed, 2400) << trickle;
    EXPECT_LT(elapsed, 2500 + 2500) << trickle;  // one more read of up to a second
    PurgeComm(g_port, PURGE_RXCLEAR);
  }
}

}  // namespace
