#include "main/line_reader.h"

#include "common/utf8.h"
#include "platform/platform.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Queues one line; false when reading must stop.
bool deliver(std::string line, LineChannel& lines) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (!is_valid_utf8(line))
        return false;
    return lines.send(std::move(line));
}

} // namespace

void read_lines(const std::function<long(char*, std::size_t)>& read, LineChannel& lines) {
    std::vector<char> buffer(64 * 1024);
    std::string pending;
    for (;;) {
        long n = read(buffer.data(), buffer.size());
        if (n <= 0) {
            // A last line without line feed still counts at the end of input.
            if (n == 0 && !pending.empty())
                deliver(std::move(pending), lines);
            break;
        }
        const char* data = buffer.data();
        const char* end = data + n;
        bool keep_going = true;
        while (keep_going && data < end) {
            const char* feed = std::find(data, end, '\n');
            pending.append(data, feed);
            if (feed == end)
                break;
            keep_going = deliver(std::move(pending), lines);
            pending.clear();
            data = feed + 1;
        }
        if (!keep_going)
            break;
    }
    lines.close_sender();
}

bool start_line_reader(ChannelPtr<std::string> lines) {
    try {
        std::thread reader([lines] {
            read_lines([](char* data,
                          std::size_t size) { return platform::read_standard_input(data, size); },
                       *lines);
        });
        // Never waited for: the process end stops a reader blocked on its input.
        reader.detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
