// Strevon IP capture driver: the contract between a recording host and the
// driver plug-in. This header is all a host compiles against.
//
// The host loads the library (libstrevon.so), resolves the exported entry
// points by plain name and talks to the objects they return only through
// the abstract interfaces below, slot by slot. Slot 0 of every interface is
// its virtual destructor; a derived interface appends its slots after those
// of its base. Interfaces are frozen: slots are never reordered, inserted or
// removed, and reserved slots keep their place as placeholders.
//
// The sections follow the order in which a host meets the driver:
//   1. load      the entry points
//   2. open      the capture driver and the objects the host hands to Open
//   3. video     channels, frames and the host's frame handler
//   4. PTZ       domes and their presets
//   5. I/O       digital inputs and outputs
//   6. query     the automatic device search
//   7. close     what Close and the delete entry points guarantee
//
// Rules for every call:
// - Text crosses the boundary as NUL-terminated UTF-8 strings. A string the
//   host passes in is read during the call only; a string the driver hands
//   out lives for the duration of that call only.
// - Failures are returned (bool, null, the small codes given below); nothing
//   is thrown across the boundary, in either direction.
// - The driver never destroys a host object and never calls its slot 0.
// - Host calls may come from any host thread, several at a time, unless a
//   method says otherwise. None waits for the network: connecting, logging
//   on, subscribing, PTZ commands and output switches happen on the
//   driver's own threads. The calls that may wait say so and for how long.
// - The driver calls the host only from its own threads, named below:
//     "Message Receiver thread"   frames, signal loss, input changes
//     "Gateway IO"                the periodic input report
//     the query's fetch thread    capability query results and notices
//     any driver thread           the debug sink
//   and, for the debug sink only, also from the host thread inside an
//   Open, Close or other call that logs. Every host object the driver
//   calls must therefore be thread-safe.
// - Inside a callback the host may call back into the driver where the
//   callback says so; it must never call Close or a delete entry point of
//   the driver that is calling it.
#ifndef STREVON_H
#define STREVON_H

#include <cstdint>

// ---------------------------------------------------------------------------
// Slot 0 and the calling convention of every interface below.
//
// Hosts on Windows are built with Microsoft's compiler. Its x86 ABI gives a
// virtual destructor ONE vtable slot, the scalar deleting destructor
// (void* __thiscall (unsigned flags); bit 0 of flags frees the memory), and
// passes `this` in ECX (thiscall). GCC's ABI gives a virtual destructor two
// slots, which would move every later slot by one for such a host. So a GCC
// build for Windows declares slot 0 as that one method, keeps the real
// destructor out of the vtable (protected, so nobody deletes through an
// interface), and each class of the driver that implements an interface
// puts STREVON_IMPLEMENT_SLOT0 in its body. Member functions are thiscall
// there by default (variadic ones cdecl); STREVON_THISCALL names it where
// it is spelled out. Elsewhere host and driver share one compiler's ABI and
// slot 0 is the ordinary virtual destructor.
#if defined(_WIN32) && defined(__GNUC__) && !defined(_MSC_VER)
#include <type_traits>
#define STREVON_THISCALL __attribute__((thiscall))
#define STREVON_INTERFACE_SLOT0(Interface)                                         \
  virtual void* STREVON_THISCALL ScalarDeletingDestructor(unsigned int flags) = 0; \
                                                                                   \
 protected:                                                                        \
  ~Interface() = default;                                                          \
                                                                                   \
 public:
#define STREVON_IMPLEMENT_SLOT0                                                        \
  void* STREVON_THISCALL ScalarDeletingDestructor(unsigned int flags) override {       \
    using SlotZeroSelf = std::remove_reference_t<decltype(*this)>;                     \
    if ((flags & 1u) != 0) {                                                           \
      delete this;                                                                     \
    } else {                                                                           \
      this->~SlotZeroSelf();                                                           \
    }                                                                                  \
    return this;                                                                       \
  }
// Destroys an object through slot 0 of one of its interfaces, as a host does.
#define STREVON_DELETE_THROUGH_SLOT0(object) ((object)->ScalarDeletingDestructor(1u))
#else
#define STREVON_THISCALL
#define STREVON_INTERFACE_SLOT0(Interface) virtual ~Interface() = default;
#define STREVON_IMPLEMENT_SLOT0
#define STREVON_DELETE_THROUGH_SLOT0(object) (delete (object))
#endif

