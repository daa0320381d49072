#pragma once

// Runs the built agent as a child process inside an installation tree of its
// own, with the fake engine beside it, and reads what it writes.

#include "platform_names.h"

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

struct AgentOptions {
    // Fake engine variant copied in as the engine library; empty for none.
    std::string engine = "fake_obs";
    // Module names whose library file exists in the tree.
    std::vector<std::string> modules;
    // Extra environment, FAKE_OBS_* scripts included.
    std::map<std::string, std::string> env;
    // Working directory of the child; the tree's own "tmp" when empty.
    std::string working_directory;
    // An installed tree to run as it is, instead of a tree made for the test.
    std::string installed_root;
    // A program the agent is started through, such as {"wine"} (POSIX only), and the
    // agent's file name in the tree's bin/64bit.
    std::vector<std::string> launcher;
    std::string executable = test_platform::agent_file;
    // The agent's command-line arguments.
    std::vector<std::string> arguments;
};

class AgentProcess {
  public:
    explicit AgentProcess(AgentOptions options = {});
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    void send(const std::string& line) { send_raw(line + "\n"); }
    void send_raw(const std::string& bytes);
    void close_input();
    void close_output(); // stops reading what the agent writes

    // The next event line not yet taken, within the deadline.
    std::optional<nlohmann::json> next_event(std::chrono::milliseconds deadline = 10s);
    // Takes events until one of this kind arrives; fails the test otherwise.
    nlohmann::json expect_event(const std::string& kind, std::chrono::milliseconds deadline = 10s);
    // Waits for the agent to end; -1 when it did not within the deadline (then killed).
    int wait_exit(std::chrono::milliseconds deadline = 30s);

    std::vector<std::string> stdout_lines() const;
    std::string stdout_text() const;
    std::string stderr_text() const;
    // The fake engine's call journal, one call per line.
    std::vector<std::string> journal() const;
    const std::string& root() const { return root_; }
    int pid() const { return pid_; }

    struct Shared;

  private:
    Shared* shared_;
    std::string root_;
    int pid_ = -1;
    int stdin_fd_ = -1;
    bool exited_ = false;
    int exit_code_ = -1;
};

// Journal lines that start with `prefix`, in order.
std::vector<std::string> journal_calls(const std::vector<std::string>& journal,
                                       const std::string& prefix);

// Every module a stock installation has, in the agent's fixed order.
extern const std::vector<std::string> all_modules;

// The single line an agent prints before it ends with `code` (empty when it printed none).
std::string only_line(AgentProcess& agent, int code);

// A typical start line; `extra` members override or add to it.
std::string start_line(nlohmann::json extra = nlohmann::json::object());
