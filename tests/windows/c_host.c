/* A recorder as Microsoft's compiler builds one, written in C so that it
 * cannot share a mistake with the driver's own header: every object is a
 * pointer to a table of function pointers, every slot is called by its
 * number, every member function is thiscall (the object in ECX, the callee
 * pops the rest), and slot 0 is one scalar deleting destructor.
 *
 *   c_host.exe <strevon.dll> <Gateway port on 127.0.0.1>
 *
 * It runs the capability query, opens a driver with the custom parameters
 * the query produced, streams frames of channel 0, moves the dome on
 * channel 1, switches output 0 and waits for an input report, then deletes
 * everything through slot 0. The last line is "C HOST PASSED ..." or
 * "C HOST FAILED: ..."; the requests the Gateway received are checked by
 * the caller. */
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define TC __attribute__((thiscall))

typedef void (*AnySlot)(void);
typedef struct { const AnySlot* vtbl; } Object;

/* Slot n of obj as a function of the given type. */
#define SLOT(obj, n, type) ((type)(((const Object*)(obj))->vtbl[n]))
#define S(fn) ((AnySlot)(fn))

static volatile LONG g_wrongSlots;
static volatile LONG g_frames;
static volatile LONG g_frameBytesOk;
static volatile LONG g_released;
static volatile LONG g_allocated;
static volatile LONG g_inputReports;
static volatile LONG g_bannerSeen;
static volatile LONG g_logLines;
static volatile LONG g_queryDone; /* 1 completed, 2 failed, 3 killed */
static volatile LONG g_frameWidth, g_frameHeight;

static void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printf("C HOST FAILED: ");
  vprintf(format, args);
  printf("\n");
  va_end(args);
  fflush(stdout);
  ExitProcess(1);
}

/* Any slot the driver must never call: the host's slot 0 and the reserved
 * ones. It only counts; the arguments of a wrong call are not popped, and
 * the run fails on the count anyway. */
static void TC Trap(void* self) {
  (void)self;
  InterlockedIncrement(&g_wrongSlots);
}

static BOOL WaitFor(volatile LONG* value, LONG atLeast, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (*value < atLeast) {
    if (GetTickCount() - start > timeoutMs) return FALSE;
    Sleep(10);
  }
  return TRUE;
}

/* ---- Debug sink (IDebugInfoSink) and the driver's record (CDebugInfoIf) */
typedef unsigned char(TC* GetLevelFn)(void*);
typedef const char*(TC* GetTextFn)(void*);

static void TC Sink_OnDebugInfo(void* self, void* record) {
  (void)self;
  const unsigned level = SLOT(record, 1, GetLevelFn)(record);
  const char* text = SLOT(record, 2, GetTextFn)(record);
  InterlockedIncrement(&g_logLines);
  if (level == 3 && text != NULL && strstr(text, "======= Open log =======") != NULL) {
    InterlockedExchange(&g_bannerSeen, 1);
  }
}
static const AnySlot kSinkSlots[] = {S(Trap), S(Sink_OnDebugInfo)};
static Object g_sink = {kSinkSlots};

/* ---- Frames (ICaptureFrame) and their allocator (IFrameAllocator) ---- */
typedef struct {
  const AnySlot* vtbl;
  unsigned char* buffer;
  unsigned allocated, dataSize, fourcc, width, height, sizeClass;
  int finished;
} HostFrame;

static unsigned char* TC Frame_GetBuffer(HostFrame* f) { return f->buffer; }
static void TC Frame_SetDataSize(HostFrame* f, unsigned bytes) { f->dataSize = bytes; }
static void TC Frame_Finish(HostFrame* f) { f->finished = 1; }
static void TC Frame_SetFourcc(HostFrame* f, unsigned v) { f->fourcc = v; }
static void TC Frame_SetHeight(HostFrame* f, unsigned v) { f->height = v; }
static void TC Frame_SetWidth(HostFrame* f, unsigned v) { f->width = v; }
static void TC Frame_SetSizeClass(HostFrame* f, unsigned v) { f->sizeClass = v; }
static const AnySlot kFrameSlots[] = {
    S(Trap),          S(Trap),  S(Frame_GetBuffer), S(Trap),  S(Frame_SetDataSize), S(Frame_Finish),
    S(Trap),          S(Trap),  S(Trap),            S(Trap),  S(Frame_SetFourcc),   S(Trap),
    S(Frame_SetHeight), S(Trap), S(Frame_SetWidth), S(Trap),  S(Frame_SetSizeClass)};

