// The trace read back by a real pcap reader: tshark must see the frames with
// the addresses, ports, lengths and payload bytes that the trace means.
// Label `tshark`; skipped with a reason when /usr/bin/tshark is missing.

#include "inkora-debug.h"
#include "inkora-nibline-serial.h"

#include "support/inkora-child-process.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using inkora::test::run_in_child;
using inkora::test::scratch_dir;

constexpr const char* kTshark = "/usr/bin/tshark";

inkora_error_code discard_write(const uint8_t* /*buffer*/, uint32_t /*len*/) {
    return INKORA_CODE_SUCCESS;
}

std::string hex(const std::vector<uint8_t>& data) {
    std::string text;
    std::array<char, 3> two{};
    for (const uint8_t b : data) {
        std::snprintf(two.data(), two.size(), "%02x", b);
        text += two.data();
    }
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

struct pipe_closer {
    void operator()(std::FILE* f) const noexcept { pclose(f); }
};

TEST(InkoraDebugTshark, FramesReadBackWithAddressesPortsLengthsAndPayload) {
    if (access(kTshark, X_OK) != 0) {
        GTEST_SKIP() << kTshark << " is missing: install the Debian package tshark";
    }
    const scratch_dir dir;
    std::vector<uint8_t> chunk(100);
    for (size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<uint8_t> message(20);
    for (size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<uint8_t>(0xf0 - i);
    }
    const auto result = run_in_child(
        {{"INKORA_TRACE", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE_FILE", "t.pcap"}},
        [&chunk, &message] {
            inkora_debug_init("remote");
            inkora_debug_write_trace_header();
            inkora_debug_write_trace(chunk.data(), static_cast<uint32_t>(chunk.size()), INKORA_TRACE_DIRECTION_INCOMING);
            inkora_serial_dispatch dispatch{};
            dispatch.write_func = discard_write;
            inkora_debug_trace_wrap_dispatch(&dispatch);
            if (dispatch.write_func(message.data(), static_cast<uint32_t>(message.size())) != INKORA_CODE_SUCCESS ||
                dispatch.write_func(message.data(), 0) != INKORA_CODE_SUCCESS) {
                return 1;
            }
            inkora_debug_destroy();
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);

    // Port 1000 is decoded as plain data so that data.data shows the payload.
    const std::string command = std::string(kTshark) + " -r '" + (dir / "t.pcap").string() +
                                "' -d udp.port==1000,data -T fields -E separator=/t -e eth.dst -e eth.src -e eth.type"
                                " -e ip.src -e ip.dst -e ip.len -e ip.proto -e udp.srcport -e udp.dstport"
                                " -e udp.length -e frame.len -e frame.cap_len -e data.data 2>/dev/null";
    const std::unique_ptr<std::FILE, pipe_closer> out(popen(command.c_str(), "r"));
    ASSERT_TRUE(out);
    std::string text;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), out.get())) > 0) {
        text.append(buffer.data(), n);
    }
    const std::vector<std::string> lines = split(text, '\n');
    // split leaves an empty last part after the final newline
    ASSERT_EQ(lines.size(), 4u) << text;

    const std::vector<std::vector<std::string>> expected{
        {"02:00:00:00:00:00", "01:00:00:00:00:00", "0x0800", "1.0.0.0", "2.0.0.0", "128", "17", "1000", "1000", "108",
         "142", "142", hex(chunk)},
        {"01:00:00:00:00:00", "02:00:00:00:00:00", "0x0800", "2.0.0.0", "1.0.0.0", "48", "17", "1000", "1000", "28",
         "62", "62", hex(message)},
        {"01:00:00:00:00:00", "02:00:00:00:00:00", "0x0800", "2.0.0.0", "1.0.0.0", "28", "17", "1000", "1000", "8",
         "42", "42", ""},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i + 1) + ": " + lines[i]);
        std::vector<std::string> fields = split(lines[i], '\t');
        fields.resize(expected[i].size());
        EXPECT_EQ(fields, expected[i]);
    }
}

} // namespace
