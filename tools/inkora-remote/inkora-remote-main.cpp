// inkora-remote: the reference remote-side client. It starts the agent
// (directly or through the ica-pipe plug-in), speaks the wire protocol with
// it and answers "does the pad work here?".
//
//   inkora-remote [GLOBAL OPTIONS] COMMAND [ARGUMENTS]
//   inkora-remote COMMAND --help
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "inkora-remote.h"

namespace {

void on_signal(int) { inkora::tool::request_stop(); }

std::string self_path(const char* argv0) {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv0);
}

} // namespace

int main(int argc, char** argv) {
    using namespace inkora::tool;
    if (const auto relayed = run_relay_if_asked())
        return *relayed;

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    GlobalOptions options;
    options.self = self_path(argv[0]);
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string* target = arg == "--agent"       ? &options.agent
                              : arg == "--plugin"    ? &options.plugin
                              : arg == "--simulated" ? &options.simulated
                              : arg == "--trace"     ? &options.trace
                                                     : nullptr;
        if (target != nullptr) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "inkora-remote: %s needs a value\n", argv[i]);
                return kExitUsage;
            }
            *target = argv[++i];
            continue;
        }
        if (arg == "--help" || arg == "-h" || arg == "help") {
            if (arg == "help" && i + 1 < argc) {
                if (const Command* command = find_command(argv[i + 1])) {
                    print_command_help(*command, stdout);
                    return kExitOk;
                }
                std::fprintf(stderr, "inkora-remote: no command %s\n", argv[i + 1]);
                return kExitUsage;
            }
            print_overview(stdout);
            return kExitOk;
        }
        if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "inkora-remote: unknown option %s\n", argv[i]);
            print_overview(stderr);
            return kExitUsage;
        }
        break;
    }
    if (i >= argc) {
        print_overview(stderr);
        return kExitUsage;
    }
    const Command* command = find_command(argv[i]);
    if (command == nullptr) {
        std::fprintf(stderr, "inkora-remote: no command %s (see inkora-remote --help)\n", argv[i]);
        return kExitUsage;
    }
    std::span<char*> args(argv + i + 1, static_cast<size_t>(argc - i - 1));
    for (char* arg : args) {
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            print_command_help(*command, stdout);
            return kExitOk;
        }
    }
    CommandContext context{options, args};
    return command->run(context);
}