static HostFrame* TC Alloc_Allocate(void* self, unsigned fourcc, unsigned size, const char* driver) {
  (void)self;
  if (driver == NULL || strcmp(driver, "Strevon") != 0) InterlockedIncrement(&g_wrongSlots);
  HostFrame* frame = (HostFrame*)calloc(1, sizeof(HostFrame));
  if (frame == NULL) return NULL;
  frame->vtbl = kFrameSlots;
  frame->buffer = (unsigned char*)malloc(size ? size : 1);
  frame->allocated = size;
  frame->fourcc = fourcc;
  InterlockedIncrement(&g_allocated);
  return frame;
}
static void TC Alloc_Release(void* self, HostFrame* frame) {
  (void)self;
  free(frame->buffer);
  free(frame);
  InterlockedIncrement(&g_released);
}
static const AnySlot kAllocatorSlots[] = {S(Trap), S(Trap), S(Alloc_Allocate), S(Trap),
                                          S(Trap), S(Trap), S(Alloc_Release)};
static Object g_allocator = {kAllocatorSlots};

/* ---- Frame handler (IFrameHandler) ---- */
static unsigned char TC Handler_Capture(void* self, HostFrame* f) {
  (void)self;
  const int bytesOk = f->finished && f->dataSize > 0 && f->dataSize <= f->allocated &&
                      f->sizeClass >= 1 && f->sizeClass <= 4;
  if (bytesOk) InterlockedIncrement(&g_frameBytesOk);
  InterlockedExchange(&g_frameWidth, (LONG)f->width);
  InterlockedExchange(&g_frameHeight, (LONG)f->height);
  InterlockedIncrement(&g_frames);
  return 1;
}
static void TC Handler_SignalLost(void* self) { (void)self; }
static const AnySlot kHandlerSlots[] = {S(Trap), S(Handler_Capture), S(Trap), S(Handler_SignalLost)};
static Object g_handler = {kHandlerSlots};

/* ---- Channel setup (IChannelSetup and what it hands out) ---- */
static unsigned short TC Size_Width(void* self) { (void)self; return 640; }
static unsigned short TC Size_Height(void* self) { (void)self; return 480; }
static const AnySlot kSizeSlots[] = {S(Trap), S(Size_Width), S(Size_Height)};
static Object g_size = {kSizeSlots};
static Object* TC Video_GetSize(void* self) { (void)self; return &g_size; }
static const AnySlot kVideoSlots[] = {S(Trap), S(Trap), S(Trap), S(Video_GetSize)};
static Object g_videoSettings = {kVideoSlots};
static unsigned short TC Stream_First(void* self) { (void)self; return 0; }
static unsigned short TC Stream_Second(void* self) { (void)self; return 0; }
static unsigned TC Stream_Secondary(void* self) { (void)self; return 0; }
static const AnySlot kStreamSlots[] = {S(Trap), S(Stream_First), S(Trap), S(Stream_Second),
                                       S(Stream_Secondary)};
static Object g_streamSettings = {kStreamSlots};
static Object* TC Setup_Video(void* self) { (void)self; return &g_videoSettings; }
static Object* TC Setup_Stream(void* self) { (void)self; return &g_streamSettings; }
static const AnySlot kChannelSetupSlots[] = {S(Trap), S(Setup_Video), S(Setup_Stream)};
static Object g_channelSetup = {kChannelSetupSlots};

/* ---- Device setup (IDeviceSetup, IDeviceParams, IConnectionParams) ---- */
static unsigned short g_port;
static char* g_params[64]; /* custom parameters by index, from the query */

