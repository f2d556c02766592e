// Strevon IP capture driver: the public interface a host compiles against.
//
// The host loads libstrevon.so, resolves the exported entry points by plain
// name and talks to the objects they return only through the abstract
// interfaces below, slot by slot. Slot 0 of every interface is its virtual
// destructor; a derived interface appends its slots after those of its base.
// Interfaces are frozen: slots are never reordered, inserted or removed, and
// reserved slots keep their place as placeholders.
//
// Text crosses the boundary as NUL-terminated UTF-8 strings. Failures are
// returned (bool, null, small codes); nothing is thrown across the boundary.
#ifndef STREVON_H
#define STREVON_H

#include <cstdint>
#include <string>


// ---------------------------------------------------------------------------
// One log record as the host's debug sink receives it. It lives only for
// the duration of the sink call: the host copies what it keeps.
class CDebugInfoIf {
 public:
  virtual ~CDebugInfoIf() = default;                                      // 0
  virtual unsigned char GetLevel() const = 0;                             // 1: 1 error .. 4 debug
  virtual const char* GetText() const = 0;                                // 2
};

// The host's receiver of log records (first argument of Open). Called from
// any driver thread; must be thread-safe.
class IDebugInfoSink {
 public:
  virtual ~IDebugInfoSink() = default;                                    // 0
  virtual void OnDebugInfo(CDebugInfoIf* record) = 0;                     // 1
};

namespace quorvel {

// The Gateway endpoint of one device. Copied by value into every part that
// connects (the Gateway client, its transport, the capability query).
struct DEVICE_INFO {
  DEVICE_INFO() = default;
  DEVICE_INFO(const DEVICE_INFO&) = default;
  DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
  virtual ~DEVICE_INFO() = default;

  std::uint32_t connectTimeout = 5000;  // ms; connect polls and reply waits
  std::uint32_t secondTimeout = 5000;   // ms; carried along, not read
  std::string address;                  // host name or dotted IPv4 address
  std::uint16_t port = 0;
  std::string userName;
  std::string password;
  std::string model;                    // device model name, only logged
};

// Which PTZ functions a camera has and how many presets it offers. Its text
// form (the capability string) travels inside a camera's custom parameter.
struct CPtzCapabilities {
  CPtzCapabilities() = default;
  CPtzCapabilities(const CPtzCapabilities&) = default;
  CPtzCapabilities& operator=(const CPtzCapabilities&) = default;
  virtual ~CPtzCapabilities() = default;

  // Implemented inside the library (not exported): the capability string,
  // "Pan=1, Tilt=1, Zoom=1, Focus=0, Iris=0, Center=0, Unzoom=0,
  // AreaZoom=0, Preset=16", and its reader.
  std::string ToString() const;
  void FromString(const std::string& text);

