// The service as a process: its standard input and output through pipes.
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

#include <gtest/gtest.h>

namespace {

struct ProcessResult {
    std::string output;
    int exitStatus = -1;
};

class RouterProcess {
public:
    explicit RouterProcess(const std::vector<std::string>& args) {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
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
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

ProcessResult serve(const std::string& input, const std::vector<std::string>& args = {"demo"}) {
    RouterProcess process(args);
    process.write(input);
    return process.finish();
}

} // namespace

TEST(ServiceProcess, UsageWithoutArgument) {
    const ProcessResult run = serve("1\tprofile=x\n", {});
    EXPECT_EQ(run.output, "usage: trevassa-router <segmentDir>\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, ReadyThenQuit) {
    EXPECT_EQ(serve("quit\n").output, "ready\n");
    EXPECT_EQ(serve("quit\r\n").output, "ready\n");
    EXPECT_EQ(serve("quit\n7\tlonlats=1,2\n").output, "ready\n");
    const ProcessResult run = serve("quit\r\n", {"demo", "ignored", "args"});
    EXPECT_EQ(run.output, "ready\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, EndOfInputEndsTheService) {
    const ProcessResult run = serve("");
    EXPECT_EQ(run.output, "ready\n");
    EXPECT_EQ(run.exitStatus, 0);
    // A last line without line feed is still answered; one ending in CR keeps it.
    EXPECT_EQ(serve("7\tlonlats=1,2").output, "ready\n7\t0\tprofile parameter not set\n");
    EXPECT_EQ(serve("quit\r").output, "ready\n");
}

TEST(ServiceProcess, LinesWithoutTabAreIgnored) {
    EXPECT_EQ(serve("hello\n\n quit\nQUIT\nquit \n").output, "ready\n");
}

TEST(ServiceProcess, RequestAnswers) {
    const ProcessResult run = serve(
        "7\tlonlats=1,2\n"
        "\tlonlats=1,2\n"
        "id with spaces äöü\tfoo=bar\r\n"
        "2\tprofile=%G1\n"
        "3\tprofile=profiles/car.vpf&lonlats=8.0,50.0;8.01,50.01\n"
        "quit\n");
    EXPECT_EQ(run.output,
              "ready\n"
              "7\t0\tprofile parameter not set\n"
              "\t0\tprofile parameter not set\n"
              "id with spaces äöü\t0\tprofile parameter not set\n"
              "2\t0\tURLDecoder: Illegal hex characters in escape (%) pattern\n"
              "3\t0\trouting engine not available yet\n");
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(ServiceProcess, EachAnswerIsFlushedBeforeTheNextRequest) {
    RouterProcess process({"demo"});
    EXPECT_EQ(process.readLines(1), "ready\n");
    process.write("a\tlonlats=1\n");
    EXPECT_EQ(process.readLines(1), "a\t0\tprofile parameter not set\n");
    process.write("b\tx=%\n");
    EXPECT_EQ(process.readLines(1), "b\t0\tURLDecoder: Incomplete trailing escape (%) pattern\n");
    process.write("quit\n");
    const ProcessResult run = process.finish();
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exitStatus, 0);
}