static const char* TC Device_Model(void* self) { (void)self; return "C host"; }
static unsigned TC Device_Channels(void* self) { (void)self; return 4; }
static unsigned TC Device_Inputs(void* self) { (void)self; return 2; }
static unsigned TC Device_Outputs(void* self) { (void)self; return 2; }
static const AnySlot kDeviceSlots[] = {S(Trap), S(Trap), S(Device_Model), S(Device_Channels),
                                       S(Trap), S(Device_Inputs), S(Device_Outputs)};
static Object g_deviceParams = {kDeviceSlots};

static const char* TC Conn_Address(void* self) { (void)self; return "127.0.0.1"; }
static unsigned short TC Conn_Port(void* self) { (void)self; return g_port; }
static unsigned TC Conn_Value(void* self) { (void)self; return 1; /* JPEG */ }
static const char* TC Conn_User(void* self) { (void)self; return "admin"; }
static const char* TC Conn_Password(void* self) { (void)self; return "admin"; }
static const AnySlot kConnSlots[] = {S(Trap), S(Conn_Address), S(Conn_Port), S(Trap),
                                     S(Conn_Value), S(Conn_User), S(Conn_Password)};
static Object g_connection = {kConnSlots};

static Object* TC Setup_Device(void* self) { (void)self; return &g_deviceParams; }
static Object* TC Setup_Connection(void* self) { (void)self; return &g_connection; }
static const char* TC Setup_Custom(void* self, int index) {
  (void)self;
  return index >= 1 && index < 64 ? g_params[index] : NULL;
}
static const AnySlot kDeviceSetupSlots[] = {S(Trap), S(Setup_Device), S(Setup_Connection), S(Trap),
                                            S(Setup_Custom)};
static Object g_deviceSetup = {kDeviceSetupSlots};

/* ---- I/O callback (ICaptureIOCallback) ---- */
static void TC Io_OnInputState(void* self, unsigned id, unsigned state) {
  (void)self;
  if (id < 2 && state <= 2) InterlockedIncrement(&g_inputReports);
}
static const AnySlot kIoSlots[] = {S(Trap), S(Io_OnInputState)};
static Object g_ioCallback = {kIoSlots};

/* ---- Capability query: notifier and result sink ---- */
static void TC Notify_Completed(void* self) { (void)self; InterlockedExchange(&g_queryDone, 1); }
static void TC Notify_Failed(void* self, int status, const char* message) {
  (void)self;
  printf("query failed: %d %s\n", status, message != NULL ? message : "");
  InterlockedExchange(&g_queryDone, 2);
}
static void TC Notify_Killed(void* self) { (void)self; InterlockedExchange(&g_queryDone, 3); }
static const AnySlot kNotifySlots[] = {S(Trap), S(Trap), S(Notify_Completed), S(Notify_Failed),
                                       S(Notify_Killed)};
static Object g_notify = {kNotifySlots};

typedef struct {
  const AnySlot* vtbl;
  unsigned index;
} HostParameter;
static void TC Param_SetValue(HostParameter* p, const char* value) {
  if (p->index < 64 && value != NULL) {
    free(g_params[p->index]);
    g_params[p->index] = _strdup(value);
  }
}
static void TC Param_SetNumber(HostParameter* p, unsigned value) { (void)p; (void)value; }
static void TC Param_SetName(HostParameter* p, const char* name) { (void)p; (void)name; }
static const AnySlot kParamSlots[] = {S(Trap), S(Param_SetValue), S(Trap), S(Trap),
                                      S(Param_SetNumber), S(Param_SetName), S(Param_SetNumber)};
static HostParameter g_paramObjects[64];

static void TC Item_SetValue(void* self, const char* value) { (void)self; (void)value; }
static const AnySlot kItemSlots[] = {S(Trap), S(Item_SetValue)};
static Object g_item = {kItemSlots};
static void TC Res_Add(void* self, const char* t, unsigned w, unsigned h, unsigned i) {
  (void)self; (void)t; (void)w; (void)h; (void)i;
}
static const AnySlot kResSlots[] = {S(Trap), S(Res_Add)};
static Object g_resolutions = {kResSlots};
static void TC Interval_Set(void* self, unsigned ms) { (void)self; (void)ms; }
static const AnySlot kIntervalSlots[] = {S(Trap), S(Interval_Set), S(Interval_Set)};
static Object g_intervals = {kIntervalSlots};

