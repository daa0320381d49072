#include "main/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Feeds the reader from memory, a few bytes at a time.
std::vector<std::string> read_all(const std::string& input, std::size_t chunk,
                                  bool fail_at_end = false) {
    LineChannel lines;
    std::size_t at = 0;
    read_lines(
        [&](char* buffer, std::size_t size) -> long {
            if (at >= input.size())
                return fail_at_end ? -1 : 0;
            std::size_t n = std::min({size, chunk, input.size() - at});
            std::memcpy(buffer, input.data() + at, n);
            at += n;
            return static_cast<long>(n);
        },
        lines);
    std::vector<std::string> out;
    for (;;) {
        auto received = lines.receive_for(std::chrono::milliseconds(0));
        if (received.status != LineChannel::Status::Item)
            break;
        out.push_back(*received.item);
    }
    return out;
}

TEST(LineReader, SplitsLinesAndStripsOneCarriageReturn) {
    for (std::size_t chunk : {1u, 3u, 1000u}) {
        EXPECT_EQ(read_all("a\nb\r\n\r\r\n\nlast", chunk),
                  (std::vector<std::string>{"a", "b", "\r", "", "last"}))
            << chunk;
    }
}

TEST(LineReader, InvalidUtf8EndsReading) {
    EXPECT_EQ(read_all("ok\nbad\xff\nnever\n", 4), (std::vector<std::string>{"ok"}));
}

TEST(LineReader, AFailedReadDropsThePartialLine) {
    EXPECT_EQ(read_all("a\npartial", 100, true), (std::vector<std::string>{"a"}));
}

TEST(LineChannel, QueuedLinesComeBeforeTheEnd) {
    LineChannel channel;
    channel.send("one");
    channel.close_sender();
    auto first = channel.receive_for(std::chrono::milliseconds(0));
    EXPECT_EQ(first.status, LineChannel::Status::Item);
    EXPECT_EQ(channel.receive_for(std::chrono::milliseconds(0)).status,
              LineChannel::Status::Closed);
    LineChannel open;
    EXPECT_EQ(open.receive_for(std::chrono::milliseconds(1)).status, LineChannel::Status::Timeout);
}

TEST(LineChannel, SendsAfterTheReceiverIsGoneAreDropped) {
    auto channel = std::make_shared<Channel<int>>();
    {
        Receiver<int> receiver(channel);
        EXPECT_TRUE(channel->send(1));
    }
    EXPECT_FALSE(channel->send(2));
}

} // namespace
