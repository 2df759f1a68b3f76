#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tess {

// A private sound server for one test: its own runtime folder, a native
// socket in it, and a null sink ("tess_null", 8000 Hz mono) whose monitor can
// be recorded. Every wait is bounded; the server is ended with the object.
class PulseServer {
public:
    static constexpr const char* kSinkName = "tess_null";

    PulseServer() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tess-pulse-XXXXXX");
        if (!mkdtemp(pattern.data())) {
            error_ = "cannot create a temporary folder";
            return;
        }
        dir_ = pattern;
        std::filesystem::create_directories(dir_ / "home");
        std::filesystem::create_directories(dir_ / "runtime");
        socket_ = (dir_ / "runtime" / "native").string();
        const std::filesystem::path script = dir_ / "server.pa";
        std::ofstream(script) << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                              << socket_ << "\n"
                              << "load-module module-null-sink sink_name=" << kSinkName
                              << " rate=8000 channels=1 format=s16le\n"
                              << "set-default-sink " << kSinkName << "\n";
        const std::string log = (dir_ / "server.log").string();
        server_ =
            spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                   "--system=false", "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                   "--log-target=stderr", "-F", script.string()},
                  log);
        if (server_ <= 0) {
            error_ = "cannot start pulseaudio";
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!accepting()) {
            int status = 0;
            if (waitpid(server_, &status, WNOHANG) == server_) {
                server_ = -1;
                error_ = "pulseaudio ended: " + readText(log);
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                error_ = "pulseaudio did not open its socket: " + readText(log);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    ~PulseServer() {
        end(recorder_);
        end(server_);
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Empty when the server runs; otherwise why it does not.
    const std::string& error() const { return error_; }
    std::string address() const { return "unix:" + socket_; }

    // Records the null sink's monitor (16-bit mono, 8000 Hz) until `stopRecording`.
    // Returns once the recorder delivers (the idle sink's silence counts), which
    // takes the client a second or more here; false if it does not within 5 s.
    bool startRecording() {
        const std::filesystem::path raw = dir_ / "record.raw";
        recorder_ = spawn(
            {"parec", "--server=" + address(), std::string("--device=") + kSinkName + ".monitor",
             "--rate=8000", "--channels=1", "--format=s16le", "--raw", "--latency-msec=20"},
            (dir_ / "record.log").string(), raw.string());
        if (recorder_ <= 0) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::error_code ignored;
        while (std::filesystem::file_size(raw, ignored) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    std::string recorderLog() const { return readText((dir_ / "record.log").string()); }
    std::vector<int16_t> stopRecording() {
        end(recorder_);
        std::ifstream in(dir_ / "record.raw", std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<int16_t> samples(bytes.size() / 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                              (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
        }
        return samples;
    }

private:
    // Starts `args` with stderr (and stdout, or `output` when given) to `log`,
    // in an environment whose home and runtime folders lie in the test folder.
    // Everything is prepared before the fork: the child only redirects and execs.
    static pid_t spawn(const std::vector<std::string>& args, const std::string& log,
                       const std::string& output = {}) {
        const std::filesystem::path dir = std::filesystem::path(log).parent_path();
        std::vector<std::string> env = {"HOME=" + (dir / "home").string(),
                                        "XDG_RUNTIME_DIR=" + (dir / "runtime").string(),
                                        "XDG_CONFIG_HOME=" + (dir / "home").string()};
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (!text.starts_with("HOME=") && !text.starts_with("XDG_") &&
                !text.starts_with("DBUS_") && !text.starts_with("PULSE_")) {
                env.emplace_back(text);
            }
        }
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int outFd =
            output.empty() ? logFd
                           : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (logFd < 0 || outFd < 0) return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(outFd, STDOUT_FILENO);
            dup2(logFd, STDERR_FILENO);
            execvpe(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(logFd);
        if (outFd != logFd) close(outFd);
        return pid;
    }

    // SIGTERM, up to 3 s to end, then SIGKILL.
    static void end(pid_t& pid) {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid = -1;
    }

    bool accepting() const {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        return ok;
    }

    static std::string readText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path dir_;
    std::string socket_;
    std::string error_;
    pid_t server_ = -1;
    pid_t recorder_ = -1;
};

// Power of `frequency` in `samples` (8000 Hz), normalised per sample
// (a Goertzel filter): how much of a recording is one tone.
inline double tonePower(const std::vector<int16_t>& samples, double frequency) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / 8000.0);
    double previous = 0, beforePrevious = 0;
    for (int16_t sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    return power / static_cast<double>(samples.size() * samples.size());
}

// A test with a private sound server that PULSE_SERVER points at.
class PulseServerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.error().empty()) GTEST_SKIP() << "no sound server: " << server_.error();
        setenv("PULSE_SERVER", server_.address().c_str(), 1);
    }
    void TearDown() override { unsetenv("PULSE_SERVER"); }

    PulseServer server_;
};

}  // namespace tess
