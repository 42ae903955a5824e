// Menu.cfg fuzzed through the real reader and tree builder (the Windows profile functions,
// CMenuBuilder): random sections that name one another (in loops too), missing and
// duplicate sections, random kinds, numbers, masks, prompt and key lines, values and
// sections around the reader's 512-byte limit, very long lines and binary bytes. Every
// built tree is then driven with keys and ticks through a stand-in state machine.
//
// Half the files are "clean" (names, keys and values as a careful author writes them): for
// those a model of the documented rules predicts the whole tree, so a tree that differs
// fails the run. For the others the run checks what must hold of any tree: at most the
// builder's limits of menus and depth, and the same tree from the same file twice.
#include "ivr/MenuFile.h"
#include "ivr/MessageMenus.h"
#include "tests/ivr/menu/FakeMenuHost.h"
#include "tests/lib/fuzz/Fuzz.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

// ---- The key set of a Mask value, as documented: the separators go one after another from
// the left; a "-" with something before it first adds what lies strictly between the key
// before it and the character after it.
std::string ModelMask(const std::string& mask) {
    std::string keys;
    for (size_t i = 0; i < mask.size(); ++i) {
        const char c = mask[i];
        if (c == ',' || c == ' ') {
            continue;
        }
        if (c == '-') {
            if (!keys.empty() && i + 1 < mask.size()) {
                for (int k = (unsigned char)keys.back() + 1; k < (unsigned char)mask[i + 1]; ++k) {
                    keys += (char)k;
                }
            }
            continue;
        }
        keys += c;
    }
    return keys;
}

std::string RandomMask(FuzzRandom& r) {
    static const char kPieces[] = {'0', '1', '3', '5', '9', '*', '#', 'A', 'D', '-', '-', ',', ' ', 'T', 'S'};
    std::string mask;
    const uint32_t length = r.Percent(90) ? r.Range(0, 12) : r.Range(12, 600);
    for (uint32_t i = 0; i < length; ++i) {
        mask += r.Percent(90) ? r.Pick(kPieces) : (char)r.Range(1, 255);
    }
    return mask;
}

TEST(MenuFileFuzz, MaskExpansion) {
    FuzzRandom r = FuzzStream("menu mask expansion");
    FuzzBudget budget(100000);
    size_t keys = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const std::string mask = RandomMask(r);
        const std::string got = CMenuBuilder::ExpandMask(mask);
        keys += got.size();
        EXPECT_EQ(got, ModelMask(mask)) << "mask \"" << mask << "\" of seed " << FuzzSeed();
    }
    FuzzReport("Menu.cfg masks", budget.Done(), budget.Seconds(), std::to_string(keys) + " keys expanded");
}

// ---- Files

const char* const kKinds[] = {"DEFAULT", "INFO",         "CHILD",    "BYE",    "PINCODE",   "PHONENBR",
                              "CALLFWD", "AMGREET",      "MSGREC",   "GMREC",  "GMLISTEN",  "DELGM",
                              "MSGPLAY", "VMDELCONFIRM", "DELALLVM", "SPMAIL", "LINEATTACH"};

struct Section {
    std::string name;
    bool menu = false;
    std::vector<std::pair<std::string, std::string>> values; // menu sections, in file order
    std::vector<std::string> lines;                          // the other sections
};

struct MenuFile {
    std::vector<Section> sections;
    bool clean = true;
    std::string root;
    std::string text;
};

// What a careful author writes: names of letters and digits, one section and one key of a
// name, values without blanks at their ends.
class FileMaker {
public:
    FileMaker(FuzzRandom& r) : m_r(r) {}