static void TC Result_SetCapability(void* self, unsigned id, unsigned value) {
  (void)self; (void)id; (void)value;
}
static void TC Result_SetName(void* self, const char* name) { (void)self; (void)name; }
static Object* TC Result_InfoItem(void* self, unsigned index) { (void)self; (void)index; return &g_item; }
static HostParameter* TC Result_AddParameter(void* self, unsigned index) {
  (void)self;
  if (index >= 64) return NULL;
  g_paramObjects[index].vtbl = kParamSlots;
  g_paramObjects[index].index = index;
  return &g_paramObjects[index];
}
static Object* TC Result_Resolutions(void* self) { (void)self; return &g_resolutions; }
static Object* TC Result_Intervals(void* self, unsigned kind) { (void)self; (void)kind; return &g_intervals; }
static const AnySlot kResultSlots[] = {S(Trap), S(Result_SetCapability), S(Result_SetName),
                                       S(Result_InfoItem), S(Trap), S(Result_AddParameter),
                                       S(Result_Resolutions), S(Trap), S(Result_Intervals)};
static Object g_result = {kResultSlots};

/* ---- The driver's slots, as the host calls them ---- */
typedef void*(TC* DeleteFn)(void*, unsigned);
typedef unsigned char(TC* OpenFn)(void*, Object*, Object*, Object*);
typedef void(TC* VoidFn)(void*);
typedef void*(TC* GetFn)(void*);
typedef void*(TC* GetIndexFn)(void*, unsigned);
typedef unsigned(TC* CountFn)(void*);
typedef unsigned char(TC* StartChannelFn)(void*, unsigned, Object*, Object*);
typedef unsigned char(TC* ChannelFn)(void*, unsigned);
typedef unsigned char(TC* StatusFn)(void*, unsigned, int*, int*, char*, unsigned);
typedef int(TC* PtzFn)(void*);
typedef int(TC* MoveFn)(void*, unsigned, unsigned);
typedef int(TC* CapsFn)(void*, unsigned*);
typedef unsigned char(TC* SetCallbackFn)(void*, Object*);
typedef unsigned char(TC* BoolFn)(void*);
typedef void(TC* SetOutputFn)(void*, unsigned, int);
typedef unsigned(TC* QueryStartFn)(void*, const char*, unsigned short, const char*, const char*,
                                   Object*);
typedef void*(__cdecl* CreateFn)(void);
typedef void*(__cdecl* CreateQueryFn)(Object*, unsigned);

static FARPROC Export(HMODULE dll, const char* name) {
  FARPROC proc = GetProcAddress(dll, name);
  if (proc == NULL) Fail("GetProcAddress found no %s", name);
  return proc;
}