  bool pan = false;
  bool tilt = false;
  bool zoom = false;
  bool focus = false;
  bool iris = false;
  bool areaZoom = false;
  bool center = false;
  bool unzoom = false;
  std::uint32_t presetCount = 0;
};

// One camera of the driver's camera list. Host channel i is served by the
// record at position i of the list; `id` is the camera's position in the
// user's Gateway profile.
struct CameraRecord {
  std::uint32_t id = 0;
  std::string pid;   // the Gateway's identifier of the camera
  bool ptz = false;
  CPtzCapabilities ptzCapabilities;
};

// One digital input or output: its position in the profile and its pid.
struct IORecord {
  std::uint32_t id = 0;
  std::string pid;
};


// ---------------------------------------------------------------------------
// Interfaces the driver implements. All slots are called by position.

// The host's PTZ capability record: fourteen 32-bit words. Word 0 belongs to
// the host and is never written by the driver.
struct PtzCapabilityRecord {
  std::uint32_t hostWord;    // 0: left as the host set it
  std::uint32_t pan;         // 1
  std::uint32_t tilt;        // 2
  std::uint32_t zoom;        // 3
  std::uint32_t focus;       // 4
  std::uint32_t iris;        // 5
  std::uint32_t reserved6;   // 6
  std::uint32_t maxPresets;  // 7
  std::uint32_t presetCount; // 8
  std::uint32_t reserved9;   // 9
  std::uint32_t reserved10;  // 10
  std::uint32_t areaZoom;    // 11
  std::uint32_t center;      // 12
  std::uint32_t unzoom;      // 13
};
static_assert(sizeof(PtzCapabilityRecord) == 14 * sizeof(std::uint32_t),
              "the PTZ capability record is fourteen 32-bit words");

class ICaptureIOCallback;

// Digital inputs and outputs of one device.
class ICaptureIOApi {
 public:
  virtual ~ICaptureIOApi() = default;                                     // 0
  virtual bool SetIOCallback(ICaptureIOCallback* callback) = 0;           // 1
  virtual bool StartIO() = 0;                                             // 2
  virtual bool StopIO() = 0;                                              // 3
  virtual std::uint32_t GetInputCount() = 0;                              // 4
  virtual std::uint32_t GetOutputCount() = 0;                             // 5
  virtual void SetOutput(std::uint32_t outputIndex, int state) = 0;       // 6
};

// PTZ result codes.
enum PtzResult : int {
  kPtzOk = 1,
  kPtzInvalidArgument = -3,
  kPtzNotPossible = -18,
  kPtzNotSupported = -19,
  kPtzNoSuchPreset = -23,
  kPtzPresetListFull = -26,
};

// One channel's PTZ control.
class IIPPTZApi {
 public:
  virtual ~IIPPTZApi() = default;                                                    // 0
  virtual int Initialize() = 0;                                                      // 1
  virtual int Move(std::uint32_t direction, std::uint32_t speed) = 0;                // 2
  virtual int StopMotion() = 0;                                                      // 3
  virtual int CenterAt(std::uint32_t x, std::uint32_t y, std::uint32_t value) = 0;   // 4
  virtual int ZoomIn(std::uint32_t speed) = 0;                                       // 5
  virtual int ZoomOut(std::uint32_t speed) = 0;                                      // 6
  virtual int UnzoomView(std::uint32_t value) = 0;                                   // 7
  virtual int ZoomToArea(std::uint32_t x, std::uint32_t y, std::uint32_t z,
                         std::uint32_t value) = 0;                                   // 8
  virtual int FocusNear(std::uint32_t speed) = 0;                                    // 9
  virtual int FocusFar(std::uint32_t speed) = 0;                                     // 10
  virtual int IrisOpen(std::uint32_t speed) = 0;                                     // 11
  virtual int IrisClose(std::uint32_t speed) = 0;                                    // 12
  virtual int GetCapabilities(PtzCapabilityRecord* record) = 0;                      // 13
  virtual int RefreshPresets() = 0;                                                  // 14
  virtual int GetPresetName(std::uint32_t position, char* buffer,
                            std::uint32_t bufferSize) = 0;                           // 15
  virtual int GoToPreset(std::uint32_t speed, const char* name) = 0;                 // 16
  virtual int AddPreset(const char* name) = 0;                                       // 17
  virtual int RemovePreset(const char* name) = 0;                                    // 18
  virtual int GetCurrentPresetName(char* buffer, std::uint32_t bufferSize) = 0;      // 19
};

class IIPPTZApiEx : public IIPPTZApi {
 public:
  virtual int QueryFeature(std::uint32_t value) = 0;                                 // 20
};

// The PTZ driver object: hands out one control per channel.
class IIPPTZDriver {
 public:
  virtual ~IIPPTZDriver() = default;                                      // 0
  virtual IIPPTZApi* GetPTZApi(std::uint32_t channel) = 0;                // 1
};

class IIPPTZDriverEx : public IIPPTZDriver {
 public:
  virtual IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) = 0;            // 2
};

}  // namespace quorvel