// ===========================================================================
// 1. Load
// ===========================================================================
//
// Fourteen entry points, exported by plain, undecorated name (a host
// resolves them with dlsym or GetProcAddress); nothing else is exported.
//
// The four CreateIPCapture... functions are identical: each returns a new,
// closed driver (null when memory is short), typed as the interface version
// the host asks for. The four versions form one single-inheritance chain,
// so the same pointer serves all of them. The four DeleteIPCapture...
// functions are identical: null is ignored; otherwise the driver is closed
// if still open (section 7) and destroyed. Any thread; drivers are
// independent of one another and several may be open at once.
//
// The capability query comes two ways (section 6): as a free-standing
// object (CreateCapabilityQueryModule / DeleteCapabilityQueryModule), or as
// one process-wide instance driven by InitCapabilityQuery,
// StartCapabilityQuery, TerminateCapabilityQuery and UninitCapabilityQuery.
// Those four share one unguarded pointer: call them from one thread at a
// time. InitCapabilityQuery answers 1, or 0 when the instance exists already;
// StartCapabilityQuery answers 0 for a null address, user name or password
// or without an instance, else the instance's Start; Terminate... and
// Uninit... always answer 1. The flag argument counts as true when its low
// byte is non-zero.

class IDebugInfoSink;

namespace quorvel {
class ICaptureIOApi;
class ICaptureIOCallback;
class IIPPTZDriver;
class IIPPTZDriverEx;

namespace ipcapture {
class IIPCaptureDriver;
class IIPCaptureDriverEx;
class IIPCaptureDriverEx2;
class IIPCaptureDriverEx3;
class IIPVideoCapture;
class IIPVideoCaptureEx;
class IIPCapabilityQuery;
class ICapabilityQueryNotify;
class ICapabilityResultSink;
class IFrameAllocator;
class ICaptureFrame;
class IFrameHandler;
class IDeviceSetup;
class IChannelSetup;
class IChannelSize;
}  // namespace ipcapture
}  // namespace quorvel

#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif
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
#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

// ===========================================================================
// 2. Open
// ===========================================================================

namespace quorvel {
namespace ipcapture {

// The capture driver: one Gateway as one device.
//
// Open (any host thread) reads the device setup and the custom parameters,
// starts the driver's worker thread and returns at once; the worker then
// connects, logs on and reads the user's profile, and keeps doing so after
// every loss of the connection. False when the setup is unusable: a
// missing parameter object or text, more than 1024 channels, inputs or
// outputs, or no "Kalmeno Version" custom parameter above 0; the debug sink
// hears why. The three host objects must stay valid until Close has
// returned.
//
// The accessors (slots 3 to 9) never block. The objects they return belong
// to the driver and live until Close; they are null while the driver is not
// open (GetCaptureIO also when the device has neither inputs nor outputs).
//
// Close: see section 7.
class IIPCaptureDriver {
 public:
  STREVON_INTERFACE_SLOT0(IIPCaptureDriver)                               // 0
  virtual bool Open(IDebugInfoSink* sink, IFrameAllocator* allocator,
                    IDeviceSetup* setup) = 0;                             // 1
  virtual void Close() = 0;                                               // 2
  virtual IIPVideoCapture* GetVideoCapture() = 0;                         // 3
  virtual ICaptureIOApi* GetCaptureIO() = 0;                              // 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* ReservedAccessor5() = 0;                                  // 5: null
  virtual IIPPTZDriver* GetPTZDriver() = 0;                               // 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* ReservedAccessor7() = 0;                                  // 7: null
  virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;                     // 8: slot 3's object
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;                           // 9: slot 6's object
};

// ---------------------------------------------------------------------------
// Host objects handed to Open. The driver reads the device setup and its
// parameter objects during Open only, on the calling thread.

class IDeviceParams {
 public:
  STREVON_INTERFACE_SLOT0(IDeviceParams)                                  // 0
  virtual void Reserved1() {}                                             // 1
  virtual const char* GetModel() = 0;                                     // 2: only logged
  virtual std::uint32_t GetChannelCount() = 0;                            // 3: at most 1024
  virtual void Reserved4() {}                                             // 4
  virtual std::uint32_t GetInputCount() = 0;                              // 5: at most 1024
  virtual std::uint32_t GetOutputCount() = 0;                             // 6: at most 1024
};

class IConnectionParams {
 public:
  STREVON_INTERFACE_SLOT0(IConnectionParams)                              // 0
  virtual const char* GetAddress() = 0;                                   // 1: host name or IPv4
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
  STREVON_INTERFACE_SLOT0(IDeviceSetup)                                   // 0
  virtual IDeviceParams* GetDeviceParams() = 0;                           // 1
  virtual IConnectionParams* GetConnectionParams() = 0;                   // 2
  virtual void Reserved3() {}                                             // 3
  // Custom parameter by index counted from 1; null after the last one. The
  // capability query (section 6) writes them; the README lists them.
  virtual const char* GetCustomParameter(int index) = 0;                  // 4
};

}  // namespace ipcapture
}  // namespace quorvel

