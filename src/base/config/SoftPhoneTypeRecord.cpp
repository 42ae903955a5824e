#include "base/config/SoftPhoneTypeRecord.h"

uint8_t SoftPhoneTypeRecord::Crc8(const uint8_t* data, size_t length) {
    uint8_t crc = 0xFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? (uint8_t)((crc >> 1) ^ 0x8C) : (uint8_t)(crc >> 1);
        }
    }
    return crc;
}

bool SoftPhoneTypeRecord::IsValid() const {
    return Crc8(bytes, sizeof bytes) == 0;
}

uint32_t SoftPhoneTypeRecord::SelectionWord() const {
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

int SoftPhoneTypeRecord::SelectedIndex() const {
    if (!IsValid()) {
        return kNone;
    }
    const uint32_t word = SelectionWord();
    for (int k = 0; k <= 10; ++k) {
        const uint32_t pair = 3u << (30 - 2 * k);
        if ((word & pair) == pair) {
            return k;
        }
    }
    return kNone;
}

SoftPhoneTypeRecord SoftPhoneTypeRecord::Make(uint32_t word, int index) {
    SoftPhoneTypeRecord record;
    word &= 0x55555555;
    if (index >= 0 && index <= 10) {
        word |= 3u << (30 - 2 * index);
    }
    for (int i = 0; i < 4; ++i) {
        record.bytes[i] = (uint8_t)(word >> (8 * i));
    }
    record.bytes[4] = Crc8(record.bytes, 4);
    return record;
}

SoftPhoneTypeRecord SoftPhoneTypeRecord::Selecting(int index) const {
    return Make(IsValid() ? SelectionWord() : 0, index);
}
