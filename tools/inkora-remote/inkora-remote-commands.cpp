// The sub-commands of inkora-remote. Each one connects to the agent, does
// its work with the wire protocol and returns an exit code (inkora-remote.h).
// Results go to standard output, complaints to standard error.
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "inkora-remote.h"

namespace inkora::tool {
namespace {

using namespace std::chrono_literals;
using inkora::peer::Message;
using inkora::peer::RemotePeer;
using Clock = std::chrono::steady_clock;

uint32_t type_of(const inkora_messages& message) {
    uint32_t type = 0;
    std::memcpy(&type, &message.common.message_id, sizeof type);
    return type;
}

std::string render(const inkora_messages& message) {
    std::vector<char> text(8192, 0);
    inkora_print_message(&message, text.data(), static_cast<uint32_t>(text.size()));
    return text.data();
}

int usage_error(const Command& command, const std::string& complaint) {
    std::fprintf(stderr, "inkora-remote %s: %s\n", std::string(command.name).c_str(), complaint.c_str());
    std::fprintf(stderr, "usage: inkora-remote %s %s\n", std::string(command.name).c_str(),
                 std::string(command.synopsis).c_str());
    return kExitUsage;
}

// Parses a positive number of seconds or a count; nothing on garbage.
std::optional<double> parse_number(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0) || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Options of a sub-command: name/value pairs, flags, and positionals.
struct Parsed {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> values;
    std::string error;
    std::optional<std::string> value(std::string_view name) const {
        for (const auto& [key, value] : values)
            if (key == name)
                return value;
        return std::nullopt;
    }
};

Parsed parse(std::span<char*> args, std::initializer_list<std::string_view> with_value) {
    Parsed parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            const bool known = std::find(with_value.begin(), with_value.end(), arg) != with_value.end();
            if (!known) {
                parsed.error = "unknown option " + std::string(arg);
                return parsed;
            }
            if (i + 1 >= args.size()) {
                parsed.error = std::string(arg) + " needs a value";
                return parsed;
            }
            parsed.values.emplace_back(std::string(arg), args[++i]);
        } else {
            parsed.positional.emplace_back(arg);
        }
    }
    return parsed;
}

// A time-out option in seconds: the default when absent, nothing when bad.
std::optional<Clock::duration> timeout_option(const Parsed& parsed, std::string_view name, double default_seconds) {
    const auto text = parsed.value(name);
    const auto seconds = text ? parse_number(text->c_str()) : std::optional<double>(default_seconds);
    if (!seconds || *seconds > 86400.0 * 365)
        return std::nullopt;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
}

std::optional<unsigned long> count_option(const Parsed& parsed, std::string_view name, unsigned long fallback) {
    const auto text = parsed.value(name);
    if (!text)
        return fallback;
    const auto value = parse_number(text->c_str());
    if (!value || *value < 1 || *value > 1e9 || std::floor(*value) != *value)
        return std::nullopt;
    return static_cast<unsigned long>(*value);
}

constexpr std::string_view kHidrawHint =
    "hint: the pad's hidraw node is not accessible to this user. Install the package's udev rule (or give\n"
    "      your user read and write access to /dev/hidraw*), then unplug the pad and plug it in again.";

// An open pad, closed again when the scope ends.
class OpenPad {
public:
    OpenPad(RemotePeer& peer, std::string alias) : peer_(peer), alias_(std::move(alias)) {}
    ~OpenPad() {
        if (open_)
            peer_.close(alias_);
    }
    OpenPad(const OpenPad&) = delete;
    OpenPad& operator=(const OpenPad&) = delete;

