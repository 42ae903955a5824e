#include "softphone/qq/QQItems.h"

#include <cstring>

namespace qq {

void AppendItem(std::vector<uint8_t>* data, uint8_t tag, const void* value, uint32_t length) {
    QQItem header = {tag, length};
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&header);
    data->insert(data->end(), bytes, bytes + sizeof header);
    if (length) {
        const uint8_t* from = static_cast<const uint8_t*>(value);
        data->insert(data->end(), from, from + length);
    }
}

void AppendByteItem(std::vector<uint8_t>* data, uint8_t tag, uint8_t value) {
    AppendItem(data, tag, &value, 1);
}

void AppendNumberItem(std::vector<uint8_t>* data, uint8_t tag, uint32_t value) {
    AppendItem(data, tag, &value, 4);
}

void AppendTextItem(std::vector<uint8_t>* data, uint8_t tag, const std::string& text, bool withNul) {
    AppendItem(data, tag, text.c_str(), (uint32_t)text.size() + (withNul ? 1 : 0));
}

uint32_t ReadItem::Number() const {
    uint8_t bytes[4] = {};
    memcpy(bytes, value, taken < 4 ? taken : 4);
    uint32_t number;
    memcpy(&number, bytes, 4);
    return number;
}

uint8_t ReadItem::Byte() const {
    return taken ? value[0] : 0;
}

std::string ReadItem::Text(bool* terminated) const {
    const size_t length = strnlen(reinterpret_cast<const char*>(value), taken);
    if (terminated) {
        *terminated = length < taken;
    }
    return std::string(reinterpret_cast<const char*>(value), length);
}

CQQItemReader::CQQItemReader(const void* data, size_t size)
    : m_pData(static_cast<const uint8_t*>(data)), m_nSize(data ? size : 0) {}

bool CQQItemReader::Next(ReadItem* item, std::string* fault) {
    *item = ReadItem();
    fault->clear();
    if (m_nAt >= m_nSize) {
        return false;
    }
    const size_t left = m_nSize - m_nAt;
    if (left < kItemHeaderSize) {
        *fault = "an item header cut short (" + std::to_string(left) + " of 5 bytes)";
        m_nAt = m_nSize;
        return false;
    }
    QQItem header;
    memcpy(&header, m_pData + m_nAt, sizeof header);
    m_nAt += sizeof header;
    item->tag = header.Tag;
    item->length = header.Length;
    const size_t there = m_nSize - m_nAt;
    item->overruns = header.Length > there;
    const size_t present = item->overruns ? there : header.Length;
    item->taken = present < kMaxValueRead ? present : kMaxValueRead;
    memcpy(item->value, m_pData + m_nAt, item->taken);
    if (item->overruns) {
        *fault = "item of tag " + std::to_string(header.Tag) + " claims " + std::to_string(header.Length) +
                 " bytes, " + std::to_string(there) + " are there";
        m_nAt = m_nSize;
    } else {
        m_nAt += present;
    }
    return true;
}

} // namespace qq
