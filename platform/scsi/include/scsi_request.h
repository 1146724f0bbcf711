// The request block of the SCSI driver module OXD_SCSI.DLL and its entry point
// MDriverEntryPoint. One 128-byte block is allocated zero-filled by the caller and reused for
// every call. Pointer fields keep their order; in a 32-bit build every field sits at its
// 32-bit offset (asserted below), in a 64-bit build pointers take 8 bytes and the block is
// still 128 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvax::scsi {

struct SCSIRequestBlock;

// Completion callback of an Execute call: called once with the request block when the
// command completes.
using CompletionCallback = void (*)(SCSIRequestBlock* block);

// Function codes of MDriverEntryPoint.
enum FunctionCode : uint32_t {
  kOpen = 1,
  kClose = 2,
  kExecute = 3,
  kDeviceRecord = 5,
  kAbort = 6,
};

// Data directions.
enum Direction : int32_t { kNoData = 0, kToDevice = 1, kFromDevice = 2 };

// Statuses returned by MDriverEntryPoint (low 16 bits; 0 is success). For Execute, a
// device's own status byte comes back as it is (2 = CHECK CONDITION, sense in the sense
// buffer); the values from 0x100 up are the module's own.
enum Status : uint32_t {
  kStatusGood = 0,
  kStatusCheckCondition = 2,
  kStatusNoDevice = 2,  // for kDeviceRecord
  kStatusBusy = 8,
  kStatusBadRequest = 0x100,  // malformed block: null pointers, lengths out of range
  kStatusNotOpen = 0x101,
  kStatusBadDevice = 0x102,
  kStatusAborted = 0x103,
  kStatusTransportError = 0x104,
};

constexpr uint16_t kDriverReady = 2;  // driver state after a successful open
constexpr size_t kCdbCapacity = 10;
constexpr size_t kSenseCapacity = 20;
constexpr size_t kDeviceRecordSize = 64;

struct SCSIRequestFields {
  char signature[4];           // "0000" before the open call
  uint16_t driverState;        // after the open call; 2 means ready
  uint16_t driverInfo[3];      // further values from the open call, kept but not used
  uint32_t reserved12;
  int32_t openResult;          // returned by the open call
  int32_t deviceNumber;        // enumeration index + 1
  int32_t direction;           // Direction
  uint8_t* cdb;                // command descriptor block buffer
  int32_t cdbLength;           // 6 or 10
  uint8_t* data;               // data buffer or null
  int32_t dataLength;
  uint8_t* sense;              // sense buffer
  int32_t senseLength;         // 20
  CompletionCallback callback; // or null for a call that completes before it returns
  void* callbackArg;
  // Final status of an Execute that completes through the callback (this module's own use
  // of a field the block leaves free).
  uint32_t completionStatus;
  int32_t recordLength;        // length returned by a device-record call
  uint8_t* workBuffer;         // 64-byte buffer for device records
};

struct SCSIRequestBlock : SCSIRequestFields {
  uint8_t unused[128 - sizeof(SCSIRequestFields)];
};

static_assert(sizeof(SCSIRequestBlock) == 128);
static_assert(offsetof(SCSIRequestFields, driverState) == 4);
static_assert(offsetof(SCSIRequestFields, openResult) == 16);
static_assert(offsetof(SCSIRequestFields, deviceNumber) == 20);
static_assert(offsetof(SCSIRequestFields, direction) == 24);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(SCSIRequestFields, cdb) == 28);
static_assert(offsetof(SCSIRequestFields, cdbLength) == 32);
static_assert(offsetof(SCSIRequestFields, data) == 36);
static_assert(offsetof(SCSIRequestFields, dataLength) == 40);
static_assert(offsetof(SCSIRequestFields, sense) == 44);
static_assert(offsetof(SCSIRequestFields, senseLength) == 48);
static_assert(offsetof(SCSIRequestFields, callback) == 52);
static_assert(offsetof(SCSIRequestFields, callbackArg) == 56);
static_assert(offsetof(SCSIRequestFields, recordLength) == 64);
static_assert(offsetof(SCSIRequestFields, workBuffer) == 68);
#endif

// The module's export, looked up by this name.
inline constexpr const char kEntryPointName[] = "MDriverEntryPoint";
using EntryPoint = uint32_t (*)(uint32_t function, SCSIRequestBlock* block);

// Environment: the simulated bus's configuration file, and the file every request is
// appended to.
inline constexpr const char kBusEnv[] = "ORVAX_SCSI_BUS";
inline constexpr const char kLogEnv[] = "ORVAX_SCSI_LOG";

}  // namespace orvax::scsi