    // Opens the pad; on failure prints why and returns the exit code.
    int open() {
        // The agent hands out aliases when it lists the pads, so a fresh
        // agent knows none before an enumeration.
        const auto devices = peer_.enumerate();
        if (!devices) {
            std::fputs("inkora-remote: the agent did not answer the enumeration request\n", stderr);
            return kExitNoAgent;
        }
        if (std::none_of(devices->begin(), devices->end(),
                         [&](const inkora::peer::Device& device) { return device.alias == alias_; })) {
            std::string known;
            for (const auto& device : *devices)
                known += (known.empty() ? "" : ", ") + device.alias;
            std::fprintf(stderr, "inkora-remote: no pad %s; the pads are: %s\n", alias_.c_str(),
                         known.empty() ? "none" : known.c_str());
            return kExitNoPad;
        }
        const inkora::peer::Result result = peer_.open(alias_);
        if (!result.answered) {
            std::fprintf(stderr, "inkora-remote: the agent did not answer the open request for pad %s\n",
                         alias_.c_str());
            return kExitNoAgent;
        }
        if (!result.success) {
            std::string error = result.error;
            while (!error.empty() && (error.back() == '\n' || error.back() == '\0'))
                error.pop_back();
            std::fprintf(stderr, "inkora-remote: cannot open pad %s: %s\n", alias_.c_str(), error.c_str());
            if (error.find("Unable to locate device") != std::string::npos)
                std::fputs("hint: `inkora-remote list` shows the pads and their aliases.\n", stderr);
            else if (error.find("Permission denied") != std::string::npos || error.find("(13)") != std::string::npos)
                std::fprintf(stderr, "%s\n", std::string(kHidrawHint).c_str());
            return kExitNoPad;
        }
        open_ = true;
        return kExitOk;
    }

    std::optional<std::vector<uint8_t>> feature(uint8_t id, uint32_t length) {
        const inkora::peer::Result result = peer_.get_feature(alias_, id, length);
        if (!result.answered || !result.success || result.report.empty())
            return std::nullopt;
        return result.report;
    }

    const std::string& alias() const { return alias_; }

private:
    RemotePeer& peer_;
    std::string alias_;
    bool open_ = false;
};

// What a client needs to know of an open pad to draw and to read it.
struct PadLayout {
    DisplayInfo display;
    std::vector<Region> regions;
    std::optional<CoordinateRange> range;
};

PadLayout read_layout(OpenPad& pad) {
    PadLayout layout;
    if (const auto report = pad.feature(100, 10)) {
        if (const auto info = parse_display_info(*report))
            layout.display = *info;
    }
    const DisplayInfo& d = layout.display;
    if (d.region_count > 0) {
        const uint32_t length = d.region_count * (d.caption_length + 29u) + 1u;
        if (const auto report = pad.feature(110, length))
            layout.regions = parse_regions(*report, d.region_count, d.caption_length);
    }
    if (const auto report = pad.feature(11, 65))
        layout.range = parse_coordinate_range(*report);
    return layout;
}

std::optional<Connection> start(const CommandContext& context, int& code) { return connect(context.options, code); }

// ---- capture of a signature --------------------------------------------------

enum class CaptureEnd { kOk, kCancelled, kTimeout, kFailed, kInterrupted };

struct Capture {
    CaptureEnd end = CaptureEnd::kTimeout;
    Signature signature;
    std::string error;
    size_t reports = 0;
};

Point to_display(const PenSample& sample, const PadLayout& layout) {
    Point point{static_cast<double>(sample.x), static_cast<double>(sample.y)};
    // Report 1 carries digitizer coordinates: scale them to display pixels.
    if (sample.report_id == 1 && layout.range && layout.range->xmax > layout.range->xmin &&
        layout.range->ymax > layout.range->ymin && layout.display.width > 0 && layout.display.height > 0) {
        const auto& r = *layout.range;
        point.x = (sample.x - r.xmin) * (layout.display.width - 1.0) / (r.xmax - r.xmin);
        point.y = (sample.y - r.ymin) * (layout.display.height - 1.0) / (r.ymax - r.ymin);
    }
    return point;
}

