// CBasePTZComm: the generic half of one PTZ channel's command channel. It
// checks each host command against the camera's PTZ capabilities, turns it
// into a CWorkItem and posts it to the channel's own queue thread
// ("BaseIPPTZThread_Ch%u", channel + 1), where a subclass's HandleWorkItem
// speaks to the device. Posting never blocks: at most 16 commands wait, and
// when more arrive the oldest waiting one is dropped.
//
// Ownership: created and owned by the channel's control object
// (CBasePTZControl), which Opens it at once and Closes it before destroying
// it. Holds the driver's IDriver (not owned) for logging and a copy of the
// channel's camera record taken at construction.
//
// Threads: the queuing operations, Open, Close, HasPtz and GetCapabilities
// run on host threads; HandleWorkItem runs on the queue thread. A subclass
// whose HandleWorkItem uses its own members stops the thread (StopThread) in
// its own destructor. m_stateLock is the channel's one lock for state that
// the Gateway's messages replace while host threads read it (the preset
// count here; a subclass adds its own fields under the same lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/camera_record.h"
#include "core/idriver.h"
#include "infra/queue_thread.h"
#include "infra/recursive_lock.h"
#include "ptz/work_item.h"
#include "ptz/preposition_comm.h"
#include "strevon.h"

namespace quorvel {

class CBasePTZComm : private CQueueThread<CWorkItem>, public IPrepositionComm {
 public:
  // The command word of a PTZ work item.
  enum Command : std::uint32_t {
    kCommandMove = 1,
    kCommandFocus = 2,
    kCommandIris = 3,
    kCommandStop = 4,
    kCommandAreaZoom = 5,
    kCommandCenter = 6,
    kCommandUnzoom = 7,
  };
  // The action word: which focus or iris direction, which motion to stop.
  enum Action : std::uint32_t {
    kActionNone = 0,
    kActionFocusFar = 1,
    kActionFocusNear = 2,
    kActionIrisOpen = 3,
    kActionIrisClose = 4,
    kActionStopMoving = 5,
    kActionStopZooming = 6,
    kActionStopFocusing = 7,
    kActionStopIris = 8,
  };
  // Move directions 8 and 9 zoom; they travel as moves.
  static constexpr std::uint32_t kDirectionZoomIn = 8;
  static constexpr std::uint32_t kDirectionZoomOut = 9;
  static constexpr std::uint32_t kStopTimeoutMs = 5000;

  // Copies the camera record at the channel's position of the driver's
  // camera list when there is one; driver may be null (no log, no record).
  CBasePTZComm(IDriver* driver, std::uint16_t channel);
  ~CBasePTZComm() override;

  CBasePTZComm(const CBasePTZComm&) = delete;
  CBasePTZComm& operator=(const CBasePTZComm&) = delete;

  // Starts the command thread unless it runs; true when it runs. Commands
  // posted before Open wait in the queue and are handled once it runs.
  virtual bool Open();
  // Stops the command thread (5000 ms, or timeoutMs); commands still
  // waiting are not handled. False while the thread still runs: it ends
  // after the command it is in, and the object must outlive it.
  virtual bool Close(std::uint32_t timeoutMs = kStopTimeoutMs);
  // True when the camera has any of pan, tilt, zoom, focus or iris.
  virtual bool HasPtz(IIPParams* params);
  // Words 1 to 13 of record (word 0 is the host's); 1, or -3 for null.
  virtual int GetCapabilities(PtzCapabilityRecord* record);

  // Queuing operations: 1 queued, -18 not queued (thread stopped), -19 the
  // camera lacks the capability (nothing queued). params travels with the
  // command. Zoom in and out are move directions 8 and 9 and so need pan or
  // tilt.
  int StartMove(IIPParams* params, std::uint32_t direction, std::uint32_t speed);
  int StartFocus(IIPParams* params, bool nearFocus, std::uint32_t speed);
  int StartIris(IIPParams* params, bool openIris, std::uint32_t speed);
  int AreaZoom(IIPParams* params, std::uint32_t x, std::uint32_t y, std::uint32_t z,
               std::uint32_t value);
  int Center(IIPParams* params, std::uint32_t x, std::uint32_t y, std::uint32_t value);
  int Unzoom(IIPParams* params, std::uint32_t value);
  // Need no capability; false when not queued.
  bool StopMoving(IIPParams* params);
  bool StopZooming(IIPParams* params);
  bool StopFocusing(IIPParams* params);
  bool StopIrisChanging(IIPParams* params);

  // The channel's log call: formats the line and hands the finished text to
  // the driver's log; dropped when no buffer can be had.
  void DebugMessage(int level, const char* format, ...) override
      __attribute__((format(printf, 3, 4)));

  std::uint16_t GetChannel() const { return m_channel; }
  // Constant after construction.
  const CameraRecord& GetCameraRecord() const { return m_record; }
  // True from a successful Open until Close.
  bool IsStarted() const { return m_started.load(); }
  using CQueueThread<CWorkItem>::IsRunning;
  // Before Open: the command thread holds owner while it runs.
  using CQueueThread<CWorkItem>::SetKeepAlive;
  using CQueueThread<CWorkItem>::PendingCount;

 protected:
  // Stops the thread for a subclass destructor; pending items stay queued
  // and go with the queue.
  void StopThread();

  IDriver* Driver() const { return m_driver; }
  CRecursiveLock& StateLock() { return m_stateLock; }
  std::uint32_t GetPresetCount();
  void SetPresetCount(std::uint32_t count);

 private:
  // Posts item (owned from now on): 1, or -18 with the error line naming
  // function.
  int Queue(const char* function, CWorkItem* item);
  bool QueueStop(const char* function, IIPParams* params, Action action);

  IDriver* const m_driver;
  const std::uint16_t m_channel;
  CameraRecord m_record;  // constant after construction; see m_presetCount
  std::atomic<bool> m_started{false};

  CRecursiveLock m_stateLock;
  // Starts as the record's preset count.
  std::uint32_t m_presetCount GUARDED_BY(m_stateLock) = 0;
};

}  // namespace quorvel
