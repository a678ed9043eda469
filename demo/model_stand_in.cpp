// Stands in for the six model programs of the suite in the demo installation
// and in the end-to-end tests: the same program is copied to each model's
// path and tells from its own file name which model it plays.
//
// With the environment variable TREL_STAND_IN_LOG naming a file, it appends
// one line to that file and exits at once (what the tests check):
//   started <full path of this program>|<command line after the program name>
// Otherwise it shows a message box naming the model that was started.

#include "choice.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The command line after the program's own name (quoted or not), with the
// blanks that separate them skipped: empty when no parameters were given.
const char* parameters_of(const char* command_line) {
    const char* p = command_line;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// The model whose program path ends in this file name, or null.
const model_entry* model_named(const char* file_name) {
    for (const auto& model : model_table) {
        if (lstrcmpiA(base_name(model.program_path), file_name) == 0)
            return &model;
    }
    return nullptr;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* parameters = parameters_of(GetCommandLineA());

    char log_path[MAX_PATH] = {};
    const DWORD log_length = GetEnvironmentVariableA("TREL_STAND_IN_LOG", log_path, MAX_PATH);
    if (log_length > 0 && log_length < MAX_PATH) {
        std::FILE* log = std::fopen(log_path, "ab");
        if (!log)
            return 2;
        std::fprintf(log, "started %s|%s\n", path, parameters);
        return std::fclose(log) == 0 ? 0 : 2;
    }

    const model_entry* model = model_named(base_name(path));
    std::string text;
    if (model) {
        text = std::string("Model ") + std::to_string(model->number) + " was started:\n\n" +
               model->confirmation_name + "\n\n" + path;
    } else {
        text = std::string("This stand-in plays no model of the suite under this name:\n\n") + path;
    }
    text += "\n\nThe real model program would start here; this stand-in only shows that the "
            "chooser started the right program.";
    MessageBoxA(nullptr, text.c_str(), "trelvane demo: model program", MB_OK | MB_ICONINFORMATION);
    return 0;
}
