#include "agent_process.h"
#include "agent_process_shared.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

[[maybe_unused]] std::string narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// Polls the pipe so that the standard-output reader can be told to stop.
void drain(HANDLE pipe, std::string AgentProcess::Shared::*buffer, AgentProcess::Shared* shared,
           bool is_out) {
    char chunk[65536];
    for (;;) {
        if (is_out && shared->stop_reading_out)
            break;
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            break;
        if (available == 0) {
            Sleep(10);
            continue;
        }
        DWORD n = 0;
        if (!ReadFile(pipe, chunk, sizeof chunk, &n, nullptr) || n == 0)
            break;
        std::lock_guard<std::mutex> guard(shared->lock);
        (shared->*buffer).append(chunk, n);
        shared->changed.notify_all();
    }
    CloseHandle(pipe);
    std::lock_guard<std::mutex> guard(shared->lock);
    if (is_out)
        shared->out_closed = true;
    shared->changed.notify_all();
}

std::string make_root() {
    static std::atomic<int> counter{0};
    fs::path base = fs::temp_directory_path() / "kalto-e2e";
    for (;;) {
        fs::path dir = base / ("run-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(++counter));
        std::error_code error;
        fs::create_directories(base);
        if (fs::create_directory(dir, error))
            return dir.string();
    }
}

} // namespace

AgentProcess::AgentProcess(AgentOptions options) : shared_(new Shared) {
    root_ = make_root();
    fs::path bin = prepare_tree(root_, options);

    std::map<std::wstring, std::wstring> env;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (wchar_t* e = block; *e; e += wcslen(e) + 1) {
            std::wstring entry = e;
            std::size_t eq = entry.find(L'=', 1);
            if (eq != std::wstring::npos && entry.rfind(L"FAKE_OBS_", 0) != 0)
                env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    env[L"FAKE_OBS_JOURNAL"] = wide(root_ + "\\journal");
    env[L"TMP"] = env[L"TEMP"] = wide(root_ + "\\tmp");
    for (auto& [key, value] : options.env)
        env[wide(key)] = wide(value);
    std::wstring block;
    for (auto& [key, value] : env)
        block += key + L"=" + value + L'\0';
    block += L'\0';

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
    CreatePipe(&in_read, &in_write, &inherit, 0);
    CreatePipe(&out_read, &out_write, &inherit, 0);
    CreatePipe(&err_read, &err_write, &inherit, 0);
    for (HANDLE ours : {in_write, out_read, err_read})
        SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    std::wstring exe = (bin / options.executable).wstring();
    std::wstring command = L"\"" + exe + L"\"";
    for (const std::string& argument : options.arguments)
        command += L" \"" + wide(argument) + L"\"";
    std::wstring cwd =
        wide(options.working_directory.empty() ? root_ + "\\tmp" : options.working_directory);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, block.data(), cwd.c_str(), &startup, &info))
        throw std::runtime_error("CreateProcessW failed");
    CloseHandle(info.hThread);
    CloseHandle(in_read);
    CloseHandle(out_write);
    CloseHandle(err_write);
    shared_->process = info.hProcess;
    shared_->stdin_write = in_write;
    pid_ = static_cast<int>(info.dwProcessId);
    shared_->out_thread = std::thread(drain, out_read, &Shared::out, shared_, true);
    shared_->err_thread = std::thread(drain, err_read, &Shared::err, shared_, false);
}

AgentProcess::~AgentProcess() {
    if (!exited_) {
        TerminateProcess(shared_->process, 1);
        WaitForSingleObject(shared_->process, INFINITE);
    }
    close_input();
    if (shared_->out_thread.joinable())
        shared_->out_thread.join();
    if (shared_->err_thread.joinable())
        shared_->err_thread.join();
    CloseHandle(static_cast<HANDLE>(shared_->process));
    delete shared_;
    if (!::testing::Test::HasFailure()) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

void AgentProcess::send_raw(const std::string& bytes) {
    std::size_t done = 0;
    while (shared_->stdin_write && done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(shared_->stdin_write, bytes.data() + done,
                       static_cast<DWORD>(bytes.size() - done), &n, nullptr) ||
            n == 0)
            return;
        done += n;
    }
}

void AgentProcess::close_input() {
    if (shared_->stdin_write)
        CloseHandle(shared_->stdin_write);
    shared_->stdin_write = nullptr;
}

int AgentProcess::wait_exit(std::chrono::milliseconds deadline) {
    if (exited_)
        return exit_code_;
    if (WaitForSingleObject(shared_->process, static_cast<DWORD>(deadline.count())) !=
        WAIT_OBJECT_0) {
        TerminateProcess(shared_->process, 1);
        WaitForSingleObject(shared_->process, INFINITE);
        exited_ = true;
        exit_code_ = -1;
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(shared_->process, &code);
    exited_ = true;
    exit_code_ = static_cast<int>(code);
    if (shared_->out_thread.joinable())
        shared_->out_thread.join();
    if (shared_->err_thread.joinable())
        shared_->err_thread.join();
    return exit_code_;
}
