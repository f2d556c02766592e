// The whole receive path: a scripted Gateway writes the input into a real
// loopback connection, and CSendReceiveBase reads it as the client's
// receiver loop does, until the connection is gone.
//
// The first input byte picks the protocol level (bit 0 set: level 2, no
// start marker; else level 4); the rest is the byte stream. The writer
// closes its end after the last byte, so no read waits out the time-out.
//
// Invariants: a delivered message has a command, a header block under the
// limit and a body within the wire limit; no more messages come than the
// stream can hold; the connection is reported gone at the end; nothing
// blocks.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_support.h"
#include "gateway/send_receive_base.h"
#include "gateway/wire_format.h"
#include "infra/device_info.h"
#include "support/loopback_peer.h"

namespace {

using quorvel::CSendReceiveBase;
using quorvel::ServerMessage;
using quorvel::test_support::LoopbackListener;
using quorvel::test_support::LoopbackPeer;

// Every message takes at least its two length fields.
constexpr std::size_t kSmallestMessage = 2 * quorvel::wire::kLengthSize;

LoopbackListener& Listener() {
  static LoopbackListener* listener = new LoopbackListener();  // lives for the process
  return *listener;
}

// Polls a pending loopback connection without the transport's 100 ms sleep.
bool ShortPause(std::uint32_t) {
  std::this_thread::sleep_for(std::chrono::microseconds(50));
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzzing::InputReader input(data, size);
  const bool level2 = (input.Byte() & 1) != 0;
  const std::string stream = input.Rest();

  CSendReceiveBase reader;
  reader.SetProtocolLevel(level2 ? 2 : 4);
  const quorvel::DEVICE_INFO device = quorvel::test_support::Loopback(Listener().Port(), 5000);
  FUZZ_CHECK(device.port != 0);
  FUZZ_CHECK(reader.Transport().Connect(device, ShortPause));
  LoopbackPeer peer = Listener().Accept(5000);
  FUZZ_CHECK(peer.IsOpen());

  // The writer may block on a full socket while the reader is busy; it ends
  // when everything is written or the reader has closed its end.
  std::thread writer([&peer, &stream] {
    peer.Write(std::vector<char>(stream.begin(), stream.end()));
    peer.Close();
  });

  const std::size_t mostMessages = stream.size() / kSmallestMessage;
  std::size_t delivered = 0;
  for (;;) {
    if (level2) {
      if (!reader.IsConnected()) break;
    } else if (!reader.WaitForMessageStart()) {
      break;
    }
    ServerMessage message;
    if (!reader.ReceiveMessage(message)) continue;
    ++delivered;
    FUZZ_CHECK(delivered <= mostMessages);
    FUZZ_CHECK(!message.GetCommand().empty());
    FUZZ_CHECK(message.GetHeaderText().size() < quorvel::wire::kHeaderLimit);
    FUZZ_CHECK(message.GetBodyText().size() <= quorvel::wire::kMaxBlockLength);
    FUZZ_CHECK(message.IsCommand(message.GetCommand()));
  }
  // The loop ends only once the reader has seen the connection end.
  writer.join();
  FUZZ_CHECK(!reader.IsConnected());
  reader.Disconnect();
  return 0;
}
