// inkora-remote: the reference remote-side client of the wire protocol.
// It plays the application of the remote session against an agent that it
// starts itself, either directly over pipes or through the ica-pipe plug-in
// loaded by the client harness. These are the tool's internal declarations:
// the decoders of the pads' reports, the signature pictures, the connection
// to the agent and the sub-command table.
#ifndef INKORA_REMOTE_TOOL_H
#define INKORA_REMOTE_TOOL_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "remote-peer.h"

namespace inkora::tool {

// Exit codes a script can rely on.
enum ExitCode : int {
    kExitOk = 0,       // done
    kExitFailed = 1,   // the agent or the pad refused a request, or the signature was cancelled
    kExitUsage = 2,    // bad command line
    kExitNoAgent = 3,  // the agent (or the plug-in) could not be started or does not answer
    kExitNoPad = 4,    // no such pad, no pad at all, or the pad cannot be opened
    kExitTimeout = 5,  // nothing (or not enough) came before the time-out
};

inline constexpr std::string_view kDefaultAgent = "/opt/penlark-remote/penlark-remote-standalone";

// ---- Feature reports of the pad (little-endian fields) ----------------------

struct DisplayInfo {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t color_depth = 0;
    uint8_t text_width = 0;
    uint8_t text_height = 0;
    uint8_t region_count = 0;
    uint8_t caption_length = 0;
};
std::optional<DisplayInfo> parse_display_info(std::span<const uint8_t> report);

struct VersionInfo {
    uint8_t kernel[3] = {};
    uint8_t firmware[3] = {};
    uint16_t asic_signature = 0;
};
std::optional<VersionInfo> parse_version(std::span<const uint8_t> report);
std::string firmware_text(const VersionInfo& version);

enum RegionType : uint8_t { kContainer = 0, kButton = 1, kLine = 2, kGraphic = 3, kText = 4 };

struct Region {
    uint8_t number = 0;
    uint8_t type = 0;
    uint8_t flags = 0; // bit 0 accept touch, 1 decode, 2 visible, 3 in use, 4 frame
    uint16_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    uint8_t type_byte0 = 0, type_byte1 = 0; // parent / ink enable, width / button flags
    std::string caption;                     // buttons only
};
// The region report: count records of caption_length + 29 bytes after the id.
std::vector<Region> parse_regions(std::span<const uint8_t> report, unsigned count, unsigned caption_length);
std::string describe_region(const Region& region);
std::string region_type_name(uint8_t type);
// The region that is a button captioned `caption` (case-insensitive), or 0.
uint8_t find_button(const std::vector<Region>& regions, std::string_view caption);

std::vector<std::string> describe_status(std::span<const uint8_t> report);
std::vector<std::string> describe_capabilities(std::span<const uint8_t> report);

// Coordinate range of the capabilities report (0 when unknown).
struct CoordinateRange {
    uint16_t xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};
std::optional<CoordinateRange> parse_coordinate_range(std::span<const uint8_t> report);

// Text form of a unique identifier (16 bytes, groups 8-4-4-4-12).
std::string uuid_text(std::span<const uint8_t> digest);
// The unique identifier of a pad: MD5 over the 2048 data bytes of its
// error-correction table (feature report 26 of 2049 bytes).
std::optional<std::string> uuid_from_table(std::span<const uint8_t> report);

// ---- Input reports -------------------------------------------------------------

struct PenSample {
    uint8_t report_id = 0;
    bool down = false;
    uint16_t x = 0, y = 0;
    uint8_t region = 0; // report 2 only
};
// Coordinates of a report 1 or 2; nothing for the other reports or short ones.
std::optional<PenSample> pen_sample(std::span<const uint8_t> report);
// One line describing any input report of the pad.
std::string describe_input(std::span<const uint8_t> report, const std::vector<Region>& regions);

// ---- Pen-input simulation ---------------------------------------------------------

// One step of a pen script: the pad's pen-input simulation report makes the
// pad emit one input report of this coordinate type (1 or 2) at (x, y).
struct PenStep {
    uint16_t x = 0;
    uint16_t y = 0;
    bool down = true;
    uint8_t coordinate_type = 2;
};
// Lines "down X Y [TYPE]" or "up X Y [TYPE]"; blank lines and lines starting
// with # are skipped. Nothing (and the line number in error) on a bad line.
std::optional<std::vector<PenStep>> parse_pen_script(std::string_view text, std::string* error);

// ---- Signatures ----------------------------------------------------------------

struct Point {
    double x = 0;
    double y = 0;
};
struct Signature {
    int width = 320;
    int height = 192;
    std::vector<std::vector<Point>> strokes;
};
// SVG: one path per stroke, "M x y L x y ...", in display pixels.
std::string signature_svg(const Signature& signature);
// PNG (8-bit RGB, width x height): black strokes on white.
std::vector<uint8_t> signature_png(const Signature& signature);
bool write_file(const std::string& path, std::string_view bytes, std::string* error);

// ---- Hex -------------------------------------------------------------------------

// Hex digits, optionally separated by spaces, colons or commas, with or
// without 0x prefixes per byte group; nothing on a bad digit or odd count.
std::optional<std::vector<uint8_t>> parse_hex(std::string_view text);
std::string hex_text(std::span<const uint8_t> bytes, size_t limit = 64);

// ---- Connection ------------------------------------------------------------------

struct GlobalOptions {
    std::string agent = std::string(kDefaultAgent);
    std::string plugin;      // non-empty: go through the plug-in with the client harness
    std::string simulated;   // non-empty: INKORA_SIMULATED_PADS for the agent
    std::string trace;       // non-empty: the agent writes its pcap trace to this file
    std::string self;        // this program, for the plug-in relay
};

// The agent started and answering (version exchange done).
struct Connection {
    std::unique_ptr<inkora::peer::RemotePeer> peer;
    inkora::peer::Message version;
};
// Starts the agent per options; on failure prints why and sets exit_code.
std::optional<Connection> connect(const GlobalOptions& options, int& exit_code);

// Runs the plug-in relay when this process was started as one (the
// environment says so); nothing when not.
std::optional<int> run_relay_if_asked();

// ---- Sub-commands ------------------------------------------------------------------

struct CommandContext {
    const GlobalOptions& options;
    std::span<char*> args; // after the sub-command's name
};

struct Command {
    std::string_view name;
    std::string_view synopsis; // arguments, for the usage line
    std::string_view summary;  // one line for the overview
    std::string_view details;  // the rest of --help
    int (*run)(CommandContext& context);
};

int command_list(CommandContext& context);
int command_info(CommandContext& context);
int command_watch(CommandContext& context);
int command_read(CommandContext& context);
int command_sign(CommandContext& context);
int command_ping(CommandContext& context);
int command_raw(CommandContext& context);
int command_demo(CommandContext& context);

std::span<const Command> commands();
const Command* find_command(std::string_view name);
void print_command_help(const Command& command, FILE* out);

void print_overview(FILE* out);

// Set by SIGINT/SIGTERM (request_stop): loops that run until interrupted look at it.
bool interrupted();
void request_stop();

} // namespace inkora::tool

#endif