    MenuFile Make() {
        MenuFile file;
        file.clean = m_r.Percent(50);
        // Now and then every menu leads to many others: loops everywhere, and trees that
        // reach the builder's limits.
        m_dense = m_r.Percent(2);
        const uint32_t menus = m_dense           ? m_r.Range(8, 12)
                               : m_r.Percent(85) ? m_r.Range(1, 12)
                                                 : m_r.Range(12, 40);
        m_names.clear();
        static const char* const kSpecial[] = {"EnterAM", "EnterAMAlt", "PhoneNumberCollect", "AttachLine",
                                               "GoodBye"};
        for (uint32_t i = 0; i < menus; ++i) {
            m_names.push_back(m_r.Percent(15) ? m_r.Pick(kSpecial) : "M" + std::to_string(i));
        }
        file.root = m_names[0];
        std::set<std::string> made;
        for (const std::string& name : m_names) {
            std::string lower = Lower(name);
            if (made.count(lower) && (file.clean || m_r.Percent(70))) {
                continue; // a careful author writes each section once
            }
            made.insert(lower);
            file.sections.push_back(MenuSection(name, file.clean));
        }
        if (!file.clean && m_r.Percent(20)) {
            file.sections.push_back(Junk());
        }
        // The order of sections in the file does not matter.
        for (size_t i = file.sections.size(); i > 1; --i) {
            std::swap(file.sections[i - 1], file.sections[m_r.Below((uint32_t)i)]);
        }
        file.text = Write(file);
        return file;
    }

private:
    static std::string Lower(std::string text) {
        for (char& c : text) {
            c = (char)tolower((unsigned char)c);
        }
        return text;
    }
    std::string AnyName() {
        if (m_r.Percent(90)) {
            return m_names[m_r.Below((uint32_t)m_names.size())];
        }
        return m_r.Percent(50) ? "Missing" + std::to_string(m_r.Below(5)) : "GoodBye";
    }
    std::string Number(bool clean) {
        if (clean || m_r.Percent(60)) {
            return std::to_string((int)m_r.Range(0, 20000) - (m_r.Percent(5) ? 10000 : 0));
        }
        return FuzzNumberText(m_r);
    }
    std::string Text(bool clean, uint32_t shortest, uint32_t longest) {
        std::string text;
        const uint32_t length = m_r.Range(shortest, longest);
        for (uint32_t i = 0; i < length; ++i) {
            text += clean ? (char)(m_r.Percent(50) ? m_r.Range('a', 'z') : m_r.Range('0', '9'))
                          : (char)m_r.Range(1, 255);
        }
        return text;
    }
    // A value at or around the reader's limit of 511 characters.
    std::string NearLimit(char c) { return std::string(m_r.Range(505, 515), c); }

