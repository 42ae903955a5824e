// The translation file and its cabinet fuzzed. The file's text (lines of an English text,
// "=" and a translation; long, empty, broken and binary lines, every kind of line end) is
// read ending where a no-access page begins and checked against a model of the documented
// rules, and so is its first line. A translator loads such files and answers for every text
// into buffers of every size that end at a no-access page. Cabinets the tests already make
// are cut short, have bits flipped and fields set to absurd values (sizes, counts, offsets,
// compression, names), and are unpacked directly and by a translator: whatever the damage,
// a clean error and no part of a member left behind, or a member within its size limit.
#include "base/translate/CabinetExtract.h"
#include "base/translate/TranslationText.h"
#include "base/translate/Translator.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- The documented reading of a translation file's text

struct ModelPair {
    std::string key, value;
    bool translated;
};

struct ModelText {
    std::vector<ModelPair> pairs;
    std::vector<int> refusedLines;
};

ModelText ModelParse(const std::string& text) {
    ModelText model;
    int number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        const std::string line = text.substr(pos, end - pos);
        ++number;
        // "\r\n" ends one line; a lone "\r" or "\n" ends one too.
        pos = end + (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n'
                         ? 2
                         : 1);
        if (line.empty()) {
            continue;
        }
        const size_t equals = line.find('=');
        if (line.find('\0') != std::string::npos || equals == std::string::npos || equals == 0 ||
            equals > 511 || line.size() - equals - 1 > 511) {
            model.refusedLines.push_back(number);
            continue;
        }
        const std::string value = line.substr(equals + 1);
        const bool translated = !value.empty() && value[0] != ';';
        model.pairs.push_back(
            {line.substr(0, equals), translated ? value : line.substr(0, equals), translated});
    }
    return model;
}

std::string RandomTranslationText(FuzzRandom& r, bool firstLine) {
    static const char* const kEnds[] = {"\r\n", "\r\n", "\n", "\r", "\r\r\n", "\n\r", ""};
    static const char* const kKeys[] = {
        "E&xit",           "Close",      "CLOSE",     "close",        "Quit",
        "About",           "&Configure", "Connected", "Disconnected", "Device Not Present",
        "Skype connected", "Version",    "Copyright", "Unknown text"};
    std::string text = firstLine ? "English1252=German1252" + std::string(r.Pick(kEnds)) : "";
    const uint32_t lines = r.Range(0, 25);
    for (uint32_t i = 0; i < lines; ++i) {
        std::string key = r.Percent(80) ? r.Pick(kKeys) : "";
        std::string value;
        switch (r.Below(12)) {
        case 0:
            value = ";";
            break;
        case 1:
            value = "; no translation";
            break;
        case 2:
            value = "";
            break;
        case 3:
            value = std::string(r.Range(505, 515), 'v'); // around the limit
            break;
        case 4:
            key = std::string(r.Range(505, 515), 'k');
            value = "long key";
            break;
        case 5: { // bytes of every kind, a zero among them now and then
            const std::vector<uint8_t> bytes = r.Bytes(r.Range(1, 40));
            value.assign(bytes.begin(), bytes.end());
            break;
        }
        case 6:
            value = "a=b=c";
            break;
        default:
            value = "Wert " + std::to_string(r.Below(100)) + (r.Percent(30) ? " \xE4\xF6\xFC" : "");
            break;
        }
        std::string line = r.Percent(95) ? key + "=" + value : key + value; // no "=" now and then
        if (r.Percent(3)) {
            line = std::string(r.Range(1, 3000), 'x');
        }
        text += line + r.Pick(kEnds);
    }
    if (r.Percent(5)) {
        text = std::string(r.Range(0, 3), '\n') + text;
    }
    return text;
}

