// recognize-server as a process: its exit statuses, and a stop by SIGTERM
// that finishes the request under way before the program ends with 0.
#include "serviceFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// The program started on a free port; its standard output read up to the
// line that gives the port.
struct serverProcess {
    pid_t pid = -1;
    int port = -1;
    FILE* output = nullptr;

    explicit serverProcess(const std::vector<std::string>& args) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            if (chdir(RECOG_SOURCE_DIR) != 0) _exit(126);
            std::string program = programPath("recognize-server");
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        output = fdopen(pipeFds[0], "r");
        char line[4096];
        while (output && std::fgets(line, sizeof line, output)) {
            if (std::sscanf(line, "Listening on http://127.0.0.1:%d/", &port) == 1) break;
        }
    }
    // Waits for the exit and gives its status (-1 when it did not exit normally).
    int wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        if (output) std::fclose(output);
        output = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~serverProcess() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            wait();
        }
    }
};

int connectTo(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEST(ServerProcess, ExitStatusesOfStartFailures) {
    EXPECT_EQ(runCommand(shellQuote(programPath("recognize-server")) + " 2>&1").status, 1);
    EXPECT_EQ(runCommand(shellQuote(programPath("recognize-server")) + " --port x a.prm 2>&1").status, 1);
    commandResult missing =
        runCommand(shellQuote(programPath("recognize-server")) + " --port 0 /nonexistent/params.prm 2>&1");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("/nonexistent/params.prm"), std::string::npos) << missing.output;
    scratchDir dir;
    commandResult noToken = runCommand("cd " + shellQuote(RECOG_SOURCE_DIR) + " && " +
                                       shellQuote(programPath("recognize-server")) + " --quiet --port 0 --token-file " +
                                       shellQuote(dir.write("empty", "\n")) + " examples/assess.prm 2>&1");
    EXPECT_EQ(noToken.status, 2) << noToken.output;
}

TEST(ServerProcess, SigtermFinishesTheRequestUnderWay) {
    serverProcess server({"--port", "0", "--threads", "1", "examples/assess.prm"});
    ASSERT_GT(server.port, 0);

    // A request whose body is still on its way when the signal comes.
    std::string wave = readWholeFile(exampleWave());
    std::string body = "--b\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\n" + std::string(EXAMPLE_TEXT) +
                       "\r\n--b\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"a.wav\"\r\n"
                       "Content-Type: audio/wav\r\n\r\n" +
                       wave + "\r\n--b--\r\n";
    std::string head = "POST /v1/assess HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                       "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n";
    int fd = connectTo(server.port);
    ASSERT_GE(fd, 0);
    std::string first = head + body.substr(0, 1000);
    ASSERT_EQ(send(fd, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
    usleep(200000);
    ASSERT_EQ(kill(server.pid, SIGTERM), 0);
    usleep(300000);
    // No new connection is taken any more.
    int late = connectTo(server.port);
    EXPECT_LT(late, 0);
    if (late >= 0) close(late);

    std::string rest = body.substr(1000);
    ASSERT_EQ(send(fd, rest.data(), rest.size(), 0), static_cast<ssize_t>(rest.size()));
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find("\"score\":"), std::string::npos);
    EXPECT_EQ(server.wait(), 0);
}
