// Pages whose next page may not be touched: bytes placed at their very end are followed by
// memory that faults on any access, so code that reads or writes one byte past them ends
// the process instead of passing unseen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

class GuardedPage {
public:
    // At least `capacity` bytes (one page when 0) before the no-access page.
    explicit GuardedPage(size_t capacity = 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        m_size = capacity <= page ? page : (capacity + page - 1) / page * page;
        m_base = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, m_size + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        m_guarded = m_base && VirtualProtect(m_base + m_size, page, PAGE_NOACCESS, &old);
        MEMORY_BASIC_INFORMATION region = {};
        m_guarded = m_guarded && VirtualQuery(m_base + m_size, &region, sizeof region) == sizeof region &&
                    region.Protect == PAGE_NOACCESS;
    }
    ~GuardedPage() {
        if (m_base) {
            VirtualFree(m_base, 0, MEM_RELEASE);
        }
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    // True when the page exists and the one after it faults.
    bool Valid() const { return m_guarded; }
    size_t Capacity() const { return m_size; }

    // `count` bytes ending exactly where the no-access page begins, filled with `fill`;
    // null when they do not fit.
    uint8_t* Tail(size_t count, uint8_t fill) {
        if (count > m_size) {
            return nullptr;
        }
        uint8_t* at = m_base + m_size - count;
        memset(at, fill, count);
        return at;
    }
    // A copy of `bytes` ending exactly where the no-access page begins; null when they do
    // not fit.
    uint8_t* Place(const void* bytes, size_t count) {
        if (count > m_size) {
            return nullptr;
        }
        uint8_t* at = m_base + m_size - count;
        memcpy(at, bytes, count);
        return at;
    }

private:
    uint8_t* m_base = nullptr;
    size_t m_size = 0;
    bool m_guarded = false;
};
