#include "program_file.h"

#include <cstdio>
#include <unistd.h>

std::string without_deleted(std::string name) {
    const std::string deleted = " (deleted)";
    if (name.ends_with(deleted))
        name.resize(name.size() - deleted.size());
    return name;
}

std::string program_file(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
    char target[4096];
    ssize_t size = readlink(path, target, sizeof target - 1);
    if (size <= 0)
        return "";
    std::string program(target, static_cast<std::size_t>(size));
    return without_deleted(program.substr(program.rfind('/') + 1));
}
