// Compile-time checks of the host boundary as a 32-bit Windows host built
// with Microsoft's compiler sees it. Included by the Windows build of the
// exports only; it declares nothing.
//
// Records: every record a host-facing method takes or fills has the offsets
// and size that compiler gives it on x86 (the table below is written from
// the record's field list, not from our own declaration). Records that hold
// std::string never cross the boundary and are not listed.
//
// Calls: every member function a host calls or the driver calls on a host
// object is thiscall, and slot 0 has the scalar deleting destructor's
// signature. GCC makes member functions thiscall on this target by default;
// these checks fail the build if a flag or a declaration ever changes that.
#pragma once

#include <cstddef>
#include <type_traits>

#include "strevon.h"

#if defined(_WIN32) && defined(__GNUC__) && !defined(_MSC_VER) && defined(__i386__)

namespace quorvel {
namespace boundary {

static_assert(sizeof(void*) == 4, "the DLL is for 32-bit hosts");
static_assert(sizeof(bool) == 1, "a bool result is one byte (AL)");
static_assert(sizeof(std::uint16_t) == 2 && sizeof(std::uint32_t) == 4 && sizeof(int) == 4,
              "slot arguments are 16- and 32-bit words");

struct FieldOffset {
  std::size_t actual;
  std::size_t expected;
};

// PtzCapabilityRecord: fourteen 32-bit words, word n at offset 4n.
constexpr FieldOffset kPtzCapabilityRecord[] = {
    {offsetof(PtzCapabilityRecord, hostWord), 0},     {offsetof(PtzCapabilityRecord, pan), 4},
    {offsetof(PtzCapabilityRecord, tilt), 8},         {offsetof(PtzCapabilityRecord, zoom), 12},
    {offsetof(PtzCapabilityRecord, focus), 16},       {offsetof(PtzCapabilityRecord, iris), 20},
    {offsetof(PtzCapabilityRecord, reserved6), 24},   {offsetof(PtzCapabilityRecord, maxPresets), 28},
    {offsetof(PtzCapabilityRecord, presetCount), 32}, {offsetof(PtzCapabilityRecord, reserved9), 36},
    {offsetof(PtzCapabilityRecord, reserved10), 40},  {offsetof(PtzCapabilityRecord, areaZoom), 44},
    {offsetof(PtzCapabilityRecord, center), 48},      {offsetof(PtzCapabilityRecord, unzoom), 52},
};

constexpr bool AllAt(const FieldOffset* fields, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (fields[i].actual != fields[i].expected) return false;
  }
  return true;
}

static_assert(AllAt(kPtzCapabilityRecord, sizeof(kPtzCapabilityRecord) / sizeof(FieldOffset)),
              "PtzCapabilityRecord field offsets");
static_assert(sizeof(PtzCapabilityRecord) == 56 && alignof(PtzCapabilityRecord) == 4,
              "PtzCapabilityRecord size");
static_assert(std::is_standard_layout<PtzCapabilityRecord>::value &&
                  std::is_trivially_copyable<PtzCapabilityRecord>::value,
              "PtzCapabilityRecord is a plain C record");

template <typename T>
struct IsThiscall : std::false_type {};
template <typename R, typename C, typename... A>
struct IsThiscall<R (STREVON_THISCALL C::*)(A...)> : std::true_type {};
template <typename R, typename C, typename... A>
struct IsThiscall<R (STREVON_THISCALL C::*)(A...) const> : std::true_type {};

#define STREVON_CHECK_THISCALL(Interface, Method)                  \
  static_assert(IsThiscall<decltype(&Interface::Method)>::value, \
                #Interface "::" #Method " is thiscall")
#define STREVON_CHECK_SLOT0(Interface)                                                       \
  static_assert(std::is_same<decltype(&Interface::ScalarDeletingDestructor),                 \
                             void* (STREVON_THISCALL Interface::*)(unsigned int)>::value && \
                    !std::has_virtual_destructor<Interface>::value,                          \
                #Interface ": slot 0 is the one scalar deleting destructor")

using namespace ipcapture;

// Implemented by the driver.
STREVON_CHECK_SLOT0(IIPCaptureDriver);
STREVON_CHECK_THISCALL(IIPCaptureDriver, Open);
STREVON_CHECK_THISCALL(IIPCaptureDriver, Close);
STREVON_CHECK_THISCALL(IIPCaptureDriver, GetVideoCapture);
STREVON_CHECK_THISCALL(IIPCaptureDriver, GetCaptureIO);
STREVON_CHECK_THISCALL(IIPCaptureDriverEx, ReservedAccessor5);
STREVON_CHECK_THISCALL(IIPCaptureDriverEx, GetPTZDriver);
STREVON_CHECK_THISCALL(IIPCaptureDriverEx2, ReservedAccessor7);
STREVON_CHECK_THISCALL(IIPCaptureDriverEx2, GetVideoCaptureEx);
STREVON_CHECK_THISCALL(IIPCaptureDriverEx3, GetPTZDriverEx);
STREVON_CHECK_SLOT0(IIPVideoCapture);
STREVON_CHECK_THISCALL(IIPVideoCapture, GetChannelCount);
STREVON_CHECK_THISCALL(IIPVideoCapture, StartChannel);
STREVON_CHECK_THISCALL(IIPVideoCapture, StopChannel);
STREVON_CHECK_THISCALL(IIPVideoCapture, ChangeChannelParameters);
STREVON_CHECK_THISCALL(IIPVideoCapture, Reserved5);
STREVON_CHECK_THISCALL(IIPVideoCapture, GetChannelStatus);
STREVON_CHECK_THISCALL(IIPVideoCapture, Reserved7);
STREVON_CHECK_THISCALL(IIPVideoCapture, Reserved8);
STREVON_CHECK_THISCALL(IIPVideoCaptureEx, QueryChannelFeatureA);
STREVON_CHECK_THISCALL(IIPVideoCaptureEx, QueryChannelFeatureB);
STREVON_CHECK_SLOT0(ICaptureIOApi);
STREVON_CHECK_THISCALL(ICaptureIOApi, SetIOCallback);
STREVON_CHECK_THISCALL(ICaptureIOApi, StartIO);
STREVON_CHECK_THISCALL(ICaptureIOApi, StopIO);
STREVON_CHECK_THISCALL(ICaptureIOApi, GetInputCount);
STREVON_CHECK_THISCALL(ICaptureIOApi, GetOutputCount);
STREVON_CHECK_THISCALL(ICaptureIOApi, SetOutput);
STREVON_CHECK_SLOT0(IIPPTZDriver);
STREVON_CHECK_THISCALL(IIPPTZDriver, GetPTZApi);
STREVON_CHECK_THISCALL(IIPPTZDriverEx, GetPTZApiEx);
STREVON_CHECK_SLOT0(IIPPTZApi);
STREVON_CHECK_THISCALL(IIPPTZApi, Initialize);
STREVON_CHECK_THISCALL(IIPPTZApi, Move);
STREVON_CHECK_THISCALL(IIPPTZApi, StopMotion);
STREVON_CHECK_THISCALL(IIPPTZApi, CenterAt);
STREVON_CHECK_THISCALL(IIPPTZApi, ZoomIn);
STREVON_CHECK_THISCALL(IIPPTZApi, ZoomOut);
STREVON_CHECK_THISCALL(IIPPTZApi, UnzoomView);
STREVON_CHECK_THISCALL(IIPPTZApi, ZoomToArea);
STREVON_CHECK_THISCALL(IIPPTZApi, FocusNear);
STREVON_CHECK_THISCALL(IIPPTZApi, FocusFar);
STREVON_CHECK_THISCALL(IIPPTZApi, IrisOpen);
STREVON_CHECK_THISCALL(IIPPTZApi, IrisClose);
STREVON_CHECK_THISCALL(IIPPTZApi, GetCapabilities);
STREVON_CHECK_THISCALL(IIPPTZApi, RefreshPresets);
STREVON_CHECK_THISCALL(IIPPTZApi, GetPresetName);
STREVON_CHECK_THISCALL(IIPPTZApi, GoToPreset);
STREVON_CHECK_THISCALL(IIPPTZApi, AddPreset);
STREVON_CHECK_THISCALL(IIPPTZApi, RemovePreset);
STREVON_CHECK_THISCALL(IIPPTZApi, GetCurrentPresetName);
STREVON_CHECK_THISCALL(IIPPTZApiEx, QueryFeature);
STREVON_CHECK_SLOT0(IIPParams);
STREVON_CHECK_THISCALL(IIPParams, GetChannel);
STREVON_CHECK_THISCALL(IIPParams, GetParamFlag1);
STREVON_CHECK_THISCALL(IIPParams, SetParamFlag1);
STREVON_CHECK_THISCALL(IIPParams, GetParamFlag2);
STREVON_CHECK_THISCALL(IIPParams, SetParamFlag2);
STREVON_CHECK_SLOT0(IIPCapabilityQuery);
STREVON_CHECK_THISCALL(IIPCapabilityQuery, Start);
STREVON_CHECK_THISCALL(IIPCapabilityQuery, Terminate);
STREVON_CHECK_SLOT0(CDebugInfoIf);
STREVON_CHECK_THISCALL(CDebugInfoIf, GetLevel);
STREVON_CHECK_THISCALL(CDebugInfoIf, GetText);

// Implemented by the host; the driver calls these slots.
STREVON_CHECK_SLOT0(IDebugInfoSink);
STREVON_CHECK_THISCALL(IDebugInfoSink, OnDebugInfo);
STREVON_CHECK_SLOT0(IChannelSize);
STREVON_CHECK_THISCALL(IChannelSize, GetWidth);
STREVON_CHECK_THISCALL(IChannelSize, GetHeight);
STREVON_CHECK_SLOT0(IChannelVideoSettings);
STREVON_CHECK_THISCALL(IChannelVideoSettings, GetSize);
STREVON_CHECK_SLOT0(IChannelStreamSettings);
STREVON_CHECK_THISCALL(IChannelStreamSettings, GetFirstStreamValue);
STREVON_CHECK_THISCALL(IChannelStreamSettings, GetSecondStreamValue);
STREVON_CHECK_THISCALL(IChannelStreamSettings, GetSecondaryFlag);
STREVON_CHECK_SLOT0(IChannelSetup);
STREVON_CHECK_THISCALL(IChannelSetup, GetVideoSettings);
STREVON_CHECK_THISCALL(IChannelSetup, GetStreamSettings);
STREVON_CHECK_SLOT0(ICaptureFrame);
STREVON_CHECK_THISCALL(ICaptureFrame, GetBuffer);
STREVON_CHECK_THISCALL(ICaptureFrame, SetDataSize);
STREVON_CHECK_THISCALL(ICaptureFrame, FinishFrame);
STREVON_CHECK_THISCALL(ICaptureFrame, SetFourcc);
STREVON_CHECK_THISCALL(ICaptureFrame, SetHeight);
STREVON_CHECK_THISCALL(ICaptureFrame, SetWidth);
STREVON_CHECK_THISCALL(ICaptureFrame, SetSizeClass);
STREVON_CHECK_SLOT0(IFrameAllocator);
STREVON_CHECK_THISCALL(IFrameAllocator, AllocateFrame);
STREVON_CHECK_THISCALL(IFrameAllocator, ReleaseFrame);
STREVON_CHECK_SLOT0(IFrameHandler);
STREVON_CHECK_THISCALL(IFrameHandler, CaptureFrameCallback);
STREVON_CHECK_THISCALL(IFrameHandler, OnSignalLost);
STREVON_CHECK_SLOT0(IDeviceParams);
STREVON_CHECK_THISCALL(IDeviceParams, GetModel);
STREVON_CHECK_THISCALL(IDeviceParams, GetChannelCount);
STREVON_CHECK_THISCALL(IDeviceParams, GetInputCount);
STREVON_CHECK_THISCALL(IDeviceParams, GetOutputCount);
STREVON_CHECK_SLOT0(IConnectionParams);
STREVON_CHECK_THISCALL(IConnectionParams, GetAddress);
STREVON_CHECK_THISCALL(IConnectionParams, GetPort);
STREVON_CHECK_THISCALL(IConnectionParams, GetConnectionValue);
STREVON_CHECK_THISCALL(IConnectionParams, GetUserName);
STREVON_CHECK_THISCALL(IConnectionParams, GetPassword);
STREVON_CHECK_SLOT0(IDeviceSetup);
STREVON_CHECK_THISCALL(IDeviceSetup, GetDeviceParams);
STREVON_CHECK_THISCALL(IDeviceSetup, GetConnectionParams);
STREVON_CHECK_THISCALL(IDeviceSetup, GetCustomParameter);
STREVON_CHECK_SLOT0(ICapabilityQueryNotify);
STREVON_CHECK_THISCALL(ICapabilityQueryNotify, OnQueryCompleted);
STREVON_CHECK_THISCALL(ICapabilityQueryNotify, OnQueryFailed);
STREVON_CHECK_THISCALL(ICapabilityQueryNotify, OnQueryKilled);
STREVON_CHECK_SLOT0(ICapabilityInfoItem);
STREVON_CHECK_THISCALL(ICapabilityInfoItem, SetValue);
STREVON_CHECK_SLOT0(ICapabilityParameter);
STREVON_CHECK_THISCALL(ICapabilityParameter, SetValue);
STREVON_CHECK_THISCALL(ICapabilityParameter, SetPerObject);
STREVON_CHECK_THISCALL(ICapabilityParameter, SetName);
STREVON_CHECK_THISCALL(ICapabilityParameter, SetOption);
STREVON_CHECK_SLOT0(ICapabilityResolutionList);
STREVON_CHECK_THISCALL(ICapabilityResolutionList, AddResolution);
STREVON_CHECK_SLOT0(ICapabilityFrameIntervalList);
STREVON_CHECK_THISCALL(ICapabilityFrameIntervalList, SetDefaultInterval);
STREVON_CHECK_THISCALL(ICapabilityFrameIntervalList, AddInterval);
STREVON_CHECK_SLOT0(ICapabilityResultSink);
STREVON_CHECK_THISCALL(ICapabilityResultSink, SetCapability);
STREVON_CHECK_THISCALL(ICapabilityResultSink, SetDeviceName);
STREVON_CHECK_THISCALL(ICapabilityResultSink, GetInfoItem);
STREVON_CHECK_THISCALL(ICapabilityResultSink, AddParameter);
STREVON_CHECK_THISCALL(ICapabilityResultSink, GetResolutionList);
STREVON_CHECK_THISCALL(ICapabilityResultSink, GetFrameIntervalList);
STREVON_CHECK_SLOT0(ICaptureIOCallback);
STREVON_CHECK_THISCALL(ICaptureIOCallback, OnInputState);

#undef STREVON_CHECK_THISCALL
#undef STREVON_CHECK_SLOT0

}  // namespace boundary
}  // namespace quorvel

#endif
