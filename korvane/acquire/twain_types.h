/// \file
/// The TWAIN 1.x protocol as the application and a source manager see it: the
/// data groups, data argument types, messages, return and condition codes,
/// capabilities and their constants, and the structures passed through the
/// single DSM_Entry entry point. Structures are packed to 2 bytes, so the
/// fixed-size ones have their protocol sizes on every platform. Handles and
/// memory references are plain pointers on Linux: a handle names memory the
/// receiver may read directly (the source manager's allocator when it offers
/// one, malloc otherwise).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "korvane/foundations/host/export.h"

namespace korvane {

using TW_INT8 = int8_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_UINT8 = uint8_t;
using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;
using TW_STR32 = char[34];

/// Data groups.
constexpr TW_UINT32 DG_CONTROL = 0x0001;
constexpr TW_UINT32 DG_IMAGE = 0x0002;

/// Data argument types.
constexpr TW_UINT16 DAT_NULL = 0x0000;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
constexpr TW_UINT16 DAT_EVENT = 0x0002;
constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
constexpr TW_UINT16 DAT_PARENT = 0x0004;
constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
constexpr TW_UINT16 DAT_STATUS = 0x0008;
constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
constexpr TW_UINT16 DAT_CALLBACK = 0x0010;
constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;
constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;

/// Messages.
constexpr TW_UINT16 MSG_NULL = 0x0000;
constexpr TW_UINT16 MSG_GET = 0x0001;
constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
constexpr TW_UINT16 MSG_SET = 0x0006;
constexpr TW_UINT16 MSG_RESET = 0x0007;
constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
constexpr TW_UINT16 MSG_OPENDS = 0x0401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 MSG_REGISTER_CALLBACK = 0x0902;

/// Return codes.
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

/// Condition codes.
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_BADVALUE = 10;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
constexpr TW_UINT16 TWCC_BADDEST = 12;
constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;

/// Container types.
constexpr TW_UINT16 TWON_ARRAY = 3;
constexpr TW_UINT16 TWON_ENUMERATION = 4;
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWON_RANGE = 6;
constexpr TW_UINT16 TWON_DONTCARE16 = 0xFFFF;

/// Item types.
constexpr TW_UINT16 TWTY_INT8 = 0;
constexpr TW_UINT16 TWTY_INT16 = 1;
constexpr TW_UINT16 TWTY_INT32 = 2;
constexpr TW_UINT16 TWTY_UINT8 = 3;
constexpr TW_UINT16 TWTY_UINT16 = 4;
constexpr TW_UINT16 TWTY_UINT32 = 5;
constexpr TW_UINT16 TWTY_BOOL = 6;
constexpr TW_UINT16 TWTY_FIX32 = 7;

/// Capabilities.
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
constexpr TW_UINT16 ICAP_UNITS = 0x0102;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
constexpr TW_UINT16 CAP_INDICATORS = 0x100B;
constexpr TW_UINT16 ICAP_GAMMA = 0x1108;
constexpr TW_UINT16 ICAP_ORIENTATION = 0x1110;
constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
constexpr TW_UINT16 ICAP_PLANARCHUNKY = 0x1120;
constexpr TW_UINT16 ICAP_XSCALING = 0x1124;
constexpr TW_UINT16 ICAP_YSCALING = 0x1125;
constexpr TW_UINT16 ICAP_BITDEPTH = 0x112B;

/// Capability values.
constexpr TW_UINT16 TWPT_BW = 0;
constexpr TW_UINT16 TWPT_GRAY = 1;
constexpr TW_UINT16 TWPT_RGB = 2;
constexpr TW_UINT16 TWSX_NATIVE = 0;
constexpr TW_UINT16 TWSX_MEMORY = 2;
constexpr TW_UINT16 TWCP_NONE = 0;
constexpr TW_UINT16 TWCP_PACKBITS = 1;
constexpr TW_UINT16 TWPC_CHUNKY = 0;
constexpr TW_UINT16 TWUN_INCHES = 0;

/// Memory flags.
constexpr TW_UINT32 TWMF_APPOWNS = 0x0001;
constexpr TW_UINT32 TWMF_DSMOWNS = 0x0002;
constexpr TW_UINT32 TWMF_DSOWNS = 0x0004;
constexpr TW_UINT32 TWMF_POINTER = 0x0008;
constexpr TW_UINT32 TWMF_HANDLE = 0x0010;

/// Supported groups of an identity; language and country of the application.
constexpr TW_UINT32 DF_DSM2 = 0x10000000;
constexpr TW_UINT32 DF_APP2 = 0x20000000;
constexpr TW_UINT32 DF_DS2 = 0x40000000;
constexpr TW_UINT16 TWLG_USA = 13;
constexpr TW_UINT16 TWCY_USA = 1;

/// Values a transfer reports as "don't care".
constexpr TW_UINT16 TWON_DONTCARE16_VALUE = 0xFFFF;
constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFF;

#pragma pack(push, 2)

/// A fixed-point number: Whole + Frac / 65536.
struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};

