// The records of EyeBeam's window-message API, as both ends use them. Each WM_COPYDATA
// carries one record shaped like the adapter's IMM message: a 32-bit little-endian message
// type at offset 0, a code (EyeBeam calls it the event) at 4 and an information value at 8.
//
//   agent -> EyeBeam   620 bytes, data identifier 0; the bytes after Info are zero
//   EyeBeam -> agent   whatever EyeBeam sends: the agent reads the type and the event, so a
//                      record needs 8 bytes, and nothing past its length is ever read
//
// What the agent sends:
//   type 0 (call event), code = the agent's call status, info 0      a call status
//   type 1 (hardware event), code 1 (DTMF key), info = the key      one handset key
//   type 1, code 13 (keypad event), info 16 / 17                     dial / hang up
// What EyeBeam sends: type 0 with a call status (0..13) as the event; event 900 when its
// ringing stops (100 names its off-hook event).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace eyebeam {

constexpr size_t kRecordSize = 620;
constexpr size_t kRecordTypeOffset = 0;
constexpr size_t kRecordCodeOffset = 4;
constexpr size_t kRecordInfoOffset = 8;
// The type and the event: a shorter record is not read at all.
constexpr size_t kRecordReadableSize = 8;

constexpr int32_t kKeypadDial = 16;
constexpr int32_t kKeypadHangUp = 17;
constexpr int32_t kEventOffHook = 100;
constexpr int32_t kEventRingingOff = 900;

// A record to send: type, code and info in place, every other byte zero.
inline void MakeRecord(uint8_t (&record)[kRecordSize], int32_t type, int32_t code, int32_t info) {
    memset(record, 0, sizeof record);
    memcpy(record + kRecordTypeOffset, &type, 4);
    memcpy(record + kRecordCodeOffset, &code, 4);
    memcpy(record + kRecordInfoOffset, &info, 4);
}

// The 32-bit field at `offset` of a received record of `size` bytes: false when the record
// ends before the field does.
inline bool ReadField(const void* record, size_t size, size_t offset, int32_t* value) {
    if (!record || size < offset + 4) {
        return false;
    }
    memcpy(value, static_cast<const uint8_t*>(record) + offset, 4);
    return true;
}

} // namespace eyebeam