    Section MenuSection(const std::string& name, bool clean) {
        Section s;
        s.name = name;
        s.menu = true;
        auto add = [&](const char* key, const std::string& value) {
            std::string k = key;
            if (m_r.Percent(30)) { // key names match without regard to case
                for (char& c : k) {
                    c = (char)(m_r.Percent(50) ? toupper((unsigned char)c) : tolower((unsigned char)c));
                }
            }
            s.values.emplace_back(k, value);
        };
        if (!m_dense && m_r.Percent(85)) {
            const uint32_t roll = m_r.Below(100);
            add("Type", roll < 85   ? m_r.Pick(kKinds)
                        : roll < 90 ? "default"
                        : roll < 94 ? ""
                        : roll < 97 ? NearLimit('D')
                                    : Text(clean, 1, 12));
        }
        if (m_r.Percent(60)) {
            add("SelectionTimeout", Number(clean));
        }
        if (m_r.Percent(50)) {
            add("Repeat", std::to_string(m_r.Range(0, 5)));
        }
        if (m_r.Percent(60)) {
            std::string mask = RandomMask(m_r);
            if (clean) {
                std::string tidy;
                for (char c : mask) {
                    if ((unsigned char)c > ' ' && c != '=' && c != ';' && c != '[' && c != '"' && c != '\'' &&
                        (unsigned char)c < 0x7F) {
                        tidy += c;
                    }
                }
                mask = m_r.Percent(3) ? NearLimit('1') : tidy;
            }
            add("Mask", mask);
        }
        if (m_r.Percent(60)) {
            const std::string prompt = name + "Prompt";
            add("Prompt", prompt);
            Section lines;
            lines.name = prompt;
            const uint32_t count = m_r.Percent(95) ? m_r.Range(0, 4) : m_r.Range(30, 60);
            for (uint32_t i = 0; i < count; ++i) {
                lines.lines.push_back(Text(clean, 1, 14) + ".wav");
            }
            m_extra.push_back(lines);
        }
        if (m_dense || m_r.Percent(75)) {
            const std::string keys = name + "Keys";
            add("SubMenus", m_r.Percent(95) ? keys : "Missing");
            Section lines;
            lines.name = keys;
            const uint32_t count = m_dense ? 8 : m_r.Range(0, 8);
            static const char kKeys[] = {'0', '1', '2', '5', '9', '*', '#', 'T', 'S', 'F', 'C', 'a'};
            for (uint32_t i = 0; i < count; ++i) {
                const char key = m_r.Pick(kKeys);
                switch (m_dense ? 7 : m_r.Below(clean ? 8 : 10)) {
                case 0:
                    lines.lines.push_back(std::string(1, key) + " ," + AnyName());
                    break;
                case 1:
                    lines.lines.push_back(std::string("x") + key + "," + AnyName());
                    break;
                case 2:
                    lines.lines.push_back(AnyName()); // no comma
                    break;
                case 3:
                    lines.lines.push_back("," + AnyName()); // no key
                    break;
                case 8:
                    lines.lines.push_back(Text(false, 1, 40));
                    break;
                case 9:
                    lines.lines.push_back(std::string(1, key) + "," + Text(false, 1, 3000));
                    break;
                default:
                    lines.lines.push_back(std::string(1, key) + "," + AnyName());
                    break;
                }
            }
            m_extra.push_back(lines);
        }
        if (!clean && m_r.Percent(10)) {
            add("Type", m_r.Pick(kKinds)); // a second one
        }
        if (!clean && m_r.Percent(10)) {
            add(Text(false, 1, 8).c_str(), Text(false, 0, 5000));
        }
        return s;
    }
    Section Junk() {
        Section s;
        s.name = Text(false, 0, 30);
        const uint32_t count = m_r.Range(1, 6);
        for (uint32_t i = 0; i < count; ++i) {
            s.lines.push_back(Text(false, 0, 8000));
        }
        return s;
    }
    std::string Write(MenuFile& file) {
        // The prompt and key sections made along the way join the file.
        for (Section& extra : m_extra) {
            file.sections.push_back(std::move(extra));
        }
        m_extra.clear();
        std::string text;
        for (const Section& s : file.sections) {
            text += "[" + s.name + "]\r\n";
            for (const auto& [key, value] : s.values) {
                text += key + "=" + value + "\r\n";
            }
            for (const std::string& line : s.lines) {
                text += line + "\r\n";
            }
            if (!file.clean && m_r.Percent(10)) {
                text += "\r\n; a comment\r\n\r\n";
            }
        }
        if (!file.clean && m_r.Percent(15) && !text.empty()) { // a few bytes changed anywhere
            for (uint32_t n = m_r.Range(1, 8); n > 0; --n) {
                text[m_r.Below((uint32_t)text.size())] = (char)m_r.Range(0, 255);
            }
        }
        return text;
    }

    FuzzRandom& m_r;
    bool m_dense = false;
    std::vector<std::string> m_names;
    std::vector<Section> m_extra;
};

// ---- What a clean file must build

struct HostSettings {
    bool pstn = true, lineAttach = false, attachOnDcf = false;
    int voiceMsgSec = 30, greetingSec = 10;
};

