#include "../../linux/modules/win-wasapi/process_streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

TEST(ProcessStreams, AStreamCountsOnlyWhenItsProcessHereRunsTheProgramItNames) {
    std::string self = std::to_string(getpid());
    std::string program = std::filesystem::read_symlink("/proc/self/exe").filename();
    EXPECT_EQ(stream_process(self.c_str(), program.c_str()), getpid());
    // A sandboxed client's number names another process here, running another program.
    EXPECT_EQ(stream_process(self.c_str(), "autre-programme"), 0);
    // Replaced on disk since it started: the client says so, as /proc does.
    EXPECT_EQ(stream_process(self.c_str(), (program + " (deleted)").c_str()), getpid());
    EXPECT_EQ(stream_process(nullptr, program.c_str()), 0);
    EXPECT_EQ(stream_process(self.c_str(), nullptr), 0);
    // The first process names no application, whatever it runs.
    std::string first;
    std::getline(std::ifstream("/proc/1/comm"), first);
    EXPECT_EQ(stream_process("1", first.c_str()), 0);
}

TEST(ProcessStreams, AProcessDescendsFromItsParentsOnly) {
    EXPECT_TRUE(process_descends_from(getpid(), getpid()));
    if (getppid() > 1) { // not so when the test is a container's first process
        EXPECT_TRUE(process_descends_from(getpid(), getppid()));
        EXPECT_FALSE(process_descends_from(getppid(), getpid()));
    }
    // Every process descends from the first: following it would take every stream.
    EXPECT_FALSE(process_descends_from(getpid(), 1));
}