TEST(TranslationFuzz, TranslationText) {
    FuzzRandom r = FuzzStream("translation text");
    FuzzBudget budget(20000);
    GuardedPage page(64 * 1024);
    ASSERT_TRUE(page.Valid());
    size_t pairs = 0, refused = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const std::string text = RandomTranslationText(r, r.Percent(50));
        SCOPED_TRACE("text " + HexDump(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 96) +
                     " of seed " + std::to_string(FuzzSeed()));
        FuzzSetCurrentCase("translation text " +
                           HexDump(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 96));
        const char* at = reinterpret_cast<const char*>(page.Place(text.data(), text.size()));
        ASSERT_NE(at, nullptr);
        const orvin::TranslationPairs got = orvin::ParseTranslationText(at, text.size());
        const ModelText expected = ModelParse(text);
        ASSERT_EQ(got.keys.size(), expected.pairs.size()) << "pairs read";
        ASSERT_EQ(got.values.size(), got.keys.size());
        ASSERT_EQ(got.translated.size(), got.keys.size());
        for (size_t i = 0; i < got.keys.size(); ++i) {
            EXPECT_EQ(got.keys[i], expected.pairs[i].key) << "pair " << i;
            EXPECT_EQ(got.values[i], expected.pairs[i].value) << "pair " << i;
            EXPECT_EQ((bool)got.translated[i], expected.pairs[i].translated) << "pair " << i;
        }
        std::vector<int> lines;
        for (const auto& line : got.refused) {
            lines.push_back(line.line);
        }
        EXPECT_EQ(lines, expected.refusedLines) << "the lines refused";
        pairs += got.keys.size();
        refused += lines.size();

        // The first line of the same bytes: up to its end, when it has at most 63 characters.
        std::string first;
        const bool found = orvin::FirstLineOf(at, text.size(), first);
        const size_t end = text.find_first_of("\r\n");
        const std::string line = text.substr(0, end);
        EXPECT_EQ(found, line.size() <= orvin::kFirstLineLimit) << "the first line";
        EXPECT_EQ(first, found ? line : "");
    }
    FuzzReport("translation text", budget.Done(), budget.Seconds(),
               std::to_string(pairs) + " pairs read, " + std::to_string(refused) + " lines refused");
}

// ---- A translator on folders of the test's own

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    return names;
}

class Folder {
public:
    explicit Folder(const std::string& tag)
        : path(TempPath("orvin-trfuzz-" + tag + "-" + std::to_string(GetCurrentProcessId()))) {
        Empty();
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~Folder() {
        Empty();
        RemoveDirectoryA(path.c_str());
    }
    void Empty() {
        for (const std::string& name : FilesIn(path)) {
            DeleteFileA((path + "\\" + name).c_str());
        }
    }
    std::string File(const char* name) const { return path + "\\" + name; }
    std::string path;
};

// The translator's answers for every text number, into buffers of random sizes ending at a
// no-access page, against the model of the file it read.
void CheckAnswers(FuzzRandom& r, CTranslator& translator, const ModelText& file, GuardedPage& page,
                  size_t* answers) {
    for (size_t i = 0; i < orvin::kBuiltInTextCount; ++i) {
        const int number = orvin::kBuiltInTexts[i].number;
        const std::string english = orvin::kBuiltInTexts[i].english;
        std::string text = english;
        int translated = 0;
        for (const ModelPair& pair : file.pairs) {
            if (orvin::EqualIgnoringCase(pair.key, english)) {
                if (pair.translated) {
                    text = pair.value;
                    translated = 1;
                }
                break;
            }
        }
        const size_t capacity = r.Percent(50) ? text.size() + r.Range(0, 2) : r.Range(1, 600);
        char* buffer = reinterpret_cast<char*>(page.Tail(capacity, 0x5A));
        ASSERT_NE(buffer, nullptr);
        const int result = translator.Translate(number, buffer, capacity);
        ++*answers;
        if (text.size() >= capacity) {
            EXPECT_EQ(result, 0) << "text " << number << " does not fit " << capacity << " bytes";
            EXPECT_EQ((unsigned char)buffer[0], 0x5A)
                << "text " << number << " written though it does not fit";
        } else {
            EXPECT_EQ(result, translated) << "text " << number;
            EXPECT_EQ(std::string(buffer), text) << "text " << number;
        }
    }
    // Numbers that are not in the table: nothing.
    char* buffer = reinterpret_cast<char*>(page.Tail(16, 0x5A));
    const int stranger = r.Percent(50) ? (int)r.U32() : (int)r.Range(0, 200);
    bool known = false;
    for (size_t i = 0; i < orvin::kBuiltInTextCount; ++i) {
        known = known || orvin::kBuiltInTexts[i].number == stranger;
    }
    if (!known) {
        EXPECT_EQ(translator.Translate(stranger, buffer, 16), 0);
        EXPECT_EQ((unsigned char)buffer[0], 0x5A) << "written for the unknown number " << stranger;
    }
}

CTranslator::Environment GermanEnvironment(const Folder& current, const Folder& windows,
                                           const Folder& program) {
    CTranslator::Environment environment;
    environment.languageName = "German";
    environment.codePage = 1252;
    environment.currentDirectory = current.path;
    environment.windowsDirectory = windows.path;
    environment.executableDirectory = program.path;
    return environment;
}

TEST(TranslationFuzz, TranslatorAnswers) {
    FuzzRandom r = FuzzStream("translator answers");
    FuzzBudget budget(1500);
    Folder current("cur"), windows("win"), program("exe");
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    size_t loaded = 0, answers = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const bool rightFirstLine = r.Percent(90);
        const std::string text = RandomTranslationText(r, rightFirstLine);
        SCOPED_TRACE("file " + HexDump(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 96) +
                     " of seed " + std::to_string(FuzzSeed()));
        FuzzSetCurrentCase("translation file " +
                           HexDump(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 96));
        ASSERT_TRUE(WriteBytes(windows.File("zuvoip.lng"), text));
        CTranslator translator;
        translator.Load(GermanEnvironment(current, windows, program));
        EXPECT_EQ(translator.LanguageKey(), "German1252");
        // A file that serves another language is replaced from the cabinet; there is none.
        const std::string used = ReadBytes(windows.File("zuvoip.lng"));
        std::string first;
        const bool serves =
            orvin::FirstLineOf(text.data(), text.size(), first) && first == "English1252=German1252";
        if (serves) {
            EXPECT_EQ(used, text) << "the file was changed";
            ++loaded;
        } else {
            EXPECT_FALSE(Exists(windows.File("zuvoip.lng"))) << "a file for another language was kept";
        }
        const ModelText model = serves ? ModelParse(text) : ModelText{};
        EXPECT_EQ(translator.PairCount(), model.pairs.size());
        CheckAnswers(r, translator, model, page, &answers);
    }
    FuzzReport("translator answers", budget.Done(), budget.Seconds(),
               std::to_string(loaded) + " files loaded, " + std::to_string(answers) + " texts asked for");
}