const std::type_info& KindType(const std::string& kind) {
    static const std::map<std::string, const std::type_info*> kTypes = {
        {"DEFAULT", &typeid(CVoiceMenu)},
        {"INFO", &typeid(InfoMenu)},
        {"CHILD", &typeid(ChildMenu)},
        {"BYE", &typeid(ByeMenu)},
        {"PINCODE", &typeid(PinNumberMenu)},
        {"PHONENBR", &typeid(PhoneNumberMenu)},
        {"CALLFWD", &typeid(CallForwardMenu)},
        {"AMGREET", &typeid(AMGreetingMenu)},
        {"MSGREC", &typeid(RecordVoiceMsgMenu)},
        {"GMREC", &typeid(RecordGreetingMenu)},
        {"GMLISTEN", &typeid(GreetingListenMenu)},
        {"DELGM", &typeid(DeleteFilesMenu)},
        {"MSGPLAY", &typeid(PlayVoiceMsgMenu)},
        {"VMDELCONFIRM", &typeid(VoiceMsgDeleteConfirmMenu)},
        {"DELALLVM", &typeid(DeleteFilesMenu)},
        {"SPMAIL", &typeid(SoftphoneVoiceMailMenu)},
        {"LINEATTACH", &typeid(LineAttachMenu)},
    };
    return *kTypes.at(kind);
}

// One line per menu, depth first in key order: kind, timeout, repeat, keys, prompt files.
std::string Describe(const CVoiceMenu& menu, int depth, char key, const std::string& lang) {
    std::string files = "-";
    if (menu.GetPrompt()) {
        files.clear();
        for (const std::string& file : menu.GetPrompt()->GetFiles()) {
            files += (file.compare(0, lang.size(), lang) == 0 ? file.substr(lang.size()) : "?" + file) + " ";
        }
    }
    std::string line = std::string((size_t)depth * 2, ' ') + (key ? std::string(1, key) : "root") + ": " +
                       typeid(menu).name() + " timeout " + std::to_string(menu.GetTimeout()) + " repeat " +
                       std::to_string(menu.GetRepeat()) + " keys [" + menu.GetKeySet() + "] prompt " + files +
                       "\n";
    for (const auto& [k, sub] : menu.GetSubMenus()) {
        line += Describe(*sub, depth + 1, k, lang);
    }
    return line;
}

