// Stands in for the six model programs of the suite in the demo installation
// and in the end-to-end tests: the same console program is copied to each
// model's path and tells from its own file name which model it plays.
//
// With the environment variable TREL_STAND_IN_LOG naming a file, it appends
// one line to that file and exits at once (what the chooser's tests check):
//   started <full path of this program>|<command line after the program name>
// Otherwise it holds a dialogue in its console window, as a model program
// would before it fits a model: it runs file_picker to choose a data file,
// reads the chosen path from the hand-off file, shows the file's first lines
// and asks which of the columns named in its first line to use.

#include "handoff.h"
#include "line_input.h"
#include "model_dialogue.h"
#include "screen.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char picker_path[] = "C:\\trelvane\\program\\file_picker.exe";
constexpr char file_question[] = "Press Enter to choose a data file (END or bye ends): ";
constexpr char column_question[] = "Columns to use, such as 1~3,5 (bye goes back, END ends): ";

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

// The tests' quiet mode: one line in the log, nothing on the screen.
int log_start(const char* log_path, const char* path) {
    std::FILE* log = std::fopen(log_path, "ab");
    if (!log)
        return 2;
    std::fprintf(log, "started %s|%s\n", path, parameters_of(GetCommandLineA()));
    return std::fclose(log) == 0 ? 0 : 2;
}

struct handle_owner {
    HANDLE handle;
    explicit handle_owner(HANDLE h) : handle(h) {}
    ~handle_owner() {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            CloseHandle(handle);
    }
    handle_owner(const handle_owner&) = delete;
    handle_owner& operator=(const handle_owner&) = delete;
};

void say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
}

void say_lines(const std::vector<std::string>& lines) {
    for (const auto& line : lines)
        say(line + "\n");
}

// "system error N: <the system's text>", a whole sentence.
std::string system_error(DWORD code) {
    const std::string said = "system error " + std::to_string(code);
    const std::string message = system_message(code);
    return message.empty() ? said + "." : said + ": " + message;
}

// The first bytes of a file on disk, at most limit of them.
struct file_start {
    std::vector<char> bytes;
    bool whole = false; // they are the whole file
};

// Reads the start of the file; 0, or the system error. A name that opens a
// device (the console, a pipe) is refused: reading it could wait forever.
DWORD read_start(const char* path, std::size_t limit, file_start& start) {
    handle_owner file(CreateFileA(path, GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (GetFileType(file.handle) != FILE_TYPE_DISK)
        return ERROR_BAD_FILE_TYPE;
    // One byte more than the limit tells whether the file goes on.
    start.bytes.resize(limit + 1);
    std::size_t got = 0;
    while (got < start.bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.handle, start.bytes.data() + got,
                      static_cast<DWORD>(start.bytes.size() - got), &read, nullptr))
            return GetLastError();
        if (read == 0)
            break;
        got += read;
    }
    start.whole = got <= limit;
    start.bytes.resize(got < limit ? got : limit);
    return 0;
}

void show_header(const model_entry* model, const char* path) {
    ClearConsole();
    // The line ends keep the header readable where standard output is no
    // console and the cursor cannot be placed.
    gotoXY(2, 1);
    say("trelvane demo: model program stand-in\n");
    gotoXY(2, 2);
    say(model ? model->confirmation_name
              : std::string("plays no model of the suite under the name ") + base_name(path));
    say("\n");
    gotoXY(0, 4);
}

// Runs file_picker in this console and waits for it. 0, or the system error
// that kept it from starting; status is its exit status.
DWORD run_picker(DWORD& status) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = std::string("\"") + picker_path + "\"";
    if (!CreateProcessA(picker_path, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return GetLastError();
    handle_owner thread(process.hThread), running(process.hProcess);
    WaitForSingleObject(running.handle, INFINITE);
    if (!GetExitCodeProcess(running.handle, &status))
        return GetLastError();
    return 0;
}

// Lets the user pick a data file and shows it; the columns its first line
// names, empty when no file with columns was chosen.
std::vector<std::string> choose_data_file() {
    say("The Open dialog of file_picker chooses the file.\n");
    DWORD status = 0;
    if (DWORD error = run_picker(status)) {
        say(std::string("Could not start ") + picker_path + ": " + system_error(error) + "\n");
        return {};
    }
    if (status != 0) {
        say("file_picker ended with status " + std::to_string(status) + ": no file was chosen.\n");
        return {};
    }
    file_start handoff;
    if (DWORD error = read_start(handoff_path, path_buffer_size + 2, handoff)) {
        say(std::string("Could not read ") + handoff_path + ": " + system_error(error) + "\n");
        return {};
    }
    const std::string path = chosen_path(handoff.bytes.data(), handoff.bytes.size());
    if (path.empty()) {
        say("No file was chosen: the Open dialog was cancelled.\n");
        return {};
    }
    say("Data file: " + path + "\n");
    file_start data;
    if (DWORD error = read_start(path.c_str(), data_read_limit, data)) {
        say("Could not read it: " + system_error(error) + "\n");
        return {};
    }
    data_view view = view_data(data.bytes.data(), data.bytes.size(), data.whole);
    say_lines(view.shown);
    return std::move(view.columns);
}

// One typed answer: at most answer_room - 1 bytes are kept, the rest of the
// line is dropped. ended: standard input ended with this answer.
struct answer {
    char text[answer_room] = {};
    int typed = 0;
    bool ended = false;
};

answer read_answer() {
    answer typed;
    const int result = quibscanf(typed.text, answer_room);
    typed.ended = result < 0;
    typed.typed = result < 0 ? ~result : result;
    return typed;
}

// The dialogue: the data file question, then the column question, asked
// again after each answer until END, or bye back to the data file. bye at
// the data file question ends too: no question comes before it. The end of
// input ends the dialogue after what was typed before it.
void hold_dialogue(const model_entry* model, const char* path) {
    show_header(model, path);
    std::vector<std::string> columns;
    for (;;) {
        say(columns.empty() ? file_question : column_question);
        answer typed = read_answer();
        if (typed.ended && typed.typed == 0)
            break;
        const int word = ret_comp(typed.text);
        if (word == 0 || (word == -1 && columns.empty()))
            break;
        if (word == -1) {
            columns.clear();
            show_header(model, path);
            continue;
        }
        if (columns.empty())
            columns = choose_data_file();
        else
            say_lines(answer_selection(typed.text, typed.typed, columns));
        say("\n");
        if (typed.ended)
            break;
    }
    say("\nThe dialogue has ended.\n");
}

} // namespace

int main() {
    // Unbuffered, so that text and cursor moves reach the console in order.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);

    char log_path[MAX_PATH] = {};
    const DWORD log_length = GetEnvironmentVariableA("TREL_STAND_IN_LOG", log_path, MAX_PATH);
    if (log_length > 0 && log_length < MAX_PATH)
        return log_start(log_path, path);

    hold_dialogue(model_named(base_name(path)), path);
    return 0;
}