// ---- Damaged cabinets

#ifndef ORVIN_CABINET_DIR
#define ORVIN_CABINET_DIR ""
#endif

std::string TestCabinet(const char* name) {
    return std::string("Z:") + ORVIN_CABINET_DIR + "/" + name;
}

void Put16(std::string& bytes, size_t at, uint16_t value) {
    if (at + 2 <= bytes.size()) {
        memcpy(&bytes[at], &value, 2);
    }
}
void Put32(std::string& bytes, size_t at, uint32_t value) {
    if (at + 4 <= bytes.size()) {
        memcpy(&bytes[at], &value, 4);
    }
}
uint32_t Get32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    if (at + 4 <= bytes.size()) {
        memcpy(&value, &bytes[at], 4);
    }
    return value;
}

// A damaged copy of a good cabinet, and what was done to it.
std::string Damage(FuzzRandom& r, const std::string& good, std::string* how) {
    std::string bytes = good;
    const uint32_t coffFiles = Get32(good, 16);
    const uint32_t coffCabStart = Get32(good, 36);
    static const uint32_t kAbsurd32[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x10000, 0xFFFF, 2 << 20};
    static const uint16_t kAbsurd16[] = {0, 1, 2, 0x7FFF, 0x8000, 0xFFFD, 0xFFFE, 0xFFFF};
    const uint32_t steps = r.Range(1, 3);
    for (uint32_t step = 0; step < steps; ++step) {
        switch (r.Below(12)) {
        case 0: { // cut short
            const uint32_t length = r.Below((uint32_t)bytes.size());
            bytes.resize(length);
            *how += "cut at " + std::to_string(length) + "; ";
            break;
        }
        case 1:
        case 2: { // bits flipped anywhere
            const uint32_t flips = r.Range(1, 16);
            for (uint32_t i = 0; i < flips && !bytes.empty(); ++i) {
                bytes[r.Below((uint32_t)bytes.size())] ^= (char)(1 << r.Below(8));
            }
            *how += std::to_string(flips) + " bits flipped; ";
            break;
        }
        case 3: { // bits flipped in the headers
            const uint32_t end = coffCabStart + 8 < bytes.size() ? coffCabStart + 8 : (uint32_t)bytes.size();
            for (uint32_t i = 0; i < 4 && end; ++i) {
                bytes[r.Below(end)] ^= (char)(1 << r.Below(8));
            }
            *how += "header bits flipped; ";
            break;
        }
        case 4: {                                               // a size or count of the cabinet header
            static const size_t kFields32[] = {8, 16};          // cbCabinet, coffFiles
            static const size_t kFields16[] = {26, 28, 30, 34}; // cFolders, cFiles, flags, iCabinet
            if (r.Percent(50)) {
                const size_t at = r.Pick(kFields32);
                Put32(bytes, at, r.Pick(kAbsurd32));
                *how += "cabinet field at " + std::to_string(at) + "; ";
            } else {
                const size_t at = r.Pick(kFields16);
                Put16(bytes, at, r.Pick(kAbsurd16));
                *how += "cabinet field at " + std::to_string(at) + "; ";
            }
            break;
        }
        case 5: // the folder: where its data start, how many blocks, which compression
            if (r.Percent(34)) {
                Put32(bytes, 36, r.Pick(kAbsurd32));
            } else if (r.Percent(50)) {
                Put16(bytes, 40, r.Pick(kAbsurd16));
            } else {
                Put16(bytes, 42, (uint16_t)r.Range(0, 0x1FFF));
            }
            *how += "folder field; ";
            break;
        case 6: // the first member's size: absurd, or just over the limit
            Put32(bytes, coffFiles, r.Percent(50) ? r.Pick(kAbsurd32) : (1u << 20) + r.Range(0, 2));
            *how += "member size; ";
            break;
        case 7: // the first member's offset and folder
            Put32(bytes, coffFiles + 4, r.Pick(kAbsurd32));
            Put16(bytes, coffFiles + 8, r.Pick(kAbsurd16));
            *how += "member offset and folder; ";
            break;
        case 8: { // the first member's name: another one, a path, no end
            const size_t at = coffFiles + 16;
            static const char* const kNames[] = {"..\\..\\German1252.txt", "C:\\German1252.txt",
                                                 "german1252.TXT", "German1252.txt\\x", "G"};
            const std::string name = r.Pick(kNames);
            if (at + name.size() + 1 <= bytes.size()) {
                memcpy(&bytes[at], name.c_str(), name.size() + (r.Percent(80) ? 1 : 0));
            }
            if (r.Percent(20)) {
                for (size_t i = at; i < bytes.size() && i < at + 300; ++i) {
                    bytes[i] = 'n'; // no terminator for a long way
                }
            }
            *how += "member name; ";
            break;
        }
        case 9: { // the first data block's sizes
            Put16(bytes, coffCabStart + 4, r.Pick(kAbsurd16));
            Put16(bytes, coffCabStart + 6, r.Pick(kAbsurd16));
            *how += "data block sizes; ";
            break;
        }
        case 10: { // bytes after the end
            const std::vector<uint8_t> tail = r.Bytes(r.Range(1, 5000));
            bytes.append(tail.begin(), tail.end());
            *how += "bytes appended; ";
            break;
        }
        default: { // the compressed data overwritten
            if (coffCabStart + 8 < bytes.size()) {
                const uint32_t at = coffCabStart + 8 + r.Below((uint32_t)bytes.size() - coffCabStart - 8);
                const uint32_t count = r.Range(1, 64);
                for (uint32_t i = 0; i < count && at + i < bytes.size(); ++i) {
                    bytes[at + i] = (char)r.U32();
                }
            }
            *how += "data overwritten; ";
            break;
        }
        }
    }
    return bytes;
}

