// The sub-command table of inkora-remote, its help texts, and the stop flag
// that SIGINT and SIGTERM raise.
#include <array>
#include <atomic>
#include <cstdio>

#include "inkora-remote.h"

namespace inkora::tool {
namespace {

std::atomic<bool> stop_requested{false};


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
    Command{"read", "ALIAS [--count N] [--timeout SEC] [--pen FILE]", "show a pad's input reports, decoded",
            "Opens the pad and prints its input reports as they come: coordinates with the\n"
            "pen state, the region under the pen, ADC values, card swipes, debug coordinates.\n"
            "Runs until interrupted, for SEC seconds, or until N reports were shown.\n"
            "--pen FILE plays a pen script through the pad's pen-input simulation while\n"
            "reading (simulated pads): lines \"down X Y [TYPE]\" or \"up X Y [TYPE]\", TYPE 1\n"
            "(coordinates) or 2 (with the region, the default).\n"
            "Exit: 0 done; 4 no such pad; 5 fewer than N reports before the time-out.",
            command_read},
    Command{"sign", "ALIAS --out FILE.svg [--png FILE.png] [--timeout SEC] [--pen FILE]",
            "capture a signature until OK and write it as SVG (and PNG)",
            "Opens the pad and collects pen strokes until the pen is lifted on the OK button.\n"
            "Clear starts again, Cancel gives up. Writes the strokes as SVG paths in display\n"
            "pixels, and as a PNG of the display's size with --png. The default time-out is\n"
            "60 seconds. --pen FILE plays a pen script as `read` does.\n"
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

} // namespace

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

void request_stop() { stop_requested.store(true); }

} // namespace inkora::tool

