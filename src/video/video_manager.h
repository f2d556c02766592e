// CVideoManager: the live-video subscriptions of one driver. A running video
// channel registers its stream here (AddChannel) and deregisters it
// (RemoveChannel); the manager queues "video/realtime/subscribe" and
// "video/realtime/unsubscribe" on the Gateway client, receives the
// "video/stream" messages, and routes each by its "Cid" to the channel: "OK"
// sets the channel online and hands it the frame, "NoSignal" sets signal
// lost, "Connecting" changes nothing, anything else sets offline. While at
// least one channel is registered the "GC_VideoManagerThread" asks every
// channel for its refresh status every 4000 ms and re-subscribes (stop, then
// start) each channel that answers 3.
//
// Ownership: one per capture driver, built with it and bound to its Gateway
// client (registered as a receiver from construction to destruction); owns
// neither the client, nor the IDriver used for logging, nor the channels.
//
// Threads: host threads (through the channels' Start, Stop and
// ChangeChannelParameters) call AddChannel and RemoveChannel; the client's
// receiver thread calls ProcessServerMessage; the manager's own thread runs
// the restart pass. m_lock guards the map; the pass calls GetRefreshStatus
// and queues its requests while holding it (nothing there waits for the
// network). Deliveries into a channel (SetChannelStatus, OnFrame) are made
// after m_lock is left, under an in-flight mark: once RemoveChannel has
// returned no delivery into that channel will start, and once
// WaitForDeliveries (called without the caller's own locks) has returned
// none runs on another thread either, so its owner may destroy it. Called
// from inside a delivery into the same channel (a host stopping the channel
// from its frame callback) it does not wait for that delivery, which would
// never end. RemoveChannel itself never waits for a delivery, so a channel
// may call it under a lock that a host callback also takes.
// m_threadLock keeps the map's "first channel"/"last channel" decisions and
// the thread's Start/Stop in step when several host threads add and remove.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/camera_channel.h"
#include "core/idriver.h"
#include "gateway/gw_client.h"
#include "gateway/message_receiver.h"
#include "gateway/server_message.h"
#include "infra/base_thread.h"
#include "infra/call_tracker.h"
#include "infra/recursive_lock.h"
#include "video/channel_stream_record.h"

namespace quorvel {

class CVideoManager : public IMessageReceiver, public CBaseThread {
 public:
  static constexpr const char* kThreadName = "GC_VideoManagerThread";
  static constexpr std::uint32_t kThreadStopTimeoutMs = 5000;
  // Channel status values (owned by the channels).
  static constexpr int kStatusOnline = 0;
  static constexpr int kStatusSignalLost = 2;
  static constexpr int kStatusOffline = 3;

  // Registers with the client for the stream commands.
  explicit CVideoManager(CGWClient* client);
  // Deregisters from the client, then stops the thread.
  ~CVideoManager() override;

  CVideoManager(const CVideoManager&) = delete;
  CVideoManager& operator=(const CVideoManager&) = delete;

  // The log (the driver); set right after construction, before any channel
  // registers. Null logs nothing.
  void SetDriver(IDriver* driver) { m_driver = driver; }
  // How long the removal of the last channel waits for the thread to end
  // (kThreadStopTimeoutMs unless set); a thread still running then is kept
  // and ends by itself. Lets the driver's Close keep to one time-out.
  void SetThreadStopTimeout(std::uint32_t timeoutMs) { m_stopTimeoutMs.store(timeoutMs); }

  // Registers (or replaces) the record and queues its subscription. The
  // first channel starts the thread; false when that start fails, which
  // includes re-adding the only registered channel (the subscription has
  // been queued all the same).
  bool AddChannel(const ChannelStreamRecord& record);
  // Queues the unsubscription of the registered record with this channel
  // number and drops it; the last one stops the thread.
  void RemoveChannel(const ChannelStreamRecord& record);
  // Until no delivery into channel runs on another thread (see above).
  void WaitForDeliveries(const ICameraChannel* channel) { m_calls.WaitIdle(channel); }

  // IMessageReceiver: takes "video/stream" messages, drops the rest.
  void ProcessServerMessage(ServerMessage& message) override;
  void ProcessVideoStreamResponse(ServerMessage& message);

  // Log lines written while m_lock is held wait in Lines and go out once it
  // is left, so that a debug sink held up in the host's code never holds
  // up the map (and with it StopChannel, Close and every delivery).
  using Lines = std::vector<std::string>;

  // Build and queue one request each; false when it was not queued. Their
  // log lines go into lines when given, else out at once.
  bool Send_StartChannel(const ChannelStreamRecord& record, Lines* lines = nullptr);
  bool Send_StopChannel(const ChannelStreamRecord& record, Lines* lines = nullptr);

  std::size_t GetChannelCount();

  // Queues the subscription of every registered channel that has a camera
  // (a new connection carries none). Called by the driver's worker thread
  // once a reconnection is complete, when the "Resilient" setting is on.
  void ResubscribeAll();

 protected:
  // The restart pass.
  void ThreadFunction() override;

 private:
  // Looks the channel up under m_lock and, when it is registered, marks a
  // call into it as running on this thread; null when it is not.
  ICameraChannel* BeginCall(std::uint32_t channelNumber);
  void SetStatus(std::uint32_t channelNumber, int status);
  void DeliverFrame(std::uint32_t channelNumber, ServerMessage& message);
  ClientMessage* BuildRequest(const char* command, const ChannelStreamRecord& record,
                              bool subscribe);
  bool Queue(const char* method, const char* command, std::uint32_t channel,
             ClientMessage* message, Lines* lines);
  // Into lines when given, else out at once; nothing is formatted when no
  // one would read it.
  void Note(Lines* lines, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Flush(const Lines& lines);

  // Constant after construction.
  CGWClient* const m_client;
  // Set once before use.
  IDriver* m_driver = nullptr;
  std::atomic<std::uint32_t> m_stopTimeoutMs{kThreadStopTimeoutMs};

  // Taken before m_lock when both are held.
  CRecursiveLock m_threadLock;
  CRecursiveLock m_lock;
  std::map<std::uint32_t, ChannelStreamRecord> m_channels GUARDED_BY(m_lock);

  // Deliveries into channels; its lock is taken after m_lock when both are
  // held.
  CCallTracker m_calls;
};

}  // namespace quorvel