// Second interface of a PTZ control: two flags the host keeps there.
class IIPParams {
 public:
  virtual ~IIPParams() = default;                                         // 0
  virtual std::uint32_t GetChannel() = 0;                                 // 1
  virtual unsigned char GetParamFlag1() = 0;                              // 2
  virtual unsigned char SetParamFlag1(unsigned char value) = 0;           // 3
  virtual unsigned char GetParamFlag2() = 0;                              // 4
  virtual unsigned char SetParamFlag2(unsigned char value) = 0;           // 5
};

namespace quorvel {
namespace ipcapture {

class IFrameHandler;
class IChannelSetup;
class IChannelSize;
class IFrameAllocator;
class IDeviceSetup;
class ICapabilityResultSink;

// The video channels of one open driver.
class IIPVideoCapture {
 public:
  virtual ~IIPVideoCapture() = default;                                               // 0
  virtual std::uint32_t GetChannelCount() = 0;                                        // 1
  virtual bool StartChannel(std::uint32_t channel, IFrameHandler* handler,
                            IChannelSetup* setup) = 0;                                // 2
  virtual bool StopChannel(std::uint32_t channel) = 0;                                // 3
  virtual bool ChangeChannelParameters(std::uint32_t channel, IChannelSize* size,
                                       std::uint32_t value) = 0;                      // 4
  virtual std::uint32_t Reserved5() = 0;                                              // 5
  virtual bool GetChannelStatus(std::uint32_t channel, int* status, int* detail,
                                char* text, std::uint32_t textSize) = 0;              // 6
  virtual bool Reserved7(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;      // 7
  virtual bool Reserved8(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;      // 8
};

class IIPVideoCaptureEx : public IIPVideoCapture {
 public:
  virtual bool QueryChannelFeatureA(std::uint32_t channel) = 0;                      // 9
  virtual bool QueryChannelFeatureB(std::uint32_t channel) = 0;                      // 10
};

// The capture driver: one Gateway as one device. The four versions form one
// single-inheritance chain, so one pointer serves all of them.
class IIPCaptureDriver {
 public:
  virtual ~IIPCaptureDriver() = default;                                  // 0
  virtual bool Open(IDebugInfoSink* sink, IFrameAllocator* allocator,
                    IDeviceSetup* setup) = 0;                             // 1
  virtual void Close() = 0;                                               // 2
  virtual IIPVideoCapture* GetVideoCapture() = 0;                         // 3
  virtual ICaptureIOApi* GetCaptureIO() = 0;                              // 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* ReservedAccessor5() = 0;                                  // 5
  virtual IIPPTZDriver* GetPTZDriver() = 0;                               // 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* ReservedAccessor7() = 0;                                  // 7
  virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;                     // 8
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;                           // 9
};

// The automatic-search capability query.
class IIPCapabilityQuery {
 public:
  virtual ~IIPCapabilityQuery() = default;                                // 0
  virtual std::uint32_t Start(const char* address, std::uint16_t port, const char* userName,
                              const char* password, ICapabilityResultSink* sink) = 0;  // 1
  virtual void Terminate() = 0;                                           // 2
};

// ---------------------------------------------------------------------------
// Interfaces the host implements. The driver calls only the slots named;
// the placeholders keep the others in place.

class IChannelSize {
 public:
  virtual ~IChannelSize() = default;                                      // 0
  virtual std::uint16_t GetWidth() = 0;                                   // 1
  virtual std::uint16_t GetHeight() = 0;                                  // 2
};

class IChannelVideoSettings {
 public:
  virtual ~IChannelVideoSettings() = default;                             // 0
  virtual void Reserved1() {}                                             // 1
  virtual void Reserved2() {}                                             // 2
  virtual IChannelSize* GetSize() = 0;                                    // 3
};

class IChannelStreamSettings {
 public:
  virtual ~IChannelStreamSettings() = default;                            // 0
  virtual std::uint16_t GetFirstStreamValue() = 0;                        // 1
  virtual void Reserved2() {}                                             // 2
  virtual std::uint16_t GetSecondStreamValue() = 0;                       // 3
  virtual std::uint32_t GetSecondaryFlag() = 0;                           // 4: non-zero asks for a secondary channel
};

class IChannelSetup {
 public:
  virtual ~IChannelSetup() = default;                                     // 0
  virtual IChannelVideoSettings* GetVideoSettings() = 0;                  // 1
  virtual IChannelStreamSettings* GetStreamSettings() = 0;                // 2
};

class ICaptureFrame {
 public:
  virtual ~ICaptureFrame() = default;                                     // 0
  virtual void Reserved1() {}                                             // 1
  virtual unsigned char* GetBuffer() = 0;                                 // 2: at least the allocated size
  virtual void Reserved3() {}                                             // 3
  virtual void SetDataSize(std::uint32_t bytes) = 0;                      // 4
  virtual void FinishFrame() = 0;                                         // 5
  virtual void Reserved6() {}                                             // 6
  virtual void Reserved7() {}                                             // 7
  virtual void Reserved8() {}                                             // 8
  virtual void Reserved9() {}                                             // 9
  virtual void SetFourcc(std::uint32_t fourcc) = 0;                       // 10
  virtual void Reserved11() {}                                            // 11
  virtual void SetHeight(std::uint32_t height) = 0;                       // 12
  virtual void Reserved13() {}                                            // 13
  virtual void SetWidth(std::uint32_t width) = 0;                         // 14
  virtual void Reserved15() {}                                            // 15
  virtual void SetSizeClass(std::uint32_t sizeClass) = 0;                 // 16: 1 to 4
};

class IFrameAllocator {
 public:
  virtual ~IFrameAllocator() = default;                                   // 0
  virtual void Reserved1() {}                                             // 1
  virtual ICaptureFrame* AllocateFrame(std::uint32_t fourcc, std::uint32_t dataSize,
                                       const char* driverName) = 0;       // 2
  virtual void Reserved3() {}                                             // 3
  virtual void Reserved4() {}                                             // 4
  virtual void Reserved5() {}                                             // 5
  virtual void ReleaseFrame(ICaptureFrame* frame) = 0;                    // 6: once per allocated frame
};

class IFrameHandler {
 public:
  virtual ~IFrameHandler() = default;                                     // 0
  virtual bool CaptureFrameCallback(ICaptureFrame* frame) = 0;            // 1: false = not taken
  virtual void Reserved2() {}                                             // 2
  virtual void OnSignalLost() = 0;                                        // 3
};

class IDeviceParams {
 public:
  virtual ~IDeviceParams() = default;                                     // 0
  virtual void Reserved1() {}                                             // 1
  virtual const char* GetModel() = 0;                                     // 2
  virtual std::uint32_t GetChannelCount() = 0;                            // 3
  virtual void Reserved4() {}                                             // 4
  virtual std::uint32_t GetInputCount() = 0;                              // 5
  virtual std::uint32_t GetOutputCount() = 0;                             // 6
};

class IConnectionParams {
 public:
  virtual ~IConnectionParams() = default;                                 // 0
  virtual const char* GetAddress() = 0;                                   // 1
  virtual std::uint16_t GetPort() = 0;                                    // 2
  virtual void Reserved3() {}                                             // 3
  // 1 asks the Gateway for JPEG frames; any other value for the camera's
  // native encoding.
  virtual std::uint32_t GetConnectionValue() = 0;                         // 4
  virtual const char* GetUserName() = 0;                                  // 5
  virtual const char* GetPassword() = 0;                                  // 6
};

class IDeviceSetup {
 public:
  virtual ~IDeviceSetup() = default;                                      // 0
  virtual IDeviceParams* GetDeviceParams() = 0;                           // 1
  virtual IConnectionParams* GetConnectionParams() = 0;                   // 2
  virtual void Reserved3() {}                                             // 3
  // Custom parameter by index counted from 1; null after the last one.
  virtual const char* GetCustomParameter(int index) = 0;                  // 4
};

class ICapabilityQueryNotify {
 public:
  virtual ~ICapabilityQueryNotify() = default;                            // 0
  virtual void Reserved1() {}                                             // 1
  virtual void OnQueryCompleted() = 0;                                    // 2
  virtual void OnQueryFailed(int status, const char* message) = 0;        // 3
  virtual void OnQueryKilled() = 0;                                       // 4
};

class ICapabilityInfoItem {
 public:
  virtual ~ICapabilityInfoItem() = default;                               // 0
  virtual void SetValue(const char* value) = 0;                           // 1
};

class ICapabilityParameter {
 public:
  virtual ~ICapabilityParameter() = default;                              // 0
  virtual void SetValue(const char* value) = 0;                           // 1
  virtual void Reserved2() {}                                             // 2
  virtual void Reserved3() {}                                             // 3
  virtual void SetPerObject(std::uint32_t perObject) = 0;                 // 4
  virtual void SetName(const char* name) = 0;                             // 5
  virtual void SetOption(std::uint32_t option) = 0;                       // 6
};

class ICapabilityResolutionList {
 public:
  virtual ~ICapabilityResolutionList() = default;                         // 0
  virtual void AddResolution(const char* text, std::uint32_t width, std::uint32_t height,
                             std::uint32_t frameIntervalMs) = 0;          // 1
};

class ICapabilityFrameIntervalList {
 public:
  virtual ~ICapabilityFrameIntervalList() = default;                      // 0
  virtual void SetDefaultInterval(std::uint32_t intervalMs) = 0;          // 1
  virtual void AddInterval(std::uint32_t intervalMs) = 0;                 // 2
};

class ICapabilityResultSink {
 public:
  virtual ~ICapabilityResultSink() = default;                             // 0
  virtual void SetCapability(std::uint32_t id, std::uint32_t value) = 0;  // 1
  virtual void SetDeviceName(const char* name) = 0;                       // 2
  virtual ICapabilityInfoItem* GetInfoItem(std::uint32_t index) = 0;      // 3: 1 to 4
  virtual void Reserved4() {}                                             // 4
  virtual ICapabilityParameter* AddParameter(std::uint32_t index) = 0;    // 5
  virtual ICapabilityResolutionList* GetResolutionList() = 0;             // 6
  virtual void Reserved7() {}                                             // 7
  virtual ICapabilityFrameIntervalList* GetFrameIntervalList(std::uint32_t kind) = 0;  // 8
};

}  // namespace ipcapture

// The host's digital-input callback: state 2 on, 1 off, 0 anything else.
class ICaptureIOCallback {
 public:
  virtual ~ICaptureIOCallback() = default;                                // 0
  virtual void OnInputState(std::uint32_t inputId, std::uint32_t state) = 0;  // 1
};

}  // namespace quorvel

// ---------------------------------------------------------------------------
// Entry points, exported by plain name. A host resolves them with dlsym.
#pragma GCC visibility push(default)
extern "C" {
quorvel::ipcapture::IIPCaptureDriver* CreateIPCapture();
quorvel::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx();
quorvel::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2();
quorvel::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3();
void DeleteIPCapture(quorvel::ipcapture::IIPCaptureDriver* driver);
void DeleteIPCaptureEx(quorvel::ipcapture::IIPCaptureDriverEx* driver);
void DeleteIPCaptureEx2(quorvel::ipcapture::IIPCaptureDriverEx2* driver);
void DeleteIPCaptureEx3(quorvel::ipcapture::IIPCaptureDriverEx3* driver);
quorvel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    quorvel::ipcapture::ICapabilityQueryNotify* notify, std::uint32_t flag);
void DeleteCapabilityQueryModule(quorvel::ipcapture::IIPCapabilityQuery* module);
std::uint32_t InitCapabilityQuery(quorvel::ipcapture::ICapabilityQueryNotify* notify,
                                  std::uint32_t flag);
std::uint32_t StartCapabilityQuery(const char* address, std::uint32_t port, const char* userName,
                                   const char* password,
                                   quorvel::ipcapture::ICapabilityResultSink* sink);
std::uint32_t TerminateCapabilityQuery();
std::uint32_t UninitCapabilityQuery();
}
#pragma GCC visibility pop

#endif  // STREVON_H