class Model {
public:
    Model(const MenuFile& file, const HostSettings& host, const std::string& lang)
        : m_host(host), m_lang(lang) {
        for (const Section& s : file.sections) {
            m_sections.emplace(Lower(s.name), &s);
        }
    }
    // The tree's description, empty when the root builds nothing.
    std::string Build(const std::string& root) { return BuildSection(root, 0, 0); }
    int Menus() const { return m_built; }

private:
    static std::string Lower(std::string text) {
        for (char& c : text) {
            c = (char)tolower((unsigned char)c);
        }
        return text;
    }
    const Section* Find(const std::string& name) const {
        auto it = m_sections.find(Lower(name));
        return it == m_sections.end() ? nullptr : it->second;
    }
    // The value of a key (the first of that name), or null.
    static const std::string* Value(const Section& s, const char* key) {
        for (const auto& [k, v] : s.values) {
            if (Lower(k) == Lower(key)) {
                return &v;
            }
        }
        return nullptr;
    }
    static std::vector<std::string> Lines(const Section& s) {
        std::vector<std::string> lines;
        for (const auto& [k, v] : s.values) {
            lines.push_back(k + "=" + v);
        }
        for (const std::string& line : s.lines) {
            lines.push_back(line);
        }
        return lines;
    }
    // The lines of a section the reader takes: present, not empty, under 510 characters.
    const Section* Listing(const std::string& name) const {
        const Section* s = Find(name);
        if (!s) {
            return nullptr;
        }
        size_t total = 0;
        for (const std::string& line : Lines(*s)) {
            total += line.size() + 1;
        }
        return total == 0 || total >= 510 ? nullptr : s;
    }
    std::string BuildSection(const std::string& name, int depth, char key) {
        const Section* s = Find(name);
        if (!s || Lines(*s).empty() || m_built >= CMenuBuilder::kMaxMenus ||
            m_path.size() >= CMenuBuilder::kMaxDepth) {
            return "";
        }
        const std::string* timeoutText = Value(*s, "SelectionTimeout");
        int timeout = timeoutText ? atoi(timeoutText->c_str()) : 5000;
        const std::string* type = Value(*s, "Type");
        const std::string kind = type ? *type : "DEFAULT";
        if (kind.empty() || kind.size() >= 511 || !IsKind(kind)) {
            return "";
        }
        if (kind == "MSGREC") {
            timeout = m_host.voiceMsgSec * 1000;
        } else if (kind == "GMREC") {
            timeout = m_host.greetingSec * 1000;
        }
        ++m_built;
        const std::string* repeat = Value(*s, "Repeat");
        const std::string* maskText = Value(*s, "Mask");
        const std::string mask = maskText && maskText->size() < 511 ? *maskText : "0-9";
        std::string files = "-";
        const std::string* prompt = Value(*s, "Prompt");
        if (prompt && !prompt->empty() && prompt->size() < 511) {
            if (const Section* lines = Listing(*prompt)) {
                files.clear();
                for (const std::string& line : Lines(*lines)) {
                    files += "\\" + line + " ";
                }
            }
        }
        std::string line = std::string((size_t)depth * 2, ' ') + (key ? std::string(1, key) : "root") + ": " +
                           KindType(kind).name() + " timeout " + std::to_string(timeout) + " repeat " +
                           std::to_string(repeat ? atoi(repeat->c_str()) : 3) + " keys [" + ModelMask(mask) +
                           "] prompt " + files + "\n";
        m_path.push_back(Lower(name));
        const std::string* subMenus = Value(*s, "SubMenus");
        if (subMenus && !subMenus->empty() && subMenus->size() < 511) {
            if (const Section* lines = Listing(*subMenus)) {
                std::map<char, std::string> keys;
                for (const std::string& entry : Lines(*lines)) {
                    const size_t comma = entry.find(',');
                    if (comma == std::string::npos || comma == 0) {
                        continue;
                    }
                    const size_t last = entry.find_last_not_of(' ', comma - 1);
                    if (last != std::string::npos) {
                        keys.emplace(entry[last], entry.substr(comma + 1));
                    }
                }
                for (const auto& [k, target] : keys) {
                    std::string section = target;
                    if (Lower(section) == "enteram" && !m_host.pstn) {
                        section = "EnterAMAlt";
                    } else if (Lower(section) == "phonenumbercollect" && m_host.lineAttach &&
                               m_host.attachOnDcf) {
                        section = "AttachLine";
                    }
                    bool onPath = false;
                    for (const std::string& p : m_path) {
                        onPath = onPath || p == Lower(section);
                    }
                    if (!onPath) {
                        line += BuildSection(section, depth + 1, k);
                    }
                }
            }
        }
        m_path.pop_back();
        return line;
    }
    static bool IsKind(const std::string& kind) {
        for (const char* k : kKinds) {
            if (kind == k) {
                return true;
            }
        }
        return false;
    }

    std::map<std::string, const Section*> m_sections; // the first of each name
    HostSettings m_host;
    std::string m_lang;
    std::vector<std::string> m_path;
    int m_built = 0;
};

int CountMenus(const CVoiceMenu& menu, size_t depth, size_t* deepest) {
    *deepest = depth > *deepest ? depth : *deepest;
    int count = 1;
    for (const auto& [key, sub] : menu.GetSubMenus()) {
        count += CountMenus(*sub, depth + 1, deepest);
    }
    return count;
}

std::string Printable(const std::string& text, size_t limit) {
    std::string shown;
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = (unsigned char)text[i];
        shown += c == '\n'   ? std::string("|")
                 : c == '\r' ? std::string()
                             : std::string(1, c >= 0x20 && c < 0x7F ? (char)c : '?');
    }
    return shown;
}

class MenuFuzzFolder {
public:
    MenuFuzzFolder() {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        root = std::string(base) + "orvin-menufuzz-" + std::to_string(GetCurrentProcessId());
        RemoveTree(root);
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA((root + "\\IVR").c_str(), nullptr);
        CreateDirectoryA((root + "\\IVR\\VoiceMail").c_str(), nullptr);
    }
    ~MenuFuzzFolder() { RemoveTree(root); }
    std::string root;
};

