#include "agent_process.h"
#include "agent_process_shared.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

void drain(int fd, std::string AgentProcess::Shared::*buffer, AgentProcess::Shared* shared,
           bool is_out) {
    char chunk[65536];
    for (;;) {
        pollfd wait_for{fd, POLLIN, 0};
        int ready = poll(&wait_for, 1, 50);
        if (is_out && shared->stop_reading_out)
            break;
        if (ready == 0)
            continue;
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        std::lock_guard<std::mutex> guard(shared->lock);
        (shared->*buffer).append(chunk, static_cast<std::size_t>(n));
        shared->changed.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> guard(shared->lock);
    if (is_out)
        shared->out_closed = true;
    shared->changed.notify_all();
}

std::string make_root() {
    fs::path base = fs::temp_directory_path() / "kalto-e2e";
    fs::create_directories(base);
    std::string pattern = (base / "run-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    return made;
}

} // namespace

AgentProcess::AgentProcess(AgentOptions options) : shared_(new Shared) {
    // Writing to an agent that has already ended must fail, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    root_ = make_root();
    fs::path bin = prepare_tree(root_, options);
    shared_->log_kind = protocol_log_kind(options.arguments);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::size_t eq = entry.find('=');
        if (eq != std::string::npos && entry.rfind("FAKE_OBS_", 0) != 0)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env["FAKE_OBS_JOURNAL"] = root_ + "/journal";
    env["TMPDIR"] = root_ + "/tmp";
    for (auto& [key, value] : options.env)
        env[key] = value;
    std::vector<std::string> env_strings;
    for (auto& [key, value] : env)
        env_strings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::string cwd =
        options.working_directory.empty() ? root_ + "/tmp" : options.working_directory;
    std::string exe = (bin / options.executable).string();
    std::vector<std::string> args = options.launcher;
    args.push_back(exe);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    for (std::string& argument : options.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_fd_ = in[1];
    shared_->out_fd = out[0];
    shared_->err_fd = err[0];
    shared_->out_thread = std::thread(drain, out[0], &Shared::out, shared_, true);
    shared_->err_thread = std::thread(drain, err[0], &Shared::err, shared_, false);
}

AgentProcess::~AgentProcess() {
    if (!exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_input();
    if (shared_->out_thread.joinable())
        shared_->out_thread.join();
    if (shared_->err_thread.joinable())
        shared_->err_thread.join();
    save_protocol_log(shared_->protocol, shared_->out, root_, shared_->log_kind);
    delete shared_;
    if (!::testing::Test::HasFailure() && std::getenv("KALTO_KEEP_E2E") == nullptr) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

void AgentProcess::send_raw(const std::string& bytes) {
    log_sent(shared_->protocol, bytes);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(stdin_fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void AgentProcess::close_input() {
    if (stdin_fd_ >= 0)
        close(stdin_fd_);
    stdin_fd_ = -1;
}

int AgentProcess::wait_exit(std::chrono::milliseconds deadline) {
    if (exited_)
        return exit_code_;
    auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            exited_ = true;
            exit_code_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(5ms); // polling the child's state, not synchronising
    }
    exited_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Everything written before the end is in the pipes: wait for the readers.
    if (shared_->out_thread.joinable())
        shared_->out_thread.join();
    if (shared_->err_thread.joinable())
        shared_->err_thread.join();
    return exit_code_;
}
