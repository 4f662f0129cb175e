// ica-harness: plays the Citrix client for the ica-pipe plug-in. It loads the
// plug-in, asks for its module information, opens the channel (which starts
// the agent named by INKORA_ICA_PIPE_EXEC), then relays: what arrives on its
// standard input goes to the plug-in as channel data, what the plug-in sends
// over the channel goes to its standard output. After its input ends it keeps
// polling for --linger milliseconds, then closes the channel and unloads.
//
//   ica-harness [--direct] [--plugin PATH] [--linger MS] [--max-write N]
//
// --direct offers the direct send procedure (otherwise buffered mode with a
// poll every millisecond). Diagnostics go to standard error.
#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ica-harness.h"

namespace {

bool write_all(int fd, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void flush_received(inkora::harness::IcaClient& client) {
    const std::vector<uint8_t> bytes = client.takeReceived();
    if (!bytes.empty()) {
        write_all(STDOUT_FILENO, bytes.data(), bytes.size());
    }
}

int usage() {
    std::fputs("usage: ica-harness [--direct] [--plugin PATH] [--linger MS] [--max-write N]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    inkora::harness::ClientOptions options;
    std::string plugin = INKORA_ICA_PIPE_PLUGIN;
    long lingerMs = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--direct") {
            options.offerDirectSend = true;
        } else if (arg == "--plugin" && i + 1 < argc) {
            plugin = argv[++i];
        } else if (arg == "--linger" && i + 1 < argc) {
            lingerMs = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--max-write" && i + 1 < argc) {
            options.maximumWriteSize = static_cast<uint16_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return usage();
        }
    }

    inkora::harness::IcaClient client(options);
    std::string error;
    if (!client.load(plugin, &error)) {
        std::fprintf(stderr, "ica-harness: cannot load %s: %s\n", plugin.c_str(), error.c_str());
        return 1;
    }
    if (!client.moduleInfo()) {
        std::fputs("ica-harness: the plug-in's module information is not as expected\n", stderr);
        return 1;
    }
    if (const int result = client.open(); result != 0) {
        std::fprintf(stderr, "ica-harness: open failed with %d\n", result);
        return 1;
    }

    std::array<uint8_t, 4996> buffer{};
    bool inputOpen = true;
    auto lingerEnd = std::chrono::steady_clock::time_point::max();
    while (std::chrono::steady_clock::now() < lingerEnd) {
        if (inputOpen) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (::poll(&input, 1, 1) > 0) {
                const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
                if (n > 0) {
                    client.deliver(buffer.data(), static_cast<std::size_t>(n));
                } else {
                    inputOpen = false;
                    lingerEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(lingerMs);
                }
            }
        } else {
            usleep(1000);
        }
        if (!options.offerDirectSend) {
            client.poll();
        }
        flush_received(client);
    }
    client.close();
    flush_received(client);
    client.unload();
    return 0;
}
