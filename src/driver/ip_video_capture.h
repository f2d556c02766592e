// CIPVideoCapture: the host's handle on the video channels of one open
// driver. One slot per channel of the device: StartChannel creates the
// channel through the driver's ICustomCreator and starts it with the
// parameter block taken from the host's channel setup; StopChannel stops and
// destroys it; parameter changes, status and feature queries are forwarded.
// The streaming itself is the channel's and the video manager's work.
//
// Ownership: created by the driver at Open, destroyed at Close (which stops
// every channel first). Owns the channels in its table (and the secondary
// objects, which this driver never creates); not the creator.
//
// Threads: host threads call every slot, concurrently. m_lock guards only
// the table; every call into a channel is made after it is left. A channel
// is held by shared ownership while a call into it runs, so a status query
// racing a StopChannel on another thread never reaches a destroyed channel.
// StartChannel, StopChannel and ChangeChannelParameters on one index are
// serialised by that index's lock, so a parameter change cannot register
// again a channel that a stop has just deregistered. The index lock is never
// held while waiting for a delivery into a channel: a host callback in that
// delivery may stop the same index (it finds the slot already empty).
// StopChannel may be called from inside the host's own frame callback (on
// the Gateway receiver thread): the channel then outlives the stop only as
// long as that delivery needs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/camera_channel.h"
#include "core/custom_creator.h"
#include "infra/recursive_lock.h"
#include "strevon.h"

namespace quorvel {

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
 public:
  CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount);
  // Stops and destroys every running channel.
  virtual ~CIPVideoCapture();
  STREVON_IMPLEMENT_SLOT0

  CIPVideoCapture(const CIPVideoCapture&) = delete;
  CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

  std::uint32_t GetChannelCount() override;
  // Stops whatever runs at the index first. A channel whose start failed is
  // kept, so that StopChannel cleans it up.
  bool StartChannel(std::uint32_t channel, ipcapture::IFrameHandler* handler,
                    ipcapture::IChannelSetup* setup) override;
  // True when a channel was running there. Returns only after any delivery
  // into the channel on another thread has ended; no frame or signal-loss
  // call for it comes afterwards.
  bool StopChannel(std::uint32_t channel) override;
  bool ChangeChannelParameters(std::uint32_t channel, ipcapture::IChannelSize* size,
                               std::uint32_t value) override;
  std::uint32_t Reserved5() override { return 0; }
  // Detail is always 0 and the text empty; status 3 (offline) is reported
  // as 2.
  bool GetChannelStatus(std::uint32_t channel, int* status, int* detail, char* text,
                        std::uint32_t textSize) override;
  bool Reserved7(std::uint32_t, std::uint32_t, std::uint32_t) override { return false; }
  bool Reserved8(std::uint32_t, std::uint32_t, std::uint32_t) override { return false; }
  bool QueryChannelFeatureA(std::uint32_t channel) override;
  bool QueryChannelFeatureB(std::uint32_t channel) override;

 private:
  struct Entry {
    std::shared_ptr<ICameraChannel> channel;
    std::unique_ptr<ISecondaryChannel> secondary;
  };

  // Takes the entry out of the table, leaving it empty (an empty entry for
  // an index beyond the table).
  Entry TakeEntry(std::uint32_t channel);
  std::shared_ptr<ICameraChannel> FindChannel(std::uint32_t channel);
  // Stops what the entry holds: afterwards no delivery into it starts.
  static void StopEntry(Entry& entry);
  // Waits for deliveries still running into the stopped entry, then
  // destroys what it holds; true when it held anything. Without the index
  // lock.
  static bool ReleaseEntry(Entry& entry);

  // Constant after construction.
  ICustomCreator* const m_creator;
  // One per index, as many as the table has entries: taken around every
  // start, stop and parameter change of that index, before m_lock.
  const std::unique_ptr<CRecursiveLock[]> m_indexLocks;

  CRecursiveLock m_lock;
  // Its size is fixed at construction.
  std::vector<Entry> m_table GUARDED_BY(m_lock);
};

}  // namespace quorvel