// One log record as the host's debug sink receives it. It lives only for
// the duration of the sink call: the host copies what it keeps.
class CDebugInfoIf {
 public:
  STREVON_INTERFACE_SLOT0(CDebugInfoIf)                                   // 0
  virtual unsigned char GetLevel() const = 0;                             // 1: 1 error .. 4 debug
  virtual const char* GetText() const = 0;                                // 2
};

// The host's receiver of log records (first argument of Open). Called from
// any driver thread and from the host's own thread inside a driver call,
// possibly while the driver holds one of its locks: it must be thread-safe,
// should return quickly and must not call the driver. After Close has
// returned it is not called again (a call under way is given up to 1 s).
class IDebugInfoSink {
 public:
  STREVON_INTERFACE_SLOT0(IDebugInfoSink)                                 // 0
  virtual void OnDebugInfo(CDebugInfoIf* record) = 0;                     // 1
};

// ===========================================================================
// 3. Video
// ===========================================================================

namespace quorvel {
namespace ipcapture {

// The video channels of one open driver; host channel i is the i-th camera
// of the custom parameters.
//
// StartChannel subscribes the channel's stream and returns at once; frames
// follow once the Gateway streams. False for an index out of range. The
// handler and the setup must stay valid until the channel is stopped.
// StopChannel returns once a frame or signal-loss call under way for that
// channel has returned (it waits for the host's own handler, never for the
// network); no call for the channel starts afterwards, so the handler may
// be freed then. It may be called from inside a frame handler, for its own
// channel or another; the host must not hold a lock across StopChannel that
// its frame handler takes. Start, Stop and ChangeChannelParameters on one
// index are serialised; the last to run decides the channel's state.
// GetChannelStatus never blocks: false when the channel is not running,
// else status 1 (online) or 2 (signal lost, also while the stream is being
// restarted); detail 0 and an empty text.
class IIPVideoCapture {
 public:
  STREVON_INTERFACE_SLOT0(IIPVideoCapture)                                            // 0
  virtual std::uint32_t GetChannelCount() = 0;                                        // 1
  virtual bool StartChannel(std::uint32_t channel, IFrameHandler* handler,
                            IChannelSetup* setup) = 0;                                // 2
  virtual bool StopChannel(std::uint32_t channel) = 0;                                // 3
  virtual bool ChangeChannelParameters(std::uint32_t channel, IChannelSize* size,
                                       std::uint32_t value) = 0;                      // 4
  virtual std::uint32_t Reserved5() = 0;                                              // 5: 0
  virtual bool GetChannelStatus(std::uint32_t channel, int* status, int* detail,
                                char* text, std::uint32_t textSize) = 0;              // 6
  virtual bool Reserved7(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;      // 7: false
  virtual bool Reserved8(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;      // 8: false
};

class IIPVideoCaptureEx : public IIPVideoCapture {
 public:
  virtual bool QueryChannelFeatureA(std::uint32_t channel) = 0;                      // 9: false
  virtual bool QueryChannelFeatureB(std::uint32_t channel) = 0;                      // 10: false
};

// ---------------------------------------------------------------------------
// Host objects of a channel. The channel setup and its parts are read on
// the calling thread inside StartChannel and ChangeChannelParameters only.

class IChannelSize {
 public:
  STREVON_INTERFACE_SLOT0(IChannelSize)                                   // 0
  virtual std::uint16_t GetWidth() = 0;                                   // 1
  virtual std::uint16_t GetHeight() = 0;                                  // 2
};

class IChannelVideoSettings {
 public:
  STREVON_INTERFACE_SLOT0(IChannelVideoSettings)                          // 0
  virtual void Reserved1() {}                                             // 1
  virtual void Reserved2() {}                                             // 2
  virtual IChannelSize* GetSize() = 0;                                    // 3
};

class IChannelStreamSettings {
 public:
  STREVON_INTERFACE_SLOT0(IChannelStreamSettings)                         // 0
  virtual std::uint16_t GetFirstStreamValue() = 0;                        // 1
  virtual void Reserved2() {}                                             // 2
  virtual std::uint16_t GetSecondStreamValue() = 0;                       // 3
  virtual std::uint32_t GetSecondaryFlag() = 0;                           // 4: non-zero asks for a secondary channel
};

class IChannelSetup {
 public:
  STREVON_INTERFACE_SLOT0(IChannelSetup)                                  // 0
  virtual IChannelVideoSettings* GetVideoSettings() = 0;                  // 1
  virtual IChannelStreamSettings* GetStreamSettings() = 0;                // 2
};

// The host's frame allocator (second argument of Open, one per driver) and
// its frames. For every Gateway frame the "Message Receiver thread" calls
// AllocateFrame, GetBuffer, then the setters, FinishFrame, the channel's
// CaptureFrameCallback, and finally ReleaseFrame: exactly once for every
// frame AllocateFrame returned, also when a step failed. A frame is used by
// one thread at a time and never after ReleaseFrame. After Close has
// returned the allocator is not called again.
class ICaptureFrame {
 public:
  STREVON_INTERFACE_SLOT0(ICaptureFrame)                                  // 0
  virtual void Reserved1() {}                                             // 1
  virtual unsigned char* GetBuffer() = 0;                                 // 2: at least the allocated size
  virtual void Reserved3() {}                                             // 3
  virtual void SetDataSize(std::uint32_t bytes) = 0;                      // 4
  virtual void FinishFrame() = 0;                                         // 5: after all setters
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
  STREVON_INTERFACE_SLOT0(IFrameAllocator)                                // 0
  virtual void Reserved1() {}                                             // 1
  // Null refuses the frame: the driver drops it and logs that.
  virtual ICaptureFrame* AllocateFrame(std::uint32_t fourcc, std::uint32_t dataSize,
                                       const char* driverName) = 0;       // 2
  virtual void Reserved3() {}                                             // 3
  virtual void Reserved4() {}                                             // 4
  virtual void Reserved5() {}                                             // 5
  virtual void ReleaseFrame(ICaptureFrame* frame) = 0;                    // 6: once per allocated frame
};

// One started channel's receiver of frames (second argument of
// StartChannel). Both slots are called on the "Message Receiver thread",
// one call at a time per channel; while one runs, no frame of any channel
// is read, so it should return quickly. Inside either the host may call
// StopChannel (for this channel or another), GetChannelStatus and the PTZ
// and I/O slots; it must not call Close or delete the driver.
class IFrameHandler {
 public:
  STREVON_INTERFACE_SLOT0(IFrameHandler)                                  // 0
  // The frame stays the driver's: the host copies what it keeps before it
  // returns. False tells the driver the frame was not taken.
  virtual bool CaptureFrameCallback(ICaptureFrame* frame) = 0;            // 1
  virtual void Reserved2() {}                                             // 2
  // The channel's status became 2, signal lost.
  virtual void OnSignalLost() = 0;                                        // 3
};

}  // namespace ipcapture

// ===========================================================================
// 4. PTZ
// ===========================================================================

// PTZ result codes.
enum PtzResult : int {
  kPtzOk = 1,
  kPtzInvalidArgument = -3,
  kPtzNotPossible = -18,
  kPtzNotSupported = -19,
  kPtzNoSuchPreset = -23,
  kPtzPresetListFull = -26,
};

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

// One channel's PTZ control. Any host thread, several at a time. No slot
// waits for the Gateway: motion, zoom, focus, iris, area zoom, centring and
// preset recalls are queued to the channel's own command thread
// ("BaseIPPTZThread_Ch<n>"), which keeps at most 16 waiting (the oldest is
// dropped), and answer kPtzOk once queued. StopMotion ends every motion the
// control started. Preset names are those of the Gateway's dome properties;
// RefreshPresets reloads them and answers their count. A capability the
// camera lacks answers kPtzNotSupported, a command that cannot be queued
// kPtzNotPossible, a name that does not fit the buffer (with its NUL)
// kPtzInvalidArgument.
class IIPPTZApi {
 public:
  STREVON_INTERFACE_SLOT0(IIPPTZApi)                                                 // 0
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

// The PTZ driver object: hands out one control per channel, created on
// first request and kept until Close. Null for a channel out of range or
// one whose control cannot be opened. Any host thread.
class IIPPTZDriver {
 public:
  STREVON_INTERFACE_SLOT0(IIPPTZDriver)                                   // 0
  virtual IIPPTZApi* GetPTZApi(std::uint32_t channel) = 0;                // 1
};

class IIPPTZDriverEx : public IIPPTZDriver {
 public:
  virtual IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) = 0;            // 2
};

}  // namespace quorvel

// Second interface of a PTZ control: two flags the host keeps there. Never
// blocks; any host thread.
class IIPParams {
 public:
  STREVON_INTERFACE_SLOT0(IIPParams)                                      // 0
  virtual std::uint32_t GetChannel() = 0;                                 // 1
  virtual unsigned char GetParamFlag1() = 0;                              // 2
  virtual unsigned char SetParamFlag1(unsigned char value) = 0;           // 3
  virtual unsigned char GetParamFlag2() = 0;                              // 4
  virtual unsigned char SetParamFlag2(unsigned char value) = 0;           // 5
};

// ===========================================================================
// 5. I/O
// ===========================================================================

namespace quorvel {

// Digital inputs and outputs of one device. Any host thread; no slot waits
// for the Gateway or for host code. StartIO starts the reports: every
// input's state every 2000 ms, and each change as its event arrives; it
// fails (and logs why) while a callback call from before a StopIO is still
// running. StopIO returns at once, also while a callback call runs: that
// one call may still complete afterwards, none starts later, so the host
// may hold its own lock across StopIO. SetOutput asks the Gateway to toggle
// the output (the state argument is not sent).
class ICaptureIOApi {
 public:
  STREVON_INTERFACE_SLOT0(ICaptureIOApi)                                  // 0
  virtual bool SetIOCallback(ICaptureIOCallback* callback) = 0;           // 1: null keeps the current one
  virtual bool StartIO() = 0;                                             // 2
  virtual bool StopIO() = 0;                                              // 3: always false
  virtual std::uint32_t GetInputCount() = 0;                              // 4
  virtual std::uint32_t GetOutputCount() = 0;                             // 5
  virtual void SetOutput(std::uint32_t outputIndex, int state) = 0;       // 6
};

// The host's digital-input callback: state 2 on, 1 off, 0 anything else;
// the input id is its position in the Gateway profile. Called on the
// "Message Receiver thread" (changes) and the "Gateway IO" thread (the
// periodic report), so possibly on both at once. Inside it the host may call
// any ICaptureIOApi slot (StopIO included) and the video and PTZ slots; it
// must not call Close or delete the driver.
class ICaptureIOCallback {
 public:
  STREVON_INTERFACE_SLOT0(ICaptureIOCallback)                             // 0
  virtual void OnInputState(std::uint32_t inputId, std::uint32_t state) = 0;  // 1
};

// ===========================================================================
// 6. Capability query
// ===========================================================================

namespace ipcapture {

class ICapabilityInfoItem;
class ICapabilityParameter;
class ICapabilityResolutionList;
class ICapabilityFrameIntervalList;

// The automatic-search query. Start (host thread) checks its arguments and
// runs one fetch on a thread of its own, returning at once: 1 when the fetch
// started, 0 otherwise (a module runs at most one fetch). The fetch logs on
// to the Gateway, reads the device's cameras and I/O, fills the result sink
// and tells the notifier exactly once how it ended. Terminate asks a
// running fetch to stop at its next step and returns at once. Deleting the
// module (DeleteCapabilityQueryModule, UninitCapabilityQuery) terminates the
// fetch and waits up to twice the connection time-out for its thread; a
// thread still running then is left to finish on its own, calls the host no
// more, and the notifier hears OnQueryKilled. The notifier and the sink
// must stay valid until the delete has returned.
class IIPCapabilityQuery {
 public:
  STREVON_INTERFACE_SLOT0(IIPCapabilityQuery)                             // 0
  virtual std::uint32_t Start(const char* address, std::uint16_t port, const char* userName,
                              const char* password, ICapabilityResultSink* sink) = 0;  // 1
  virtual void Terminate() = 0;                                           // 2
};

// The host's notifier. Called on the fetch thread (OnQueryKilled on the
// thread deleting the module). Inside it the host may delete the module.
class ICapabilityQueryNotify {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityQueryNotify)                         // 0
  virtual void Reserved1() {}                                             // 1
  virtual void OnQueryCompleted() = 0;                                    // 2
  virtual void OnQueryFailed(int status, const char* message) = 0;        // 3
  virtual void OnQueryKilled() = 0;                                       // 4
};

// The host's receiver of the device's properties, filled on the fetch
// thread before OnQueryCompleted. The objects its getters return are the
// host's and are used only within the fetch.
class ICapabilityResultSink {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityResultSink)                          // 0
  virtual void SetCapability(std::uint32_t id, std::uint32_t value) = 0;  // 1
  virtual void SetDeviceName(const char* name) = 0;                       // 2
  virtual ICapabilityInfoItem* GetInfoItem(std::uint32_t index) = 0;      // 3: 1 to 4
  virtual void Reserved4() {}                                             // 4
  virtual ICapabilityParameter* AddParameter(std::uint32_t index) = 0;    // 5
  virtual ICapabilityResolutionList* GetResolutionList() = 0;             // 6
  virtual void Reserved7() {}                                             // 7
  virtual ICapabilityFrameIntervalList* GetFrameIntervalList(std::uint32_t kind) = 0;  // 8
};

class ICapabilityInfoItem {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityInfoItem)                            // 0
  virtual void SetValue(const char* value) = 0;                           // 1
};

// One custom parameter, handed back to Open later (IDeviceSetup slot 4).
class ICapabilityParameter {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityParameter)                           // 0
  virtual void SetValue(const char* value) = 0;                           // 1
  virtual void Reserved2() {}                                             // 2
  virtual void Reserved3() {}                                             // 3
  virtual void SetPerObject(std::uint32_t perObject) = 0;                 // 4
  virtual void SetName(const char* name) = 0;                             // 5
  virtual void SetOption(std::uint32_t option) = 0;                       // 6
};

