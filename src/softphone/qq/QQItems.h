// The data of QQ's window-message API, as both ends use them. Every WM_COPYDATA carries an
// event code as its data identifier and, as its data, tag-length-value items back to back:
//
//   QQItem   tag (1 byte), length (32-bit little-endian), then `length` bytes of value
//
// Events to QQ, with their items:
//   10  set audio device   tag 5 the device's name with its NUL, tag 6 its 32-bit id;
//                          or tag 6 = 0 alone: QQ's own default devices
//   12  call control       tag 7, one byte: 145 answer, 146 end
//   13  call a number      tag 1 the digits without a NUL (tag 3 for fewer than 3 digits)
//   19  call status        tag 8 a QQ call status (1 byte), tag 9 the 32-bit call id
// Events from QQ: 17 status change, 18 shutdown, 20 error, and 19 call status: tag 8 (the
// status byte), then the call handle (numeric) and, for some statuses, texts naming the
// caller.
//
// A reader takes at most 23 bytes of a value: a number is its first 4 bytes, a text ends
// at its NUL. It never reads past the data it is given; an item that does not fit is
// reported and ends the reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qq {

#pragma pack(push, 1)
struct QQItem {
    uint8_t Tag;
    uint32_t Length; // the value's bytes follow
};
#pragma pack(pop)
static_assert(sizeof(QQItem) == 5);

constexpr size_t kItemHeaderSize = sizeof(QQItem);
constexpr size_t kMaxValueRead = 23;

enum QQEvent : uint32_t {
    EVENT_QQAPI_SET_AUDIO_DEVICE = 10,
    EVENT_QQAPI_CALL_CONTROL = 12,
    EVENT_QQAPI_CALL_NUMBER = 13,
    EVENT_QQAPI_STATUS_CHANGE = 17,
    EVENT_QQAPI_SHUTDOWN = 18,
    EVENT_QQAPI_CALL_STATUS = 19,
    EVENT_QQAPI_ERROR = 20,
};

enum QQTag : uint8_t {
    QQ_TAG_NUMBER = 1,
    QQ_TAG_SHORT_NUMBER = 3, // fewer than 3 digits
    QQ_TAG_DEVICE_NAME = 5,
    QQ_TAG_DEVICE_ID = 6,
    QQ_TAG_CALL_ACTION = 7,
    QQ_TAG_CALL_STATUS = 8,
    QQ_TAG_CALL_ID = 9,
};

enum QQCallAction : uint8_t {
    QQ_CALL_ANSWER = 145,
    QQ_CALL_END = 146,
};

enum QQCallStatus : int {
    QQ_CALL_STATUS_CONNECTING = 1,
    QQ_CALL_STATUS_RINGING = 2,
    QQ_CALL_STATUS_BUSY = 3,
    QQ_CALL_STATUS_ACCEPT = 4,
    QQ_CALL_STATUS_REJECT = 5,
    QQ_CALL_STATUS_FINISH = 6,
    QQ_CALL_STATUS_FAIL = 7,
    QQ_CALL_STATUS_HOLD = 8,
    QQ_CALL_STATUS_RESUME = 9,
    QQ_CALL_STATUS_MUTE = 10,
};

// Appends one item.
void AppendItem(std::vector<uint8_t>* data, uint8_t tag, const void* value, uint32_t length);
void AppendByteItem(std::vector<uint8_t>* data, uint8_t tag, uint8_t value);
void AppendNumberItem(std::vector<uint8_t>* data, uint8_t tag, uint32_t value);
// The text's bytes, with its NUL when `withNul`.
void AppendTextItem(std::vector<uint8_t>* data, uint8_t tag, const std::string& text, bool withNul);

// One item as read: its tag, the length it claims and at most 23 bytes of its value.
struct ReadItem {
    uint8_t tag = 0;
    uint32_t length = 0; // as the item says
    size_t taken = 0;    // bytes of value read: at most 23, never past the data
    uint8_t value[kMaxValueRead + 1] = {};
    bool overruns = false; // its length runs past the data

    // The first 4 bytes of the value (bytes it lacks count as 0).
    uint32_t Number() const;
    // The first byte of the value, or 0 when it has none.
    uint8_t Byte() const;
    // The value up to its NUL; all the bytes taken when there is none (`*terminated` false).
    std::string Text(bool* terminated = nullptr) const;
};

// Reads items one after the other from data that stay the caller's.
class CQQItemReader {
public:
    CQQItemReader(const void* data, size_t size);

    // True with the next item. False at the end of the data, or with *fault set when the
    // bytes left are no whole item: a header cut short gives no item; a value that runs
    // past the data gives the item (its bytes that are there) with `overruns` set, and
    // the reading ends after it.
    bool Next(ReadItem* item, std::string* fault);
    // Whether bytes remain that were not read.
    bool AtEnd() const { return m_nAt >= m_nSize; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
};

} // namespace qq