int main(int argc, char** argv) {
  if (argc != 3) Fail("usage: c_host <strevon.dll> <port>");
  setvbuf(stdout, NULL, _IONBF, 0);
  g_port = (unsigned short)atoi(argv[2]);
  HMODULE dll = LoadLibraryA(argv[1]);
  if (dll == NULL) Fail("LoadLibrary(%s) failed: %lu", argv[1], GetLastError());
  CreateFn createEx3 = (CreateFn)(AnySlot)Export(dll, "CreateIPCaptureEx3");
  CreateQueryFn createQuery = (CreateQueryFn)(AnySlot)Export(dll, "CreateCapabilityQueryModule");

  /* Capability query: its parameters become the device's custom parameters. */
  void* query = createQuery(&g_notify, 0);
  if (query == NULL) Fail("CreateCapabilityQueryModule gave null");
  if (SLOT(query, 1, QueryStartFn)(query, "127.0.0.1", g_port, "admin", "admin", &g_result) != 1) {
    Fail("capability query did not start");
  }
  if (!WaitFor(&g_queryDone, 1, 30000)) Fail("capability query did not end");
  if (g_queryDone != 1) Fail("capability query ended with %ld", g_queryDone);
  SLOT(query, 0, DeleteFn)(query, 1); /* delete through slot 0, as a Microsoft host does */
  if (g_params[3] == NULL || strstr(g_params[3], ";cam-1;") == NULL) {
    Fail("the query gave no camera parameter (3: %s)", g_params[3] ? g_params[3] : "none");
  }

  void* driver = createEx3();
  if (driver == NULL) Fail("CreateIPCaptureEx3 gave null");
  if (!SLOT(driver, 1, OpenFn)(driver, &g_sink, &g_allocator, &g_deviceSetup)) Fail("Open failed");
  if (!WaitFor(&g_bannerSeen, 1, 5000)) Fail("the log banner never reached the debug sink");

  /* Video: slot 8 (Ex) and slot 3 give the same object. */
  void* video = SLOT(driver, 8, GetFn)(driver);
  if (video == NULL || video != SLOT(driver, 3, GetFn)(driver)) Fail("video capture slots 3/8");
  if (SLOT(video, 1, CountFn)(video) != 4) Fail("channel count");
  if (!SLOT(video, 2, StartChannelFn)(video, 0, &g_handler, &g_channelSetup)) Fail("StartChannel");
  if (!WaitFor(&g_frames, 5, 30000)) Fail("only %ld frames arrived", g_frames);
  int status = 0, detail = 0;
  char text[128] = "";
  if (!SLOT(video, 6, StatusFn)(video, 0, &status, &detail, text, sizeof text)) Fail("GetChannelStatus");

  /* PTZ: the dome is channel 1. */
  void* ptz = SLOT(driver, 9, GetFn)(driver);
  if (ptz == NULL || ptz != SLOT(driver, 6, GetFn)(driver)) Fail("PTZ driver slots 6/9");
  void* dome = SLOT(ptz, 2, GetIndexFn)(ptz, 1);
  if (dome == NULL) Fail("GetPTZApiEx(1) gave null");
  if (SLOT(dome, 1, PtzFn)(dome) != 1) Fail("PTZ Initialize");
  unsigned caps[14];
  memset(caps, 0, sizeof caps);
  caps[0] = 0xCAFEF00Du;
  SLOT(dome, 13, CapsFn)(dome, caps);
  if (caps[0] != 0xCAFEF00Du || caps[1] != 1 || caps[2] != 1 || caps[3] != 1) {
    Fail("GetCapabilities record: %x %u %u %u", caps[0], caps[1], caps[2], caps[3]);
  }
  if (SLOT(dome, 2, MoveFn)(dome, 0, 16) != 1) Fail("PTZ Move");
  if (SLOT(dome, 3, PtzFn)(dome) != 1) Fail("PTZ StopMotion");

  /* Digital I/O. */
  void* io = SLOT(driver, 4, GetFn)(driver);
  if (io == NULL) Fail("GetCaptureIO gave null");
  if (!SLOT(io, 1, SetCallbackFn)(io, &g_ioCallback)) Fail("SetIOCallback");
  if (!SLOT(io, 2, BoolFn)(io)) Fail("StartIO");
  if (SLOT(io, 4, CountFn)(io) != 2 || SLOT(io, 5, CountFn)(io) != 2) Fail("I/O counts");
  SLOT(io, 6, SetOutputFn)(io, 0, 1);
  if (!WaitFor(&g_inputReports, 1, 10000)) Fail("no input state was reported");

  if (!SLOT(video, 3, ChannelFn)(video, 0)) Fail("StopChannel");
  SLOT(driver, 2, VoidFn)(driver);    /* Close */
  SLOT(driver, 0, DeleteFn)(driver, 1); /* delete */

  if (g_wrongSlots != 0) Fail("the driver called %ld slot(s) it must not call", g_wrongSlots);
  if (g_frameBytesOk != g_frames) Fail("%ld of %ld frames incomplete", g_frames - g_frameBytesOk, g_frames);
  if (!WaitFor(&g_released, g_allocated, 5000)) Fail("%ld frames never released", g_allocated - g_released);
  printf("C HOST PASSED frames=%ld size=%ldx%ld status=%d log_lines=%ld inputs=%ld\n", g_frames,
         g_frameWidth, g_frameHeight, status, g_logLines, g_inputReports);
  return 0;
}
