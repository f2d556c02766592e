// CProfileReader: reads the user's Gateway profile into camera, input and
// output lists, and the PTZ properties of its PTZ cameras.
//
// The profile named by the settings is requested with "user/profile"; its
// "Camera" and "PtzCamera" elements (state "ok" or "nosignal", any letter
// case) become camera records, its "DigitalInput" and "DigitalOutput"
// elements input and output records. Every record's id is the element's
// position among the elements of its kind, so skipped elements leave gaps.
// ReadPtzProperties then asks, camera by camera, for the PTZ properties
// ("camera/ptz/takeover", answered by "camera/ptz/properties") and fills the
// capabilities. The lists are only appended to: a reader is meant for one
// read.
//
// Owned by its user (the driver's connect sequence, briefly; the device
// properties reader for one fetch) beside a Gateway client that outlives
// it; registered with the client from construction to destruction. The
// requests run on the owner's thread and block for up to the client's
// connection time-out per reply; ProcessServerMessage runs on the client's
// receiver thread, and a reply that comes after its wait timed out still
// updates the lists. The lists and the profile name therefore sit behind
// m_dataMutex; the accessors return copies and may be called from any
// thread.
#pragma once

#include <string>
#include <vector>

#include "core/camera_record.h"
#include "gateway/gw_client.h"
#include "infra/event.h"
#include "infra/plain_lock.h"

namespace quorvel {

class CXMLParser;

class CProfileReader : public IMessageReceiver {
 public:
  explicit CProfileReader(CGWClient* client);
  virtual ~CProfileReader();

  CProfileReader(const CProfileReader&) = delete;
  CProfileReader& operator=(const CProfileReader&) = delete;

  // Requests and parses the profile. True when a reply came, whatever it
  // held; false without a profile name in the settings (nothing is sent),
  // when the client refused the request, on time-out, and when abort
  // (manual-reset; normally the owner's stop event) was signalled.
  bool ReadProfile(CEvent* abort = nullptr);
  // Asks for the PTZ properties of every PTZ camera in the list, one after
  // another; a camera that does not answer keeps cleared capabilities. An
  // abort ends the round at once.
  void ReadPtzProperties(CEvent* abort = nullptr);

  void ProcessServerMessage(ServerMessage& message) override;

  std::string GetProfileName() const;
  std::vector<CameraRecord> GetCameras() const;
  std::vector<IORecord> GetInputs() const;
  std::vector<IORecord> GetOutputs() const;

 private:
  void ParseProfile(ServerMessage& message);
  // Each appends what it finds below the profile element sel to out.
  static void ReadCameras(const CXMLParser& parser, const std::string& sel,
                          std::vector<CameraRecord>& out);
  static void ReadIORecords(const CXMLParser& parser, const std::string& path,
                            std::vector<IORecord>& out);
  void ParsePtzCapabilities(ServerMessage& message);

  // Constant after construction.
  CGWClient* const m_client;

  // Auto reset: one reply releases one wait.
  CEvent m_replyEvent;

  mutable CPlainLock m_dataLock;
  std::string m_profileName GUARDED_BY(m_dataLock);
  std::vector<CameraRecord> m_cameras GUARDED_BY(m_dataLock);
  std::vector<IORecord> m_inputs GUARDED_BY(m_dataLock);
  std::vector<IORecord> m_outputs GUARDED_BY(m_dataLock);
};

}  // namespace quorvel
