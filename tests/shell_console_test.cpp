// The shell's console set-up on Linux, each case in a child process of its
// own (it rebinds the standard streams): log lines reach the console or the
// redirected output at once, and the console device "CON" never becomes a
// file.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/shell.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ShellConsole : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        char pattern[] = "/tmp/pondsim-console-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs `body` in a child whose working folder is `dir`; the child ends
    // with _exit, so nothing still buffered would ever be written.
    template <typename Body>
    int RunChild(Body body) {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.c_str()) != 0) _exit(90);
            body();
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
};

TEST_F(ShellConsole, WithoutStandardStreamsTheConsoleIsOpenedAndWrittenUnbuffered) {
    const fs::path console = dir / "terminal";
    std::ofstream(console).close();
    const int status = RunChild([&] {
        setenv("PONDSIM_CONSOLE", console.c_str(), 1);
        close(0);
        close(1);
        // Written while there is no standard output: lost, as on Windows.
        std::printf("Allocating 500 particles\n");
        SetupConsole();
        std::printf("Allocating 3000 particles\n");
    });
    EXPECT_EQ(status, 0);
    // Output and input are the console now; standard error, open all along,
    // kept its place.
    EXPECT_EQ(ReadAll(console), "Allocating 3000 particles\n");
    EXPECT_FALSE(fs::exists(dir / "CON"));
    EXPECT_FALSE(fs::exists(dir / "con"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ShellConsole, RedirectedOutputKeepsItsPlaceAndEveryLineGoesThroughAtOnce) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int status = RunChild([&] {
        close(pipeEnds[0]);
        dup2(pipeEnds[1], 1);
        close(pipeEnds[1]);
        // Fully buffered on a pipe: still waiting when the console is set up.
        std::printf("Allocating 500 particles\n");
        SetupConsole();
        std::printf("Allocating 3000 particles\n");
        std::printf("Shutting down.\n");
    });
    close(pipeEnds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text, "Allocating 500 particles\nAllocating 3000 particles\nShutting down.\n");
    EXPECT_TRUE(fs::is_empty(dir));
}

// Each stream is judged by its own handle: output handed over stays where
// it was sent, the error stream without one goes to the console.
TEST_F(ShellConsole, HandedOverOutputStaysTheMissingErrorStreamGoesToTheConsole) {
    const fs::path console = dir / "terminal";
    const fs::path output = dir / "out";
    std::ofstream(console).close();
    const int status = RunChild([&] {
        setenv("PONDSIM_CONSOLE", console.c_str(), 1);
        const int file = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, 1);
        close(file);
        close(2);
        SetupConsole();
        std::printf("Allocating 3000 particles\n");
        std::fprintf(stderr, "error stream\n");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadAll(output), "Allocating 3000 particles\n");
    EXPECT_EQ(ReadAll(console), "error stream\n");
}

TEST_F(ShellConsole, ReopeningTheConsoleByNameNeverMakesAFile) {
    const fs::path output = dir / "out";
    const int status = RunChild([&] {
        const int file = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, 1);
        close(file);
        // The shell's own last step, for every spelling of the device.
        for (const char* name : {"CON", "con", "CONOUT$"}) {
            if (freopen(name, "w", stdout) != stdout) _exit(1);
            setvbuf(stdout, nullptr, _IONBF, 0);
            std::printf("%s\n", name);
        }
        if (freopen("CON", "r", stdin) != stdin) _exit(2);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadAll(output), "CON\ncon\nCONOUT$\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
