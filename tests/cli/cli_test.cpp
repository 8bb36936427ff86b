// quorvik-cli as a user runs it: two processes joined by the null-modem
// simulator, each from a folder of its own with its codec and Options.ini.
#include "link/Codec.h"
#include "tests/support/NullModem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

constexpr int Patience = 15000; // ms

// A folder with the program, its codec and short delays, removed at the end.
class Install {
public:
    Install() {
        std::string pattern = (fs::temp_directory_path() / "quorvik-cli-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        dir_ = pattern;
        const fs::path bin = QUORVIK_BIN_DIR;
        fs::copy_file(bin / "quorvik-cli", dir_ / "quorvik-cli");
        fs::copy_file(bin / CodecLibraryName(), dir_ / CodecLibraryName());
        std::ofstream(dir_ / "Options.ini") << "[times]\nTimeWait=300\nTimeOptions=200\n";
    }
    ~Install() { fs::remove_all(dir_); }
    fs::path Program() const { return dir_ / "quorvik-cli"; }
    std::string Options() const {
        std::ifstream in(dir_ / "Options.ini");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    fs::path dir_;
};

// A child process with its three standard streams on pipes.
class Process {
public:
    Process(const fs::path& program, std::vector<std::string> args) {
        args.insert(args.begin(), program.string());
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
            throw std::runtime_error("pipe2");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            close_range(3, ~0u, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        in_ = UniqueFd(in[1]);
        out_ = UniqueFd(out[0]);
        err_ = UniqueFd(err[0]);
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void Say(const std::string& line) {
        const std::string text = line + "\n";
        WriteAll(in_.Get(), text.data(), text.size());
    }
    void CloseInput() { in_.Reset(); }
    void Signal(int signal) { kill(pid_, signal); }

    // Reads standard output until a line satisfies match; returns that line.
    std::optional<std::string> WaitForLine(const std::function<bool(const std::string&)>& match,
                                           int ms = Patience) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                lines_.push_back(line);
                if (match(line))
                    return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd fd{out_.Get(), POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(out_.Get(), buffer, sizeof buffer);
            if (got <= 0)
                return std::nullopt;
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }
    bool WaitFor(const std::string& line) {
        return WaitForLine([&](const std::string& l) { return l == line; }).has_value();
    }

    // The exit status, or -1 when the process did not end in time.
    int Wait(int ms = Patience) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    // Everything written to standard error; call once the process has ended.
    std::string Errors() {
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = read(err_.Get(), buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

private:
    pid_t pid_ = -1;
    UniqueFd in_, out_, err_;
    std::string pending_;
    std::vector<std::string> lines_;
};

bool IsChatLine(const std::string& line, const std::string& user, const std::string& text) {
    const std::string head = user + ":[";
    const std::string tail = "] " + text;
    return line.size() > head.size() + tail.size() && line.starts_with(head) &&
           line.ends_with(tail);
}

const std::string TimedOut = "* Превышен интервал ожидания ответа. Разрыв соединения.";

TEST(Cli, TwoProgramsConnectChatAndPart) {
    NullModem modem;
    Install homeA, homeB;
    Process a(homeA.Program(), {"--user", "Алиса", "--port", modem.PortA()});
    ASSERT_TRUE(a.WaitFor(TimedOut)); // nobody answered the first greeting

    Process b(homeB.Program(), {"--user", "Борис", "--port", modem.PortB()});
    ASSERT_TRUE(b.WaitFor("* Соединение установлено"));
    ASSERT_TRUE(a.WaitFor("* Cоединение установлено"));

    a.Say("привет, Борис");
    EXPECT_TRUE(b.WaitForLine([](auto& l) { return IsChatLine(l, "Алиса", "привет, Борис"); }));
    b.Say("  Здравствуй «Алиса»  ");
    EXPECT_TRUE(
        a.WaitForLine([](auto& l) { return IsChatLine(l, "Борис", "Здравствуй «Алиса»"); }));

    a.CloseInput();
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(a.Errors(), "");
    EXPECT_TRUE(b.WaitFor("* Разрыв соединения"));

    b.Signal(SIGTERM);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_EQ(b.Errors(), "");

    // The settings were saved, with the port parameters taken from the peer
    // and the answer interval the last message set, whichever came first of
    // its answer and the report that it was written.
    for (const Install* home : {&homeA, &homeB}) {
        const std::string options = home->Options();
        EXPECT_NE(options.find("BaudRate=14400"), std::string::npos) << options;
        EXPECT_NE(options.find("TimeWait=500"), std::string::npos) << options;
        EXPECT_NE(options.find("TimeOptions=200"), std::string::npos) << options;
    }
}

TEST(Cli, ALineWithoutAPeerIsReportedAndTheProgramStillEnds) {
    NullModem modem;
    Install home;
    Process a(home.Program(), {"--user", "Алиса", "--port", modem.PortA()});
    a.Say("эй, ты где?");
    a.CloseInput();
    EXPECT_EQ(a.Wait(), 0);
    const std::string errors = a.Errors();
    EXPECT_TRUE(errors.starts_with("! не доставлено: Алиса:[")) << errors;
    EXPECT_NE(errors.find("] эй, ты где?\n"), std::string::npos) << errors;
}

TEST(Cli, RefusedStartsExitWithTheReason) {
    Install home;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errors;
    };
    const Case cases[] = {
        {{"--user", "Алиса", "--port", "/dev/no-such-port"}, 1, "! Не удалось открыть порт\n"},
        {{"--user", "Алиса", "--port", ""}, 1, "! Не указано имя порта\n"},
        {{"--user", "Алиса"}, 2, "usage: quorvik-cli --user NAME --port PORT\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Process p(home.Program(), c.args);
        EXPECT_EQ(p.Wait(), c.status);
        EXPECT_EQ(p.Errors(), c.errors);
    }
}

} // namespace
} // namespace quorvik