class ICapabilityResolutionList {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityResolutionList)                      // 0
  virtual void AddResolution(const char* text, std::uint32_t width, std::uint32_t height,
                             std::uint32_t frameIntervalMs) = 0;          // 1
};

class ICapabilityFrameIntervalList {
 public:
  STREVON_INTERFACE_SLOT0(ICapabilityFrameIntervalList)                   // 0
  virtual void SetDefaultInterval(std::uint32_t intervalMs) = 0;          // 1
  virtual void AddInterval(std::uint32_t intervalMs) = 0;                 // 2
};

}  // namespace ipcapture
}  // namespace quorvel

// ===========================================================================
// 7. Close
// ===========================================================================
//
// Close (IIPCaptureDriver slot 2; any host thread, never from inside a
// driver callback) stops every channel as StopChannel does, the I/O, the
// PTZ command threads and the worker. It waits up to 5 s for the driver's
// threads (and up to 1 s more for a debug sink call under way); a thread
// that is still inside host code or a name lookup then is left to finish
// by itself, calling no host object again.
// Once Close has returned, no host object handed to the driver is called
// again and the objects the accessors returned are gone. Close may be
// called more than once.
//
// A delete entry point closes the driver first, within the same time, and
// then lets it go: a driver thread that overstayed frees the driver's memory
// when it ends. Unloading the library afterwards is safe; its code stays
// mapped for such a thread.

#endif  // STREVON_H