// Reads input reports until the OK button is pressed (pen lifted inside it),
// Cancel is pressed, or the time is up. Clear starts the signature again.
// Reports in a button never ink; the pen lifted ends a stroke.
Capture capture_signature(RemotePeer& peer, const std::string& alias, const PadLayout& layout,
                          Clock::duration timeout, bool verbose) {
    Capture capture;
    capture.signature.width = layout.display.width > 0 ? layout.display.width : 320;
    capture.signature.height = layout.display.height > 0 ? layout.display.height : 192;
    const uint8_t ok = find_button(layout.regions, "OK");
    const uint8_t cancel = find_button(layout.regions, "Cancel");
    const uint8_t clear = find_button(layout.regions, "Clear");
    auto is_button = [&](uint8_t region) {
        return std::any_of(layout.regions.begin(), layout.regions.end(),
                           [&](const Region& r) { return r.number == region && r.type == kButton; });
    };
    const auto deadline = Clock::now() + timeout;
    bool in_stroke = false;
    uint8_t pressed = 0; // button under a pen that went down inside it
    uint32_t pending = peer.send_read(alias);
    while (true) {
        if (interrupted()) {
            capture.end = CaptureEnd::kInterrupted;
            return capture;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            capture.end = CaptureEnd::kTimeout;
            return capture;
        }
        const auto slice = std::min<Clock::duration>(deadline - now, 200ms);
        const inkora::peer::Result result =
            peer.wait_read(pending, std::chrono::duration_cast<std::chrono::milliseconds>(slice) + 1ms);
        if (!result.answered)
            continue;
        if (!result.success) {
            capture.end = CaptureEnd::kFailed;
            capture.error = result.error;
            return capture;
        }
        pending = peer.send_read(alias);
        ++capture.reports;
        if (verbose)
            std::printf("  %s\n", describe_input(result.report, layout.regions).c_str());
        const auto sample = pen_sample(result.report);
        if (!sample)
            continue;
        if (sample->report_id == 2 && is_button(sample->region)) {
            in_stroke = false;
            if (sample->down) {
                pressed = sample->region;
            } else if (pressed == sample->region) {
                pressed = 0;
                if (sample->region == ok && ok != 0) {
                    capture.end = CaptureEnd::kOk;
                    return capture;
                }
                if (sample->region == cancel && cancel != 0) {
                    capture.end = CaptureEnd::kCancelled;
                    return capture;
                }
                if (sample->region == clear && clear != 0)
                    capture.signature.strokes.clear();
            }
            continue;
        }
        pressed = 0;
        if (!sample->down) {
            in_stroke = false;
            continue;
        }
        if (!in_stroke) {
            capture.signature.strokes.emplace_back();
            in_stroke = true;
        }
        capture.signature.strokes.back().push_back(to_display(*sample, layout));
    }
}

size_t point_count(const Signature& signature) {
    size_t n = 0;
    for (const auto& stroke : signature.strokes)
        n += stroke.size();
    return n;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char directory[PATH_MAX];
    if (getcwd(directory, sizeof directory) == nullptr)
        return path;
    return std::string(directory) + "/" + path;
}

// Writes the SVG and, when asked, the PNG; prints where they are.
int write_pictures(const Signature& signature, const std::string& svg_path, const std::string& png_path) {
    std::string error;
    if (!write_file(svg_path, signature_svg(signature), &error)) {
        std::fprintf(stderr, "inkora-remote: cannot write %s: %s\n", svg_path.c_str(), error.c_str());
        return kExitFailed;
    }
    std::printf("Wrote %s (%zu strokes, %zu points)\n", absolute(svg_path).c_str(), signature.strokes.size(),
                point_count(signature));
    if (!png_path.empty()) {
        const std::vector<uint8_t> png = signature_png(signature);
        if (png.empty() ||
            !write_file(png_path, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()), &error)) {
            std::fprintf(stderr, "inkora-remote: cannot write %s: %s\n", png_path.c_str(),
                         error.empty() ? "compression failed" : error.c_str());
            return kExitFailed;
        }
        std::printf("Wrote %s (%d x %d pixels)\n", absolute(png_path).c_str(), signature.width, signature.height);
    }
    return kExitOk;
}

// ---- list ----------------------------------------------------------------------

