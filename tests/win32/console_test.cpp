// The shell's console set-up on Windows, read back through the console API.
// Each case runs in a child: this same program started again, without a
// console and without standard handles (as a GUI program starts), which does
// its part before main and sends what it read off the console back through a
// pipe.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/shell.h"

namespace {

const char kCaseVariable[] = "PONDSIM_CONSOLE_CASE";
const char kReportVariable[] = "PONDSIM_CONSOLE_REPORT";

// The active screen buffer, whatever the standard handles were bound to.
HANDLE OpenScreen() {
    return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

CONSOLE_SCREEN_BUFFER_INFO Info(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    GetConsoleScreenBufferInfo(screen, &info);
    return info;
}

std::string Row(HANDLE screen, int y) {
    const CONSOLE_SCREEN_BUFFER_INFO info = Info(screen);
    std::string text(static_cast<size_t>(info.dwSize.X), ' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(screen, text.data(), info.dwSize.X, COORD{0, static_cast<SHORT>(y)}, &read);
    text.resize(read);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// What the cursor's row holds so far, and the row above it: the line last
// ended.
std::string CursorRow(HANDLE screen) { return Row(screen, Info(screen).dwCursorPosition.Y); }
std::string LastLine(HANDLE screen) { return Row(screen, Info(screen).dwCursorPosition.Y - 1); }

// Nothing is flushed between a print and the reading of the console: text
// still in a stream's buffer is not there to be read. The first print on
// each stream leaves its line open, since some runtimes (Wine's fputc) empty
// even a fully buffered stream at a line end.
void LinesAsPrinted(std::ostream& report) {
    // Before the console exists, as the scene's first allocation is.
    std::printf("Allocating 500 particles\n");
    SetupConsole();
    HANDLE screen = OpenScreen();
    report << "height " << Info(screen).dwSize.Y << "\n";
    std::printf("Allocating 3000 particles");
    report << "stdout " << CursorRow(screen) << "\n";
    std::printf("\n");
    std::fprintf(stderr, "error stream");
    report << "stderr " << CursorRow(screen) << "\n";
    std::fprintf(stderr, "\n");
    std::printf("Shutting down.\n");
    report << "stdout " << LastLine(screen) << "\n";
    report << "first " << Row(screen, 0) << "\n";
}

void ScrollBack(std::ostream& report) {
    SetupConsole();
    // In one piece: printed one by one, unbuffered, the lines would reach
    // the console a character at a time, some fifteen seconds under Wine.
    std::string lines;
    for (int i = 1; i <= 600; ++i) lines += "Allocating " + std::to_string(i) + " particles\n";
    std::fputs(lines.c_str(), stdout);
    HANDLE screen = OpenScreen();
    const CONSOLE_SCREEN_BUFFER_INFO info = Info(screen);
    report << "height " << info.dwSize.Y << " cursor " << info.dwCursorPosition.Y << "\n";
    report << "first " << Row(screen, 0) << "\n";
    report << "last " << LastLine(screen) << "\n";
}

// Started with its output handed over (a file) and no error stream: output
// stays in the file, the error stream goes to the new console.
void OutputHandedOver(std::ostream& report) {
    SetupConsole();
    HANDLE screen = OpenScreen();
    std::printf("Allocating 3000 particles\n");
    std::fprintf(stderr, "error stream\n");
    report << "first " << Row(screen, 0) << "\n";
}

// In a child, its case runs here and the process ends before main; the
// report goes to the write end of the parent's pipe, whose handle it names.
int RunCaseIfChild() {
    const char* name = std::getenv(kCaseVariable);
    const char* reportHandle = std::getenv(kReportVariable);
    if (name == nullptr || reportHandle == nullptr) return 0;
    std::ostringstream report;
    const std::string which = name;
    if (which == "lines") LinesAsPrinted(report);
    if (which == "scroll") ScrollBack(report);
    if (which == "handed") OutputHandedOver(report);
    const std::string text = report.str();
    HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(reportHandle, nullptr, 10)));
    DWORD written = 0;
    const BOOL sent = WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    // No exit handlers: nothing still buffered may reach the console late.
    TerminateProcess(GetCurrentProcess(), sent && written == text.size() ? 0 : 3);
    return 1;
}
const int childCase = RunCaseIfChild();

// Runs `name` in a child of this program and returns its report; the child
// has no console and no standard handles but `output`, as the windowed
// programs start.
std::string RunChild(const char* name, HANDLE output = nullptr) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return "no pipe";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    SetEnvironmentVariableA(kCaseVariable, name);
    SetEnvironmentVariableA(kReportVariable, std::to_string(reinterpret_cast<uintptr_t>(writeEnd)).c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    PROCESS_INFORMATION process = {};
    std::string commandLine = std::string("\"") + program + "\"";
    const BOOL started = CreateProcessA(program, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kCaseVariable, nullptr);
    SetEnvironmentVariableA(kReportVariable, nullptr);
    CloseHandle(writeEnd);
    std::string result;
    if (started) {
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            result = "timed out\n";
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        if (code != 0) result += "exit code " + std::to_string(code) + "\n";
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // The child is gone, so the pipe ends once what it wrote is read.
        char buffer[512];
        for (DWORD n = 0; ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0;) result.append(buffer, n);
    } else {
        result = "not started\n";
    }
    CloseHandle(readEnd);
    return result;
}

TEST(ShellConsole, EveryLineIsOnTheConsoleWhenPrintReturnsAndTheBufferHolds512Lines) {
    EXPECT_EQ(RunChild("lines"),
              "height 512\n"
              "stdout Allocating 3000 particles\n"
              "stderr error stream\n"
              "stdout Shutting down.\n"
              // The line printed before the console existed never shows.
              "first Allocating 3000 particles\n");
}

TEST(ShellConsole, MoreThan512LinesScrollTheOldestOff) {
    // 600 lines and the empty line the cursor waits on: rows 0 to 510 hold
    // the last 511 lines.
    EXPECT_EQ(RunChild("scroll"),
              "height 512 cursor 511\n"
              "first Allocating 90 particles\n"
              "last Allocating 600 particles\n");
}

// Each stream is judged by its own handle: output handed over stays where
// it was sent, the error stream without one goes to the console.
TEST(ShellConsole, HandedOverOutputStaysWhereItWasSentTheErrorStreamGoesToTheConsole) {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "psm", 0, path), 0u);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string report = RunChild("handed", file);
    CloseHandle(file);
    std::ifstream in(path, std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    in.close();
    DeleteFileA(path);
    EXPECT_EQ(report, "first error stream\n");
    EXPECT_EQ(written.str(), "Allocating 3000 particles\r\n");  // text mode
}

}  // namespace
