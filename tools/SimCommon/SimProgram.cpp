#include "SimProgram.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace orvin::sim {

bool ParseSimOptions(const char* program, int argc, char** argv, SimOptions* options, bool* help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s: %s needs a value\n", program, arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            *help = true;
            return true;
        } else if (arg == "--script") {
            if (!value(&options->scriptPath)) {
                return false;
            }
        } else if (arg == "--log") {
            if (!value(&options->logPath)) {
                return false;
            }
        } else if (arg == "--interactive") {
            options->interactive = true;
        } else if (arg == "--quiet") {
            options->quiet = true;
        } else if (arg == "--log-qpc") {
            options->logCounter = true;
        } else if (arg == "--lenient") {
            options->lenient = true;
        } else if (arg == "--check") {
            options->checkOnly = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "%s: unknown option %s (see --help)\n", program, arg.c_str());
            return false;
        } else if (options->scriptPath.empty()) {
            options->scriptPath = arg;
        } else {
            fprintf(stderr, "%s: more than one script given\n", program);
            return false;
        }
    }
    if (options->interactive == !options->scriptPath.empty()) {
        fprintf(stderr, "%s: give a script or --interactive (see --help)\n", program);
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

bool ParseScriptLines(
    const std::string& text,
    const std::function<bool(const std::string& line, int number, std::string* error)>& parseLine,
    std::vector<SimScriptError>* errors) {
    bool ok = true;
    int line = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++line;
        std::string error;
        if (!parseLine(text.substr(start, end - start), line, &error)) {
            errors->push_back({line, error});
            ok = false;
        }
        start = end + 1;
    }
    return ok;
}

bool LoadScript(
    const char* program, const SimOptions& options,
    const std::function<bool(const std::string& line, int number, std::string* error)>& parseLine) {
    std::string text;
    if (!ReadWholeFile(options.scriptPath, &text)) {
        fprintf(stderr, "%s: can not read the script %s\n", program, options.scriptPath.c_str());
        return false;
    }
    std::vector<SimScriptError> errors;
    if (ParseScriptLines(text, parseLine, &errors)) {
        return true;
    }
    for (const SimScriptError& error : errors) {
        fprintf(stderr, "%s: %s: line %d: %s\n", program, options.scriptPath.c_str(), error.line,
                error.message.c_str());
    }
    return false;
}

bool OpenSimLog(const char* program, const SimOptions& options, SimLog* log) {
    log->SetQuiet(options.quiet);
    log->SetCounterStamps(options.logCounter);
    if (!options.logPath.empty() && !log->OpenFile(options.logPath)) {
        fprintf(stderr, "%s: can not write the log %s\n", program, options.logPath.c_str());
        return false;
    }
    if (options.logCounter) {
        log->Line("performance counter frequency %lld", log->Frequency());
    }
    return true;
}

namespace {

bool Listed(const char* list, const std::string& name) {
    std::istringstream names(list ? list : "");
    std::string each;
    while (names >> each) {
        if (each == name) {
            return true;
        }
    }
    return false;
}

} // namespace

bool SeparateOptions(const std::string& command, const std::vector<std::string>& words, const char* allowed,
                     bool allPositional, std::vector<std::string>* positional,
                     std::vector<std::pair<std::string, std::string>>* options, std::string* error) {
    for (const std::string& word : words) {
        const size_t equals = word.find('=');
        const bool quoted = !word.empty() && (word[0] == '"' || word[0] == '\'');
        if (allPositional || quoted || equals == std::string::npos || equals == 0) {
            positional->push_back(word);
            continue;
        }
        std::string name = word.substr(0, equals);
        if (!Listed(allowed, name)) {
            *error = command + ": unknown option '" + name + "' (a text that holds '=' is written quoted)";
            return false;
        }
        if (std::any_of(options->begin(), options->end(),
                        [&](const auto& seen) { return seen.first == name; })) {
            *error = command + ": option '" + name + "' given twice";
            return false;
        }
        options->emplace_back(name, word.substr(equals + 1));
    }
    return true;
}

} // namespace orvin::sim
