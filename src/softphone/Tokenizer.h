// CTokenizer: splits the softphones' texts into tokens. Runs of delimiters count as one,
// so there are no empty tokens; an empty token means the text is used up.
#pragma once

#include <string>
#include <vector>

// The tokens of a text, numbered from 0. An index outside the list is traced and gives an
// empty text.
class VString {
public:
    VString() = default;
    explicit VString(std::vector<std::string> items) : m_items(std::move(items)) {}
    const std::string& operator[](int index) const;
    int Size() const { return (int)m_items.size(); }

private:
    std::vector<std::string> m_items;
    static const std::string s_empty;
};

class CTokenizer {
public:
    void SetText(const std::string& text);
    void SetDelimiters(const std::string& delimiters) { m_delimiters = delimiters; }
    void ToLower();
    std::string NextToken();
    void SkipTokens(int count);
    // The number of tokens from the start; the position is left at the start.
    int CountTokens();
    VString AllTokens() const;
    std::string Joined() const; // all tokens, one blank between each two
    // The text after the first `count` tokens, as it stands (blanks and commas inside kept),
    // without the delimiters before and after it; empty when nothing follows them.
    std::string RestAfter(int count) const;
    const std::string& Text() const { return m_text; }

private:
    bool IsDelimiter(char c) const { return m_delimiters.find(c) != std::string::npos; }

    std::string m_text;
    size_t m_position = 0;
    std::string m_delimiters = " ,";
};