int list_pads(RemotePeer& peer) {
    const auto devices = peer.enumerate();
    if (!devices) {
        std::fputs("inkora-remote: the agent did not answer the enumeration request\n", stderr);
        return kExitNoAgent;
    }
    if (devices->empty()) {
        std::puts("No pads found.");
        std::fputs("hint: plug a pad in, or try the agent with simulated pads: inkora-remote --simulated 1 list\n",
                   stderr);
        return kExitNoPad;
    }
    int code = kExitOk;
    for (const auto& device : *devices) {
        std::printf("pad %s: %s (%s), USB %04x:%04x\n", device.alias.c_str(), device.model.c_str(),
                    device.manufacturer.c_str(), device.vendor_id, device.product_id);
        std::fflush(stdout);
        OpenPad pad(peer, device.alias);
        if (const int opened = pad.open(); opened != kExitOk) {
            code = opened;
            continue;
        }
        const auto table = pad.feature(26, 2049);
        const auto uuid = table ? uuid_from_table(*table) : std::nullopt;
        std::printf("  unique identifier: %s\n", uuid ? uuid->c_str() : "(not readable)");
        const auto version_report = pad.feature(22, 9);
        const auto version = version_report ? parse_version(*version_report) : std::nullopt;
        if (version)
            std::printf("  firmware: %s (kernel %u.%u.%u)\n", firmware_text(*version).c_str(), version->kernel[0],
                        version->kernel[1], version->kernel[2]);
        else
            std::puts("  firmware: (not readable)");
    }
    return code;
}

// ---- the pen-input simulation of the demo ---------------------------------------

// A short handwritten-looking signature in the pad's signing area, in
// display pixels: a looped capital, a wave, and a flourish under them.
std::vector<std::vector<Point>> demo_strokes() {
    std::vector<std::vector<Point>> strokes;
    constexpr double pi = 3.14159265358979;
    std::vector<Point> loop;
    for (int i = 0; i <= 24; ++i) {
        const double t = i / 24.0 * 2 * pi;
        loop.push_back({60 + 22 * std::sin(t), 70 - 35 * std::cos(t) + 10 * t});
    }
    strokes.push_back(loop);
    std::vector<Point> wave;
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        wave.push_back({95 + 170 * t, 80 - 22 * std::sin(t * 5 * pi) * (1 - 0.4 * t)});
    }
    strokes.push_back(wave);
    std::vector<Point> flourish;
    for (int i = 0; i <= 20; ++i) {
        const double t = i / 20.0;
        flourish.push_back({40 + 240 * t, 118 + 6 * std::sin(t * pi)});
    }
    strokes.push_back(flourish);
    for (auto& stroke : strokes)
        for (auto& point : stroke)
            point = {std::round(point.x), std::round(point.y)};
    return strokes;
}

bool simulate_pen(RemotePeer& peer, const std::string& alias, uint16_t x, uint16_t y, bool down) {
    const inkora::peer::Result result = peer.set_feature(alias, inkora::peer::pen_simulation_report(2, x, y, down));
    return result.answered && result.success;
}