TEST(TranslationFuzz, DamagedCabinets) {
    std::vector<std::string> good;
    for (const char* name : {"shipped.cab", "chinese.cab", "several.cab", "mislabel.cab"}) {
        const std::string bytes = ReadBytes(TestCabinet(name));
        if (bytes.size() > 100) {
            good.push_back(bytes);
        }
    }
    if (good.size() < 4) {
        GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
    }
    FuzzRandom r = FuzzStream("damaged cabinets");
    FuzzBudget budget(1500);
    Folder folder("cab");
    FuzzWatchdog watchdog;
    size_t extracted = 0, refused = 0, overLimit = 0;
    std::map<std::string, size_t> errors;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t which = r.Below((uint32_t)good.size());
        std::string how;
        const std::string bytes = Damage(r, good[which], &how);
        const size_t limit = r.Percent(80) ? 1 << 20 : r.Range(1, 400);
        const std::string described = "cabinet " + std::to_string(which) + " damaged: " + how + "limit " +
                                      std::to_string(limit) + " (seed " + std::to_string(FuzzSeed()) + ")";
        SCOPED_TRACE(described);
        FuzzSetCurrentCase(described);
        folder.Empty();
        ASSERT_TRUE(WriteBytes(folder.File("damaged.cab"), bytes));
        const char* member = r.Percent(80) ? "German1252.txt" : "Chinese936.txt";
        watchdog.Arm(20000, described);
        const orvin::CabinetExtraction result =
            orvin::ExtractCabinetMember(folder.File("damaged.cab"), member, folder.File("member.txt"), limit);
        watchdog.Disarm();
        std::vector<std::string> files = FilesIn(folder.path);
        if (result.ok) {
            ++extracted;
            const std::string got = ReadBytes(folder.File("member.txt"));
            EXPECT_LE(got.size(), limit) << "a member over its limit";
            EXPECT_EQ(files.size(), 2u) << "files besides the cabinet and the member";
        } else {
            ++refused;
            const std::string error = result.error.substr(0, result.error.find(" ("));
            ++errors[error.compare(0, 18, "member larger than") == 0 ? "member over its limit" : error];
            overLimit += result.error.find("larger than") != std::string::npos ? 1 : 0;
            EXPECT_FALSE(result.error.empty());
            EXPECT_FALSE(Exists(folder.File("member.txt")))
                << "a part of the member was left: " << result.error;
            EXPECT_EQ(files.size(), 1u) << "files besides the cabinet";
        }
    }
    std::string kinds;
    for (const auto& [error, count] : errors) {
        kinds += (kinds.empty() ? "" : ", ") + error + " " + std::to_string(count);
    }
    FuzzReport("damaged cabinets", budget.Done(), budget.Seconds(),
               std::to_string(extracted) + " extracted, " + std::to_string(refused) + " refused (" + kinds +
                   ")");
}

