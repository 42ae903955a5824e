#include "settings/WavList.h"

namespace {

void AddColumn(HWND list, int index, const std::string& title, int width, int format) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char*>(title.c_str());
    ListView_InsertColumn(list, index, &column);
}

} // namespace

void CWavList::Attach(HWND list, bool withName, std::string (*texts)(const std::string&)) {
    m_hList = list;
    m_bWithName = withName;
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    // The columns share the list's width: date, time and length, and the name where asked.
    RECT client = {};
    GetClientRect(list, &client);
    const int width = client.right - GetSystemMetrics(SM_CXVSCROLL) - 4;
    const int parts = withName ? 20 : 10;
    AddColumn(list, 0, texts("Date"), width * (withName ? 5 : 4) / parts, LVCFMT_LEFT);
    AddColumn(list, 1, texts("Time"), width * (withName ? 4 : 3) / parts, LVCFMT_LEFT);
    AddColumn(list, 2, texts("Length"), width * (withName ? 3 : 3) / parts, LVCFMT_RIGHT);
    if (withName) {
        AddColumn(list, 3, texts("File"), width * 8 / parts, LVCFMT_LEFT);
    }
}

void CWavList::Fill(std::vector<WavFileInfo> files) {
    const WavFileInfo* selected = Selected();
    const std::string keep = selected ? selected->path : std::string();
    m_Files = std::move(files);
    ListView_SetItemCountEx(m_hList, (int)m_Files.size(), LVSICF_NOSCROLL);
    int select = m_Files.empty() ? -1 : 0;
    for (size_t i = 0; i < m_Files.size() && !keep.empty(); ++i) {
        if (m_Files[i].path == keep) {
            select = (int)i;
            break;
        }
    }
    ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (select >= 0) {
        ListView_SetItemState(m_hList, select, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(m_hList, select, FALSE);
    }
    InvalidateRect(m_hList, nullptr, TRUE);
}

bool CWavList::OnNotify(NMHDR* header) {
    if (header->hwndFrom != m_hList || header->code != LVN_GETDISPINFOA) {
        return false;
    }
    LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
    if (!(item.mask & LVIF_TEXT) || item.iItem < 0 || (size_t)item.iItem >= m_Files.size()) {
        return true;
    }
    WavFileInfo& file = m_Files[(size_t)item.iItem];
    switch (item.iSubItem) {
    case 0:
        m_Text = FormatDate(file.written);
        break;
    case 1:
        m_Text = FormatTime(file.written);
        break;
    case 2:
        if (file.lengthMs == kLengthNotRead) {
            file.lengthMs = WavLengthMs(file.path, file.size);
        }
        m_Text = FormatLength(file.lengthMs);
        break;
    default:
        m_Text = file.name;
        break;
    }
    lstrcpynA(item.pszText, m_Text.c_str(), item.cchTextMax);
    return true;
}

const WavFileInfo* CWavList::Selected() const {
    if (!m_hList) {
        return nullptr;
    }
    const int index = ListView_GetNextItem(m_hList, -1, LVNI_SELECTED);
    return index >= 0 && (size_t)index < m_Files.size() ? &m_Files[(size_t)index] : nullptr;
}