// Reads a pen script (--pen FILE); prints why on failure.
std::optional<std::vector<PenStep>> load_pen_script(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file) {
        std::fprintf(stderr, "inkora-remote: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        text.append(chunk, n);
    std::string error;
    auto steps = parse_pen_script(text, &error);
    if (!steps)
        std::fprintf(stderr, "inkora-remote: %s: %s\n", path.c_str(), error.c_str());
    return steps;
}

// Plays a pen script through the pad's pen-input simulation on a thread of
// its own while the caller reads; joined when the scope ends.
class PenPlayer {
public:
    PenPlayer(RemotePeer& peer, const std::string& alias, std::vector<PenStep> steps) {
        if (steps.empty())
            return;
        thread_ = std::thread([&peer, alias, steps = std::move(steps), this] {
            for (const PenStep& step : steps) {
                const inkora::peer::Result result = peer.set_feature(
                    alias, inkora::peer::pen_simulation_report(step.coordinate_type, step.x, step.y, step.down));
                if (!result.answered || !result.success) {
                    failed_ = true;
                    return;
                }
            }
        });
    }
    ~PenPlayer() { join(); }
    PenPlayer(const PenPlayer&) = delete;
    PenPlayer& operator=(const PenPlayer&) = delete;
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool failed() const { return failed_; }

private:
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

// Draws strokes through the pad's pen-input simulation report, then taps
// the centre of the OK button (pen down, then up).
bool draw_through_pad(RemotePeer& peer, const std::string& alias, const std::vector<std::vector<Point>>& strokes,
                      const Region& ok) {
    for (const auto& stroke : strokes) {
        for (const Point& point : stroke) {
            if (!simulate_pen(peer, alias, static_cast<uint16_t>(point.x), static_cast<uint16_t>(point.y), true))
                return false;
        }
        const Point& last = stroke.back();
        if (!simulate_pen(peer, alias, static_cast<uint16_t>(last.x), static_cast<uint16_t>(last.y), false))
            return false;
    }
    const auto x = static_cast<uint16_t>((ok.x1 + ok.x2) / 2);
    const auto y = static_cast<uint16_t>((ok.y1 + ok.y2) / 2);
    return simulate_pen(peer, alias, x, y, true) && simulate_pen(peer, alias, x, y, false);
}

} // namespace

// ---- sub-commands ------------------------------------------------------------

int command_list(CommandContext& context) {
    const Parsed parsed = parse(context.args, {});
    if (!parsed.error.empty() || !parsed.positional.empty())
        return usage_error(*find_command("list"), parsed.error.empty() ? "takes no arguments" : parsed.error);
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    return list_pads(*connection->peer);
}

int command_info(CommandContext& context) {
    const Parsed parsed = parse(context.args, {});
    if (!parsed.error.empty() || parsed.positional.size() != 1)
        return usage_error(*find_command("info"), parsed.error.empty() ? "needs one pad alias" : parsed.error);
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    OpenPad pad(*connection->peer, parsed.positional[0]);
    if (const int opened = pad.open(); opened != kExitOk)
        return opened;
    std::printf("pad %s\n", pad.alias().c_str());
    const PadLayout layout = read_layout(pad);
    const DisplayInfo& d = layout.display;
    if (d.width == 0) {
        std::fputs("inkora-remote: the pad's display information is not readable\n", stderr);
        return kExitFailed;
    }
    std::printf("display: %u x %u pixels, colour depth %u, text %u x %u, %u regions, captions of %u\n", d.width,
                d.height, d.color_depth, d.text_width, d.text_height, d.region_count, d.caption_length);
    if (const auto report = pad.feature(22, 9); report && parse_version(*report)) {
        const VersionInfo v = *parse_version(*report);
        std::printf("version: firmware %s, kernel %u.%u.%u, ASIC signature 0x%04x\n", firmware_text(v).c_str(),
                    v.kernel[0], v.kernel[1], v.kernel[2], v.asic_signature);
    } else {
        std::puts("version: not available");
    }
    const auto table = pad.feature(26, 2049);
    const auto uuid = table ? uuid_from_table(*table) : std::nullopt;
    std::printf("unique identifier: %s\n", uuid ? uuid->c_str() : "not available");
    std::printf("regions: %zu\n", layout.regions.size());
    for (const Region& region : layout.regions)
        std::printf("  %s\n", describe_region(region).c_str());
    const auto status = pad.feature(13, 73);
    for (const std::string& line : describe_status(status ? std::span<const uint8_t>(*status) : std::span<const uint8_t>()))
        std::printf("%s\n", line.c_str());
    const auto capabilities = pad.feature(11, 65);
    std::puts("capabilities:");
    for (const std::string& line :
         describe_capabilities(capabilities ? std::span<const uint8_t>(*capabilities) : std::span<const uint8_t>()))
        std::printf("  %s\n", line.c_str());
    return kExitOk;
}

int command_watch(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--timeout", "--count"});
    const auto timeout = timeout_option(parsed, "--timeout", 0);
    const auto count = count_option(parsed, "--count", 0);
    if (!parsed.error.empty() || !parsed.positional.empty() || !timeout || !count)
        return usage_error(*find_command("watch"), parsed.error.empty() ? "bad arguments" : parsed.error);
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    std::printf("Watching the agent (version %u.%u.%u); attach and detach notices and pings follow.\n",
                connection->version->version.version_major, connection->version->version.version_minor,
                connection->version->version.version_release);
    std::fflush(stdout);
    const auto begin = Clock::now();
    const bool forever = *timeout == Clock::duration::zero();
    unsigned long seen = 0;
    while (!interrupted() && (forever || Clock::now() - begin < *timeout)) {
        Message message = peer.wait_for_match([](const inkora_messages&) { return true; }, 200ms);
        if (!message)
            continue;
        const double at = std::chrono::duration<double>(Clock::now() - begin).count();
        const uint32_t type = type_of(*message);
        if (type == INKORA_MESSAGE_PING) {
            std::printf("%8.3f s  ping from the agent (seq %u), answered\n", at, message->common.seq_num);
        } else if (type == INKORA_MESSAGE_DEVICE_ATTACH || type == INKORA_MESSAGE_DEVICE_DETACH) {
            const auto& notice = message->device_attach;
            std::printf("%8.3f s  %s %s\n", at, type == INKORA_MESSAGE_DEVICE_ATTACH ? "attached" : "detached",
                        inkora::peer::text_of(notice.path, notice.path_len).c_str());
        } else {
            std::printf("%8.3f s  %s", at, render(*message).c_str());
        }
        std::fflush(stdout);
        if (*count != 0 && ++seen >= *count)
            break;
    }
    return kExitOk;
}

int command_read(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--timeout", "--count", "--pen"});
    const auto timeout = timeout_option(parsed, "--timeout", 0);
    const auto count = count_option(parsed, "--count", 0);
    if (!parsed.error.empty() || parsed.positional.size() != 1 || !timeout || !count)
        return usage_error(*find_command("read"), parsed.error.empty() ? "needs one pad alias" : parsed.error);
    std::vector<PenStep> steps;
    if (const auto pen = parsed.value("--pen")) {
        auto loaded = load_pen_script(*pen);
        if (!loaded)
            return kExitUsage;
        steps = std::move(*loaded);
    }
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    OpenPad pad(peer, parsed.positional[0]);
    if (const int opened = pad.open(); opened != kExitOk)
        return opened;
    const PadLayout layout = read_layout(pad);
    std::printf("Reading pad %s.\n", pad.alias().c_str());
    std::fflush(stdout);
    PenPlayer player(peer, pad.alias(), std::move(steps));
    const bool forever = *timeout == Clock::duration::zero();
    const auto deadline = Clock::now() + *timeout;
    unsigned long seen = 0;
    uint32_t pending = peer.send_read(pad.alias());
    while (!interrupted() && (forever || Clock::now() < deadline)) {
        const inkora::peer::Result result = peer.wait_read(pending, 200ms);
        if (!result.answered)
            continue;
        if (!result.success) {
            std::fprintf(stderr, "inkora-remote: reading pad %s failed: %s\n", pad.alias().c_str(),
                         result.error.c_str());
            return kExitFailed;
        }
        std::printf("%s\n", describe_input(result.report, layout.regions).c_str());
        std::fflush(stdout);
        if (*count != 0 && ++seen >= *count)
            return kExitOk;
        pending = peer.send_read(pad.alias());
    }
    if (*count != 0 && !interrupted()) {
        std::fprintf(stderr, "inkora-remote: %lu of %lu reports came before the time-out\n", seen, *count);
        return kExitTimeout;
    }
    return kExitOk;
}

int command_sign(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--out", "--png", "--timeout", "--pen"});
    const auto timeout = timeout_option(parsed, "--timeout", 60);
    const auto out = parsed.value("--out");
    if (!parsed.error.empty() || parsed.positional.size() != 1 || !timeout || !out || out->empty())
        return usage_error(*find_command("sign"), parsed.error.empty() ? "needs a pad alias and --out FILE.svg"
                                                                       : parsed.error);
    std::vector<PenStep> steps;
    if (const auto pen = parsed.value("--pen")) {
        auto loaded = load_pen_script(*pen);
        if (!loaded)
            return kExitUsage;
        steps = std::move(*loaded);
    }
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    OpenPad pad(peer, parsed.positional[0]);
    if (const int opened = pad.open(); opened != kExitOk)
        return opened;
    const PadLayout layout = read_layout(pad);
    if (find_button(layout.regions, "OK") == 0)
        std::fputs("inkora-remote: the pad shows no OK button; the capture ends at the time-out\n", stderr);
    std::printf("Sign on pad %s and press OK.\n", pad.alias().c_str());
    std::fflush(stdout);
    PenPlayer player(peer, pad.alias(), std::move(steps));
    const Capture capture = capture_signature(peer, pad.alias(), layout, *timeout, false);
    player.join();
    switch (capture.end) {
    case CaptureEnd::kOk:
        return write_pictures(capture.signature, *out, parsed.value("--png").value_or(""));
    case CaptureEnd::kCancelled:
        std::fputs("inkora-remote: the signature was cancelled on the pad\n", stderr);
        return kExitFailed;
    case CaptureEnd::kFailed:
        std::fprintf(stderr, "inkora-remote: reading pad %s failed: %s\n", pad.alias().c_str(), capture.error.c_str());
        return kExitFailed;
    case CaptureEnd::kInterrupted:
        std::fputs("inkora-remote: interrupted\n", stderr);
        return kExitFailed;
    case CaptureEnd::kTimeout:
        break;
    }
    std::fprintf(stderr, "inkora-remote: OK was not pressed before the time-out (%zu reports read)\n",
                 capture.reports);
    return kExitTimeout;
}

int command_ping(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--count", "--interval"});
    const auto count = count_option(parsed, "--count", 4);
    const auto interval = timeout_option(parsed, "--interval", 0.2);
    if (!parsed.error.empty() || !parsed.positional.empty() || !count || !interval)
        return usage_error(*find_command("ping"), parsed.error.empty() ? "bad arguments" : parsed.error);
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    std::vector<double> times;
    for (unsigned long i = 0; i < *count && !interrupted(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(*interval);
        Message ping = inkora::peer::make_message(INKORA_MESSAGE_PING);
        if (!ping)
            return kExitFailed;
        const auto sent = Clock::now();
        const uint32_t seq = peer.send(*ping);
        Message pong = peer.wait_for(INKORA_MESSAGE_PONG, 2s);
        if (!pong) {
            std::printf("ping %u: no pong within 2 s\n", seq);
            continue;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        times.push_back(ms);
        std::printf("ping %u: pong in %.3f ms\n", seq, ms);
        std::fflush(stdout);
    }
    if (times.empty()) {
        std::printf("%lu sent, 0 answered\n", *count);
        return kExitTimeout;
    }
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("%lu sent, %zu answered, round trip min/avg/max = %.3f/%.3f/%.3f ms\n", *count, times.size(),
                *std::min_element(times.begin(), times.end()), sum / static_cast<double>(times.size()),
                *std::max_element(times.begin(), times.end()));
    return times.size() == *count ? kExitOk : kExitTimeout;
}

int command_raw(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--timeout"});
    const auto timeout = timeout_option(parsed, "--timeout", 2);
    std::string joined;
    for (const std::string& part : parsed.positional)
        joined += part + " ";
    const auto bytes = parse_hex(joined);
    if (!parsed.error.empty() || !timeout || !bytes)
        return usage_error(*find_command("raw"), parsed.error.empty() && timeout ? "needs bytes in hex" : "bad arguments");
    int code = kExitOk;
    auto connection = start(context, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    if (!peer.send_bytes(bytes->data(), bytes->size())) {
        std::fputs("inkora-remote: the agent does not take input any more\n", stderr);
        return kExitNoAgent;
    }
    std::printf("Sent %zu bytes: %s\n", bytes->size(), hex_text(*bytes).c_str());
    std::fflush(stdout);
    // The first answer may take the whole time-out; further ones come close
    // behind it. The agent's own pings are not answers.
    auto not_ping = [](const inkora_messages& m) { return type_of(m) != INKORA_MESSAGE_PING; };
    size_t answers = 0;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*timeout);
    while (Message answer = peer.wait_for_match(not_ping, wait)) {
        std::printf("%s", render(*answer).c_str());
        std::fflush(stdout);
        ++answers;
        wait = 300ms;
    }
    if (answers == 0) {
        std::fputs("inkora-remote: no answer before the time-out\n", stderr);
        return kExitTimeout;
    }
    return kExitOk;
}

int command_demo(CommandContext& context) {
    const Parsed parsed = parse(context.args, {"--out-dir", "--pad"});
    if (!parsed.error.empty() || !parsed.positional.empty())
        return usage_error(*find_command("demo"), parsed.error.empty() ? "takes only options" : parsed.error);
    const std::string directory = parsed.value("--out-dir").value_or(".");
    GlobalOptions options = context.options;
    if (options.simulated.empty())
        options.simulated = "1";
    const auto begin = Clock::now();
    std::printf("== Starting the agent %s%s%s with %s simulated pad(s)\n", options.agent.c_str(),
                options.plugin.empty() ? " over pipes" : " through the plug-in ", options.plugin.c_str(),
                options.simulated.c_str());
    int code = kExitOk;
    auto connection = connect(options, code);
    if (!connection)
        return code;
    RemotePeer& peer = *connection->peer;
    std::printf("   agent version %u.%u.%u\n", connection->version->version.version_major,
                connection->version->version.version_minor, connection->version->version.version_release);
    std::puts("== Listing the pads");
    std::fflush(stdout);
    if (const int listed = list_pads(peer); listed != kExitOk)
        return listed;
    std::string alias = parsed.value("--pad").value_or("");
    if (alias.empty()) {
        const auto devices = peer.enumerate();
        if (!devices || devices->empty())
            return kExitNoPad;
        alias = devices->front().alias;
        for (const auto& device : *devices) {
            if (device.model == "Simulated Pad") {
                alias = device.alias;
                break;
            }
        }
    }
    OpenPad pad(peer, alias);
    if (const int opened = pad.open(); opened != kExitOk)
        return opened;
    const PadLayout layout = read_layout(pad);
    const DisplayInfo& d = layout.display;
    std::printf("== Display of pad %s: %u x %u pixels, colour depth %u, %u regions\n", alias.c_str(), d.width, d.height,
                d.color_depth, d.region_count);
    for (const Region& region : layout.regions)
        std::printf("   %s\n", describe_region(region).c_str());
    const uint8_t ok = find_button(layout.regions, "OK");
    if (ok == 0) {
        std::fputs("inkora-remote: the pad shows no OK button\n", stderr);
        return kExitFailed;
    }
    const Region& ok_region = *std::find_if(layout.regions.begin(), layout.regions.end(),
                                            [&](const Region& r) { return r.number == ok; });
    const auto strokes = demo_strokes();
    std::printf("== Drawing %zu strokes through the pad's pen-input simulation and pressing OK\n", strokes.size());
    std::fflush(stdout);
    std::atomic<bool> drawn{false};
    std::thread pen([&] { drawn = draw_through_pad(peer, alias, strokes, ok_region); });
    const Capture capture = capture_signature(peer, alias, layout, 20s, false);
    pen.join();
    if (!drawn) {
        std::fputs("inkora-remote: the pad refused the pen-input simulation\n", stderr);
        return kExitFailed;
    }
    if (capture.end != CaptureEnd::kOk) {
        std::fprintf(stderr, "inkora-remote: the capture did not end on OK (%zu reports read)%s%s\n", capture.reports,
                     capture.error.empty() ? "" : ": ", capture.error.c_str());
        return capture.end == CaptureEnd::kTimeout ? kExitTimeout : kExitFailed;
    }
    std::printf("== Read %zu input reports back: %zu strokes, %zu points, ended on OK\n", capture.reports,
                capture.signature.strokes.size(), point_count(capture.signature));
    const int written =
        write_pictures(capture.signature, directory + "/signature.svg", directory + "/signature.png");
    if (written == kExitOk)
        std::printf("== Done in %.1f s\n", std::chrono::duration<double>(Clock::now() - begin).count());
    return written;
}

} // namespace inkora::tool
