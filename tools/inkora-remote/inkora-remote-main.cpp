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

namespace inkora::tool {
namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int) { stop_requested.store(true); }

// The sub-commands, in the order the overview shows them. A new one is a row
// here and a function beside the others.
constexpr std::array kCommands = {
    Command{"list", "", "list the pads with alias, ids, model, manufacturer, unique identifier and firmware",
            "Lists every pad the agent sees. Each pad is opened briefly to read its unique\n"
            "identifier and firmware version, and closed again.\n"
            "Exit: 0 all pads listed and opened; 4 no pad found or a pad could not be opened.",
            command_list},
    Command{"info", "ALIAS", "show a pad's display, version, regions, status and capabilities",
            "Opens the pad ALIAS (from `list`) and decodes its display information, version,\n"
            "unique identifier, region table, status and capabilities.\n"
            "Exit: 0 shown; 4 no such pad or it cannot be opened.",
            command_info},
    Command{"watch", "[--timeout SEC] [--count N]", "show attach and detach notices and pings as they come",
            "Prints every notice the agent sends unasked: pads plugged in and out, and its\n"
            "keep-alive pings (which are answered). Runs until interrupted, for SEC seconds,\n"
            "or until N notices were shown.",
            command_watch},
    Command{"read", "ALIAS [--count N] [--timeout SEC]", "show a pad's input reports, decoded",
            "Opens the pad and prints its input reports as they come: coordinates with the\n"
            "pen state, the region under the pen, ADC values, card swipes, debug coordinates.\n"
            "Runs until interrupted, for SEC seconds, or until N reports were shown.\n"
            "Exit: 0 done; 4 no such pad; 5 fewer than N reports before the time-out.",
            command_read},
    Command{"sign", "ALIAS --out FILE.svg [--png FILE.png] [--timeout SEC]",
            "capture a signature until OK and write it as SVG (and PNG)",
            "Opens the pad and collects pen strokes until the pen is lifted on the OK button.\n"
            "Clear starts again, Cancel gives up. Writes the strokes as SVG paths in display\n"
            "pixels, and as a PNG of the display's size with --png. The default time-out is\n"
            "60 seconds.\n"
            "Exit: 0 written; 1 cancelled or not writable; 4 no such pad; 5 no OK in time.",
            command_sign},
    Command{"ping", "[--count N] [--interval SEC]", "measure round trips to the agent",
            "Sends N pings (default 4) and times the pongs.\n"
            "Exit: 0 every ping answered; 5 some were not.",
            command_ping},
    Command{"raw", "HEX... [--timeout SEC]", "send bytes to the agent and show the decoded answers",
            "Sends the bytes (hex, spaces or colons allowed: 01 00000000 is an enumeration\n"
            "request) to the agent as they are, and prints every message that comes back\n"
            "within SEC seconds (default 2), decoded. The agent's pings are not shown.\n"
            "Exit: 0 answered; 2 bad hex; 5 no answer.",
            command_raw},
    Command{"demo", "[--out-dir DIR] [--pad ALIAS]", "the whole chain on a simulated pad, no hardware needed",
            "Starts the agent with one simulated pad (unless --simulated says otherwise),\n"
            "preferably through the plug-in (--plugin), lists the pads, shows the display,\n"
            "draws a short signature through the pad's pen-input simulation, reads the\n"
            "strokes back until OK and writes DIR/signature.svg and DIR/signature.png.",
            command_demo},
    // `doctor` (installation checks) takes its row here.
};

void print_overview(FILE* out) {
    std::fputs("usage: inkora-remote [--agent PATH] [--plugin PATH] [--simulated N] [--trace FILE] COMMAND [ARGS]\n"
               "       inkora-remote COMMAND --help\n\n"
               "The reference remote-side client: it starts the agent and plays the remote\n"
               "application of the wire protocol against it.\n\n"
               "Global options:\n"
               "  --agent PATH     the agent program (default /opt/penlark-remote/penlark-remote-standalone)\n"
               "  --plugin PATH    go through the ica-pipe plug-in at PATH (played by the client harness)\n"
               "  --simulated N    give the agent N simulated pads (INKORA_SIMULATED_PADS)\n"
               "  --trace FILE     the agent writes a pcap trace of the channel traffic to FILE\n\n"
               "Commands:\n",
               out);
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-6s %s\n", std::string(command.name).c_str(), std::string(command.summary).c_str());
    std::fputs("\nExit codes: 0 done, 1 refused or failed, 2 usage, 3 agent not started or silent,\n"
               "4 no pad or pad cannot be opened, 5 time-out.\n",
               out);
}

std::string self_path(const char* argv0) {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv0);
}

} // namespace

std::span<const Command> commands() { return kCommands; }

const Command* find_command(std::string_view name) {
    for (const Command& command : kCommands)
        if (command.name == name)
            return &command;
    return nullptr;
}

void print_command_help(const Command& command, FILE* out) {
    std::fprintf(out, "usage: inkora-remote [GLOBAL OPTIONS] %s %s\n\n%s\n\n%s\n", std::string(command.name).c_str(),
                 std::string(command.synopsis).c_str(), std::string(command.summary).c_str(),
                 std::string(command.details).c_str());
}

bool interrupted() { return stop_requested.load(); }

} // namespace inkora::tool

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