TEST(MenuFileFuzz, MenuTrees) {
    FuzzRandom r = FuzzStream("menu trees");
    FuzzBudget budget(150);
    MenuFuzzFolder folder;
    FakeMenuHost host(folder.root);
    FileMaker maker(r);
    FuzzWatchdog watchdog;
    size_t clean = 0, built = 0, menus = 0, capped = 0, keys = 0, reports = 0;
    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t index = budget.Done() - 1;
        const MenuFile file = maker.Make();
        // A folder of its own for each file: the profile functions keep files they read.
        host.wavPath = "\\IVR\\L" + std::to_string(index);
        const std::string lang = folder.root + host.wavPath;
        CreateDirectoryA(lang.c_str(), nullptr);
        WriteText(lang + "\\Menu.cfg", file.text);
        HostSettings settings;
        settings.pstn = r.Percent(50);
        settings.lineAttach = r.Percent(50);
        settings.attachOnDcf = r.Percent(50);
        host.pstn = settings.pstn;
        host.lineAttach = settings.lineAttach;
        host.attachOnDcf = settings.attachOnDcf;
        host.admin = r.Percent(50);
        const std::string described = std::string(file.clean ? "clean" : "rough") + " file " +
                                      std::to_string(index) + ", root " + file.root + ": " +
                                      Printable(file.text, 300);
        SCOPED_TRACE(described + " (seed " + std::to_string(FuzzSeed()) + ")");
        FuzzSetCurrentCase("Menu.cfg " + described);

        watchdog.Arm(60000, "building the menus of " + described);
        std::unique_ptr<CVoiceMenu> tree(CMenuBuilder(host).Build(folder.root, file.root));
        std::unique_ptr<CVoiceMenu> again(CMenuBuilder(host).Build(folder.root, file.root));
        watchdog.Disarm();
        const std::string got = tree ? Describe(*tree, 0, 0, lang) : "";
        EXPECT_EQ(again ? Describe(*again, 0, 0, lang) : "", got) << "the same file built another tree";
        clean += file.clean ? 1 : 0;
        if (tree) {
            ++built;
            size_t deepest = 0;
            const int count = CountMenus(*tree, 0, &deepest);
            menus += (size_t)count;
            capped += count >= CMenuBuilder::kMaxMenus ? 1 : 0;
            EXPECT_LE(count, CMenuBuilder::kMaxMenus) << "more menus than the builder makes";
            EXPECT_LE(deepest, CMenuBuilder::kMaxDepth) << "deeper than the builder goes";
        }
        if (file.clean) {
            Model model(file, settings, lang);
            const std::string expected = model.Build(file.root);
            EXPECT_EQ(got, expected) << "the tree is not the one the file describes";
        }
        again.reset();

        // The tree at work: keys and ticks, as long as the conversation lasts.
        if (tree) {
            host.path.clear();
            host.pushes.clear();
            host.reports.clear();
            host.floor = nullptr;
            host.capturing = true;
            host.goodBye->Reset();
            watchdog.Arm(60000, "driving the menus of " + described);
            host.Start(tree.get());
            static const char kPressed[] = "0123456789*#ABCDT";
            const uint32_t steps = r.Range(5, 60);
            for (uint32_t i = 0; i < steps && host.capturing; ++i) {
                if (r.Percent(60)) {
                    host.Tick(r.Range(1, 10));
                } else {
                    host.Dispatch(kPressed[r.Below(sizeof kPressed - 1)]);
                    ++keys;
                }
            }
            watchdog.Disarm();
            reports += host.reports.size();
            host.StopRecordingToFile();
            host.GetStreamingSound()->PlayBackground(); // the stream points into the prompts
            host.path.clear();
            host.floor = nullptr;
        }
        tree.reset();
        RemoveTree(lang);
    }
    FuzzReport("Menu.cfg trees", budget.Done(), budget.Seconds(),
               std::to_string(clean) + " clean files checked against their model, " + std::to_string(built) +
                   " trees built (" + std::to_string(menus) + " menus, " + std::to_string(capped) +
                   " at the limit), " + std::to_string(keys) + " keys pressed, " + std::to_string(reports) +
                   " reports");
}

} // namespace
