#include "softphone/Tokenizer.h"

#include "base/trace/Trace.h"

#include <cctype>

const std::string VString::s_empty;

const std::string& VString::operator[](int index) const {
    if (index < 0 || index >= (int)m_items.size()) {
        TRACE("VString: WARNING: Out of range index (Index=%d, Size=%d)", index, (int)m_items.size());
        return s_empty;
    }
    return m_items[(size_t)index];
}

void CTokenizer::SetText(const std::string& text) {
    m_text = text;
    m_position = 0;
}

void CTokenizer::ToLower() {
    for (char& c : m_text) {
        c = (char)tolower((unsigned char)c);
    }
}

std::string CTokenizer::NextToken() {
    while (m_position < m_text.size() && IsDelimiter(m_text[m_position])) {
        ++m_position;
    }
    const size_t start = m_position;
    while (m_position < m_text.size() && !IsDelimiter(m_text[m_position])) {
        ++m_position;
    }
    std::string token = m_text.substr(start, m_position - start);
    if (m_position < m_text.size()) {
        ++m_position; // the one delimiter after the token
    }
    return token;
}

void CTokenizer::SkipTokens(int count) {
    for (int i = 0; i < count && !NextToken().empty(); ++i) {
    }
}

int CTokenizer::CountTokens() {
    m_position = 0;
    int count = 0;
    while (!NextToken().empty()) {
        ++count;
    }
    m_position = 0;
    return count;
}

VString CTokenizer::AllTokens() const {
    CTokenizer copy = *this;
    copy.m_position = 0;
    std::vector<std::string> items;
    for (std::string token = copy.NextToken(); !token.empty(); token = copy.NextToken()) {
        items.push_back(std::move(token));
    }
    return VString(std::move(items));
}

std::string CTokenizer::Joined() const {
    VString tokens = AllTokens();
    std::string joined;
    for (int i = 0; i < tokens.Size(); ++i) {
        if (i) {
            joined += ' ';
        }
        joined += tokens[i];
    }
    return joined;
}

std::string CTokenizer::RestAfter(int count) const {
    CTokenizer copy = *this;
    copy.m_position = 0;
    copy.SkipTokens(count);
    size_t begin = copy.m_position;
    size_t end = m_text.size();
    while (begin < end && IsDelimiter(m_text[begin])) {
        ++begin;
    }
    while (end > begin && IsDelimiter(m_text[end - 1])) {
        --end;
    }
    return m_text.substr(begin, end - begin);
}
