// The softphone selection record, the registry value Config\General SoftPhoneType: one
// definition for every program of the product. The agent's start-up decodes it to choose
// its API client; the settings program writes the user's choice (setup writes the same
// bytes from its own script).
//
//   bytes 0-3  selection word, little-endian: bit pair k (bits 31-2k and 30-2k) belongs to
//              softphone k = 0..10; the high bit marks it selected, the low bit available
//   byte  4    check byte: CRC-8 over bytes 0-3 (Dallas/Maxim 1-Wire, reflected 0x8C,
//              initial 0xFF, no final XOR)
//   bytes 5-7  zero
// The record is valid when the CRC-8 over all eight bytes is 0; it selects the first k
// whose pair has both bits set (11, none, when no pair has).
//
// Threads: plain data; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct SoftPhoneTypeRecord {
    uint8_t bytes[8] = {};

    static constexpr int kNone = 11;
    static uint8_t Crc8(const uint8_t* data, size_t length);
    bool IsValid() const;
    // The first k whose pair has both bits set, 11 when none (or when the record is invalid).
    int SelectedIndex() const;
    uint32_t SelectionWord() const;
    // A record that selects `index` from `word`: every other selection cleared (the
    // availability bits kept), the check byte recomputed. An index outside 0..10 selects
    // nothing.
    static SoftPhoneTypeRecord Make(uint32_t word, int index);
    // This record choosing `index` instead; an invalid record's word counts as 0.
    SoftPhoneTypeRecord Selecting(int index) const;
};
