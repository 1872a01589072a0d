// model_contained.cpp - a model read by the model reader program under a
// memory and time watch (model_contained.h).
#include "model_contained.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "model_wire.h"

extern char** environ;

namespace {

constexpr int kWatchMilliseconds = 10;  // between two looks at the reader's memory

void fail(const std::string& path, const std::string& problem) {
    std::fprintf(stderr, "model: %s: %s\n", path.c_str(), problem.c_str());
}

// The reader's resident memory in bytes, or -1 once it is gone.
long long residentBytes(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

std::string megabytes(long long bytes) { return std::to_string(bytes >> 20) + " MB"; }

constexpr std::size_t kMaxMessageBytes = 1 << 16;  // of the reader's standard error, kept

struct Child {
    pid_t pid = -1;
    int output = -1;    // read end of the reader's standard output: the model
    int messages = -1;  // read end of its standard error
};

bool spawnReader(const std::vector<std::string>& args, Child* child, std::string* problem) {
    int pipeEnds[2], messageEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        *problem = std::string("cannot start the model reader (") + std::strerror(errno) + ")";
        return false;
    }
    if (pipe2(messageEnds, O_CLOEXEC) != 0) {
        *problem = std::string("cannot start the model reader (") + std::strerror(errno) + ")";
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, messageEnds[1], 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    close(messageEnds[1]);
    if (error != 0) {
        close(pipeEnds[0]);
        close(messageEnds[0]);
        *problem = "cannot start the model reader " + args[0] + " (" + std::strerror(error) + ")";
        return false;
    }
    child->pid = pid;
    child->output = pipeEnds[0];
    child->messages = messageEnds[0];
    return true;
}

// Collects the reader's model and messages until it closes both, while
// watching its memory and time. Empty problem: the reader finished within
// the limits.
std::string collect(const Child& child, const ModelReadLimits& limits, std::string* bytes, std::string* said) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<char> chunk(1 << 16);
    bool outputOpen = true, messagesOpen = true;
    while (outputOpen || messagesOpen) {
        pollfd ready[2] = {{outputOpen ? child.output : -1, POLLIN, 0}, {messagesOpen ? child.messages : -1, POLLIN, 0}};
        const int n = poll(ready, 2, kWatchMilliseconds);
        if (n < 0 && errno != EINTR) return std::string("cannot watch the model reader (") + std::strerror(errno) + ")";
        for (int i = 0; n > 0 && i < 2; ++i) {
            if (ready[i].revents == 0) continue;
            const ssize_t got = read(ready[i].fd, chunk.data(), chunk.size());
            if (got < 0 && errno != EINTR && errno != EAGAIN)
                return std::string("cannot read from the model reader (") + std::strerror(errno) + ")";
            if (got == 0) (i == 0 ? outputOpen : messagesOpen) = false;
            if (got <= 0) continue;
            if (i == 0) bytes->append(chunk.data(), std::size_t(got));
            else if (said->size() < kMaxMessageBytes) said->append(chunk.data(), std::size_t(got));
        }
        if ((long long)bytes->size() > limits.memoryBytes)
            return "its meshes and textures take more than " + megabytes(limits.memoryBytes) + "; refused";
        if (residentBytes(child.pid) > limits.memoryBytes)
            return "needs more than " + megabytes(limits.memoryBytes) + " of memory to read; refused";
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds > limits.seconds) {
            char text[64];
            std::snprintf(text, sizeof text, "takes longer than %g s to read; refused", limits.seconds);
            return text;
        }
    }
    return "";
}

}  // namespace

std::string modelReaderPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(".") : self.parent_path()) / "model_reader";
}

bool loadModelContained(const std::string& path, const std::string& texturePathOrEmpty, Model* model,
                        const ModelReadLimits& limits) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", limits.seconds);
    std::vector<std::string> args = {modelReaderPath(), "--memory-bytes", std::to_string(limits.memoryBytes),
                                     "--seconds", seconds, "--", path};
    if (!texturePathOrEmpty.empty()) args.push_back(texturePathOrEmpty);
    Child child;
    std::string problem;
    if (!spawnReader(args, &child, &problem)) {
        fail(path, problem);
        return false;
    }
    std::string bytes, said;
    problem = collect(child, limits, &bytes, &said);
    if (!problem.empty()) kill(child.pid, SIGKILL);
    close(child.output);
    close(child.messages);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A reader stopped or crashed is reported in one line; whatever it said
    // on the way (a crash report, half a warning) is dropped.
    if (!problem.empty()) {
        fail(path, problem);
        return false;
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        fail(path, signal == SIGXCPU || signal == SIGKILL
                       ? "takes too long or too much memory to read; refused"
                       : std::string("the model reader failed on it (") + strsignal(signal) + ")");
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // Its own refusal is one line; anything else is a crash report (a
        // sanitizer's, say), dropped like the crash's.
        const bool oneLine = said.rfind("model: ", 0) == 0 && said.find('\n') == said.size() - 1;
        if (oneLine) std::fwrite(said.data(), 1, said.size(), stderr);
        else fail(path, said.empty() ? "cannot be read" : "the model reader failed on it");
        return false;
    }
    std::fwrite(said.data(), 1, said.size(), stderr);  // its warnings
    if (!decodeModel(bytes.data(), bytes.size(), model)) {
        fail(path, "the model reader's answer is incomplete");
        return false;
    }
    return true;
}
