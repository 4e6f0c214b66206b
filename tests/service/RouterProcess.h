#pragma once

// The service as a process: its standard input and output through pipes. The
// process runs in the repository root, as the README runs it, so requests
// name profiles as "profiles/car.vpf".
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ferrow::service::testing {

struct ProcessResult {
    std::string output;
    int exitStatus = -1;
};

class RouterProcess {
public:
    explicit RouterProcess(const std::vector<std::string>& args) {
        int toChild[2];
        int fromChild[2];
        if (!openPipe(toChild) || !openPipe(fromChild)) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            if (chdir(FERROW_SOURCE_DIR) != 0) _exit(126);
            std::vector<char*> argv;
            std::string program = TREVASSA_ROUTER_PATH;
            argv.push_back(program.data());
            std::vector<std::string> copies(args);
            for (std::string& arg : copies) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }

    ~RouterProcess() {
        closeInput();
        if (out_ >= 0) close(out_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return; // the service has ended
            done += static_cast<std::size_t>(n);
        }
    }

    void closeInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }

    // Reads until `count` line feeds arrived or the time runs out.
    std::string readLines(int count, int timeoutMillis = 20000) {
        std::string text;
        while (count > 0) {
            pollfd ready{out_, POLLIN, 0};
            if (poll(&ready, 1, timeoutMillis) <= 0) break;
            char c;
            if (read(out_, &c, 1) != 1) break;
            text += c;
            if (c == '\n') --count;
        }
        return text;
    }

    pid_t pid() const noexcept { return pid_; }

    ProcessResult finish() {
        closeInput();
        ProcessResult run;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            run.output.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run;
    }

private:
    // A pipe whose ends a started service keeps only as its standard input
    // and output. Marked after opening: the tests start services from one thread.
    static bool openPipe(int ends[2]) {
        return pipe(ends) == 0 && fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

inline ProcessResult serve(const std::string& input, const std::vector<std::string>& args = {"demo"}) {
    RouterProcess process(args);
    process.write(input);
    return process.finish();
}

} // namespace ferrow::service::testing