struct TW_FRAME {
  TW_FIX32 Left;
  TW_FIX32 Top;
  TW_FIX32 Right;
  TW_FIX32 Bottom;
};

struct TW_VERSION {
  TW_UINT16 MajorNum;
  TW_UINT16 MinorNum;
  TW_UINT16 Language;
  TW_UINT16 Country;
  TW_STR32 Info;
};

/// Who a DSM_Entry call comes from and goes to.
struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor;
  TW_UINT16 ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer;
  TW_STR32 ProductFamily;
  TW_STR32 ProductName;
};

struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};

/// Container headers; the items follow the header in the same block.
struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};
struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT32 CurrentIndex;
  TW_UINT32 DefaultIndex;
};
struct TW_ARRAY {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
};
struct TW_RANGE {
  TW_UINT16 ItemType;
  TW_UINT32 MinValue;
  TW_UINT32 MaxValue;
  TW_UINT32 StepSize;
  TW_UINT32 DefaultValue;
  TW_UINT32 CurrentValue;
};

struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 EOJ;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth;
  TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  TW_UINT32 DocumentNumber;
  TW_UINT32 PageNumber;
  TW_UINT32 FrameNumber;
};

struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize;
  TW_UINT32 MaxBufSize;
  TW_UINT32 Preferred;
};

struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow;
  TW_UINT32 Columns;
  TW_UINT32 Rows;
  TW_UINT32 XOffset;
  TW_UINT32 YOffset;
  TW_UINT32 BytesWritten;
  TW_MEMORY Memory;
};

/// The single entry point of a source manager, and of the callback an
/// application registers with a source.
using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData);
using TWAINCALLBACKPROC = DSMENTRYPROC;

struct TW_CALLBACK {
  TW_MEMREF CallBackProc;
  TW_UINT32 RefCon;
  TW_INT16 Message;
};

/// The source manager's memory functions (DAT_ENTRYPOINT).
using DSM_MEMALLOCATE = TW_HANDLE (*)(TW_UINT32 size);
using DSM_MEMFREE = void (*)(TW_HANDLE h);
using DSM_MEMLOCK = TW_MEMREF (*)(TW_HANDLE h);
using DSM_MEMUNLOCK = void (*)(TW_HANDLE h);
struct TW_ENTRYPOINT {
  TW_UINT32 Size;
  DSMENTRYPROC DSM_Entry;
  DSM_MEMALLOCATE DSM_MemAllocate;
  DSM_MEMFREE DSM_MemFree;
  DSM_MEMLOCK DSM_MemLock;
  DSM_MEMUNLOCK DSM_MemUnlock;
};

#pragma pack(pop)

static_assert(sizeof(TW_FIX32) == 4);
static_assert(sizeof(TW_FRAME) == 16);
static_assert(sizeof(TW_VERSION) == 42);
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, ProductName) == 122);
static_assert(sizeof(TW_ONEVALUE) == 6);
static_assert(sizeof(TW_ENUMERATION) == 14);
static_assert(sizeof(TW_ARRAY) == 6);
static_assert(sizeof(TW_RANGE) == 22);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(sizeof(TW_IMAGELAYOUT) == 28);
static_assert(sizeof(TW_SETUPMEMXFER) == 12);
static_assert(sizeof(TW_IMAGEMEMXFER) == 26 + sizeof(TW_MEMORY));

/// TW_FIX32 from a double: v = trunc(x * 65536 + 0.5), Whole the high 16 bits
/// of v, Frac the low ones; values outside the 16.16 range saturate.
KORVANE_EXPORT TW_FIX32 FloatToFix32(double x);
KORVANE_EXPORT double Fix32ToFloat(TW_FIX32 f);
/// The 32 bits of a TW_FIX32 as a container item holds them (Whole in the low
/// half, as the structure lies in memory), and back.
KORVANE_EXPORT TW_UINT32 Fix32Bits(TW_FIX32 f);
KORVANE_EXPORT TW_FIX32 Fix32FromBits(TW_UINT32 bits);

/// The text of a 34-byte identity string (up to its first zero byte, at most
/// 33 characters), and storing text into one (cut to 33, zero-filled).
KORVANE_EXPORT std::string TWStr(const TW_STR32& s);
KORVANE_EXPORT void SetTWStr(TW_STR32& s, const char* text);

}  // namespace korvane