// A translator whose only cabinet is damaged: what it ends up using is a translation file
// that serves its language, read as any other, or the English texts; nothing is left over.
TEST(TranslationFuzz, TranslatorWithADamagedCabinet) {
    const std::string good = ReadBytes(TestCabinet("shipped.cab"));
    if (good.size() < 100) {
        GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
    }
    FuzzRandom r = FuzzStream("translator cabinet");
    FuzzBudget budget(300);
    Folder current("tcur"), windows("twin"), program("texe");
    GuardedPage page;
    FuzzWatchdog watchdog;
    size_t translated = 0, english = 0, answers = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        std::string how;
        const std::string bytes = r.Percent(10) ? good : Damage(r, good, &how);
        const std::string described =
            "cabinet damaged: " + how + " (seed " + std::to_string(FuzzSeed()) + ")";
        SCOPED_TRACE(described);
        FuzzSetCurrentCase("translator with " + described);
        windows.Empty();
        program.Empty();
        if (r.Percent(30)) { // a file for another language, to be replaced
            WriteBytes(windows.File("zuvoip.lng"), "English1252=French1252\r\nClose=Fermer\r\n");
        }
        ASSERT_TRUE(WriteBytes(program.File("zuvoiplng.cab"), bytes));
        CTranslator translator;
        watchdog.Arm(20000, described);
        translator.Load(GermanEnvironment(current, windows, program));
        watchdog.Disarm();
        const std::vector<std::string> left = FilesIn(windows.path);
        ModelText model;
        if (Exists(windows.File("zuvoip.lng"))) {
            const std::string text = ReadBytes(windows.File("zuvoip.lng"));
            std::string first;
            EXPECT_TRUE(orvin::FirstLineOf(text.data(), text.size(), first) &&
                        first == "English1252=German1252")
                << "a translation file for another language was kept";
            EXPECT_EQ(left.size(), 1u) << "files besides the translation file";
            model = ModelParse(text);
            ++translated;
        } else {
            EXPECT_TRUE(left.empty()) << "files left in the Windows directory: " << left.size();
            ++english;
        }
        EXPECT_EQ(translator.PairCount(), model.pairs.size());
        CheckAnswers(r, translator, model, page, &answers);
    }
    FuzzReport("translator with a damaged cabinet", budget.Done(), budget.Seconds(),
               std::to_string(translated) + " with a translation file, " + std::to_string(english) +
                   " English, " + std::to_string(answers) + " texts asked for");
}

} // namespace
