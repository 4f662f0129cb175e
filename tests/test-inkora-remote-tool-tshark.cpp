// The Wireshark dissector (tools/wireshark/inkora.lua) on a trace that the
// real agent wrote of a scripted session: every message type that occurred
// is named and its fields decoded, a message that arrived in two chunks is
// reassembled, three messages in one chunk are all shown, and an unknown
// message is flagged. Label `tshark`; skipped with a reason without tshark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "remote-peer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using inkora::peer::RemotePeer;

constexpr const char* kTshark = "/usr/bin/tshark";

// Wire encoding by hand, so that the test decides how bytes are chunked.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& header(uint8_t type, uint32_t seq) {
        data.push_back(type);
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<uint8_t>(seq >> (8 * i))); // little-endian
        return *this;
    }
    Bytes& u32(uint32_t value) {
        for (int i = 3; i >= 0; --i)
            data.push_back(static_cast<uint8_t>(value >> (8 * i))); // big-endian
        return *this;
    }
    Bytes& text(const std::string& text) {
        u32(static_cast<uint32_t>(text.size()));
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
};

std::string run_tshark(const std::string& args) {
    const std::string command = std::string(kTshark) + " -X lua_script:" INKORA_DISSECTOR " " + args + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        out.append(buffer, n);
    return out;
}

class DissectorTrace : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (access(kTshark, X_OK) != 0)
            return;
        dir_ = fs::temp_directory_path() / ("inkora-dissector-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        record();
        verbose_ = run_tshark("-r " + trace().string() + " -V");
        summary_ = run_tshark("-r " + trace().string());
    }
    static void TearDownTestSuite() {
        if (!dir_.empty())
            fs::remove_all(dir_);
    }
    void SetUp() override {
        if (access(kTshark, X_OK) != 0)
            GTEST_SKIP() << kTshark << " is not installed (apt-get install tshark)";
        ASSERT_TRUE(fs::exists(trace())) << "the agent wrote no trace";
    }

    static fs::path trace() { return dir_ / "session.pcap"; }

    // The scripted session. Waits for each answer so that the agent reads
    // every write as one chunk (and the split open as two).
    static void record() {
        inkora::peer::AgentOptions options;
        options.executable = INKORA_AGENT_PATH;
        options.environment = {{"INKORA_SIMULATED_PADS", "1"},
                               {"INKORA_TRACE", "1"},
                               {"INKORA_DEBUG_LOCATION", dir_.string() + "/"},
                               {"INKORA_TRACE_FILE", "session.pcap"}};
        options.unset_environment = {"INKORA_DEBUG"};
        RemotePeer peer(options);
        ASSERT_TRUE(peer.started());

        // Three messages in one chunk: enumeration, ping, version.
        Bytes three;
        three.header(1, 1001).header(17, 1002).header(21, 1003).u32(4);
        three.data.insert(three.data.end(), {2, 0, 0, 1});
        ASSERT_TRUE(peer.send_bytes(three.data.data(), three.data.size()));
        ASSERT_TRUE(peer.wait_for(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 3s, 1001u));
        ASSERT_TRUE(peer.wait_for(INKORA_MESSAGE_PONG, 3s));
        ASSERT_TRUE(peer.wait_for(INKORA_MESSAGE_VERSION_INFO, 3s));

        // An open request split across two chunks.
        Bytes open;
        open.header(3, 1004).text("1");
        ASSERT_TRUE(peer.send_bytes(open.data.data(), 3));
        std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(peer.send_bytes(open.data.data() + 3, open.data.size() - 3));
        const auto opened = peer.wait_for(INKORA_MESSAGE_OPEN_RESPONSE, 5s, 1004u);
        ASSERT_TRUE(opened);
        ASSERT_EQ(opened->open_response.success, 1);

        ASSERT_TRUE(peer.get_feature("1", 100, 10).success);
        ASSERT_TRUE(peer.set_feature("1", inkora::peer::pen_simulation_report(2, 10, 20, true)).success);
        ASSERT_TRUE(peer.wait_read(peer.send_read("1"), 3s).success);
        ASSERT_TRUE(peer.set_feature("1", inkora::peer::pen_simulation_report(2, 266, 175, false)).success);
        ASSERT_TRUE(peer.wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s, peer.send_read_bulk("1", 4)));
        ASSERT_TRUE(peer.set_output("1", {0x05, 0x01, 0x02}).answered);
        ASSERT_TRUE(peer.close("1").success);
        const auto refused = peer.open("9");
        ASSERT_TRUE(refused.answered);
        ASSERT_FALSE(refused.success);

        // Last, a message type that does not exist.
        Bytes unknown;
        unknown.header(99, 7).u32(0);
        ASSERT_TRUE(peer.send_bytes(unknown.data.data(), unknown.data.size()));
        std::this_thread::sleep_for(200ms);
        peer.close_and_wait(5s);
    }

    // The first message whose summary line starts with summary_prefix: that
    // line and the lines nested under it, one level of indentation removed.
    static std::string message_block(const std::string& summary_prefix) {
        size_t at = verbose_.find("\n    " + summary_prefix);
        if (at == std::string::npos)
            return {};
        at += 1;
        size_t line_end = verbose_.find('\n', at);
        std::string out = verbose_.substr(at + 4, line_end - at - 4) + "\n";
        while (line_end != std::string::npos) {
            const size_t next = verbose_.find('\n', line_end + 1);
            const std::string line = verbose_.substr(line_end + 1, next - line_end - 1);
            if (line.rfind("        ", 0) != 0)
                break;
            out += line.substr(4) + "\n";
            line_end = next;
        }
        return out;
    }

    static inline fs::path dir_;
    static inline std::string verbose_;
    static inline std::string summary_;
};

TEST_F(DissectorTrace, NamesEveryMessageTypeAndDecodesItsFields) {
    struct Case {
        const char* summary;
        std::vector<const char*> lines;
    } cases[] = {
        {"DEVICEENUM_REQUEST seq=1001", {"    Message type: DEVICEENUM_REQUEST (1)\n", "    Sequence number: 1001\n"}},
        {"DEVICEENUM_RESPONSE seq=1001 devices=1",
         {"    Device count: 1\n", "    Device 1\n", "        Path length: 1\n", "        Path: 1\n",
          "        Product id: 0x0100\n", "        Vendor id: 0x18fb\n", "        Model length: 13\n",
          "        Model: Simulated Pad\n", "        Manufacturer length: 6\n", "        Manufacturer: Inkora\n"}},
        {"PING seq=1002", {"    Message type: PING (17)\n", "    Sequence number: 1002\n"}},
        {"PONG seq=0", {"    Message type: PONG (18)\n"}},
        {"VERSION_INFO seq=1003",
         {"    Total length: 4\n", "    Version major: 2\n", "    Version minor: 0\n", "    Version release: 0\n",
          "    Supports bulk: yes (1)\n"}},
        {"OPEN_REQUEST seq=1004 path=1", {"    Message type: OPEN_REQUEST (3)\n", "    Path length: 1\n"}},
        {"OPEN_RESPONSE seq=1004 path=1 ok", {"    Success: done (1)\n", "    Error length: 0\n"}},
        {"GET_FEATURE_REQUEST", {"    Report id: 100\n", "    Report length: 10\n"}},
        {"GET_FEATURE_RESPONSE", {"    Success: done (1)\n", "    Report length: 10\n",
                                  "    Report: 644001c000081e080510\n"}},
        {"SET_FEATURE_REQUEST", {"    Report length: 67\n", "    Report: fd640200000011"}},
        {"SET_FEATURE_RESPONSE", {"    Message type: SET_FEATURE_RESPONSE (12)\n", "    Success: done (1)\n"}},
        {"READ_REQUEST", {"    Message type: READ_REQUEST (7)\n", "    Path: 1\n"}},
        {"READ_RESPONSE", {"    Success: done (1)\n", "    Report id: 2\n", "    Report length: 7\n",
                           "    Report: 02010a00140001\n"}},
        {"READ_BULK_REQUEST", {"    Maximum reports: 4\n"}},
        {"READ_BULK_RESPONSE", {"    Report count: 1\n", "    Report 1\n", "        Report id: 2\n",
                                "        Report length: 7\n", "        Report: 02000a01af0005\n"}},
        {"SET_OUTPUT_REQUEST", {"    Report length: 3\n", "    Report: 050102\n"}},
        {"SET_OUTPUT_RESPONSE", {"    Message type: SET_OUTPUT_RESPONSE (10)\n"}},
        {"CLOSE_REQUEST", {"    Message type: CLOSE_REQUEST (5)\n"}},
        {"CLOSE_RESPONSE", {"    Success: done (1)\n"}},
    };
    for (const Case& c : cases) {
        const std::string block = message_block(c.summary);
        ASSERT_FALSE(block.empty()) << "no message " << c.summary << " in\n" << summary_;
        for (const char* line : c.lines)
            EXPECT_NE(block.find(line), std::string::npos) << c.summary << ": " << line << " in\n" << block;
    }
    EXPECT_EQ(verbose_.find("Lua Error"), std::string::npos) << verbose_;
}

TEST_F(DissectorTrace, FailedOpenShowsTheErrorText) {
    std::smatch refused;
    ASSERT_TRUE(std::regex_search(summary_, refused, std::regex("OPEN_RESPONSE seq=[0-9]+ path=[^ ]* failed\n"))) << summary_;
    const std::string block = message_block(refused[0].str().substr(0, refused[0].length() - 1));
    EXPECT_NE(block.find("    Success: failed (0)\n"), std::string::npos) << block;
    EXPECT_NE(block.find("    Error length: 26\n    Error: Unable to locate device: 9\n"), std::string::npos) << block;
    EXPECT_NE(block.find("The operation failed"), std::string::npos) << block;
}

TEST_F(DissectorTrace, ThreeMessagesInOneChunkAreAllShown) {
    EXPECT_TRUE(std::regex_search(
        summary_, std::regex("1\\.0\\.0\\.0 → 2\\.0\\.0\\.0 +INKORA [0-9]+ DEVICEENUM_REQUEST seq=1001, "
                             "PING seq=1002, VERSION_INFO seq=1003\n")))
        << summary_;
}

TEST_F(DissectorTrace, MessageSplitAcrossTwoChunksIsReassembled) {
    std::smatch first;
    ASSERT_TRUE(std::regex_search(summary_, first, std::regex(" ([0-9]+) +[0-9.]+ +1\\.0\\.0\\.0 → 2\\.0\\.0\\.0 +INKORA "
                                                              "[0-9]+ \\[3 bytes continued\\]\n")))
        << summary_;
    const int start = std::stoi(first[1]);
    std::smatch second;
    ASSERT_TRUE(std::regex_search(summary_, second, std::regex(" ([0-9]+) +[0-9.]+ +1\\.0\\.0\\.0 → 2\\.0\\.0\\.0 +INKORA "
                                                               "[0-9]+ OPEN_REQUEST seq=1004 path=1\n")));
    const int end = std::stoi(second[1]);
    EXPECT_GT(end, start);
    EXPECT_NE(verbose_.find("Reassembled from frames: " + std::to_string(start) + "-" + std::to_string(end)),
              std::string::npos);
    EXPECT_NE(verbose_.find("Message reassembled from several frames"), std::string::npos);
    const std::string block = message_block("OPEN_REQUEST seq=1004 path=1");
    EXPECT_NE(block.find("    Sequence number: 1004\n    Path length: 1\n    Path: 1\n"), std::string::npos) << block;
}

TEST_F(DissectorTrace, UnknownMessageIsFlagged) {
    EXPECT_NE(summary_.find("UNKNOWN(99) seq=7 [malformed]"), std::string::npos) << summary_;
    EXPECT_NE(verbose_.find("Unknown message type 99: the rest of the stream cannot be framed"), std::string::npos);
    const std::string filtered = run_tshark("-r " + trace().string() + " -Y inkora.unknown_type");
    EXPECT_NE(filtered.find("UNKNOWN(99)"), std::string::npos) << filtered;
}

// A trace written here, frame by frame, with faults the agent never sends:
// a version message with a total length below 4, a length field beyond the
// agent's 4096-byte limit, and an outgoing frame that ends inside its message.
void put_le32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(v >> (8 * i));
}

void put_be16(std::string& out, uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

std::string frame(bool incoming, const std::vector<uint8_t>& payload) {
    std::string packet(12, '\0');
    put_be16(packet, 0x0800);
    // IPv4 header, 20 bytes, checksum left 0.
    std::string ip = {0x45, 0};
    put_be16(ip, static_cast<uint16_t>(20 + 8 + payload.size()));
    ip += std::string("\0\0\0\0\x40\x11\0\0", 8);
    const std::string one("\x01\0\0\0", 4), two("\x02\0\0\0", 4);
    ip += incoming ? one + two : two + one;
    std::string udp;
    put_be16(udp, 1000);
    put_be16(udp, 1000);
    put_be16(udp, static_cast<uint16_t>(8 + payload.size()));
    put_be16(udp, 0);
    packet += ip + udp + std::string(payload.begin(), payload.end());
    std::string record;
    put_le32(record, 0);
    put_le32(record, 0);
    put_le32(record, static_cast<uint32_t>(packet.size()));
    put_le32(record, static_cast<uint32_t>(packet.size()));
    return record + packet;
}

TEST(DissectorFaults, MalformedMessagesAreFlagged) {
    if (access(kTshark, X_OK) != 0)
        GTEST_SKIP() << kTshark << " is not installed (apt-get install tshark)";
    std::string pcap;
    put_le32(pcap, 0xa1b2c3d4);
    put_be16(pcap, 0x0200); // version 2.4, little-endian fields
    put_be16(pcap, 0x0400);
    put_le32(pcap, 0);
    put_le32(pcap, 0);
    put_le32(pcap, 65535);
    put_le32(pcap, 1); // Ethernet
    Bytes short_version;
    short_version.header(21, 5).u32(2);
    short_version.data.insert(short_version.data.end(), {2, 0});
    Bytes huge;
    huge.header(3, 6).u32(5000);
    Bytes cut;
    cut.header(4, 6).text("1");
    cut.data.push_back(1); // success, then the error length is missing
    pcap += frame(true, short_version.data) + frame(true, huge.data) + frame(false, cut.data);
    const fs::path path = fs::temp_directory_path() / ("inkora-dissector-faults-" + std::to_string(getpid()) + ".pcap");
    {
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
        ASSERT_TRUE(file);
        ASSERT_EQ(std::fwrite(pcap.data(), 1, pcap.size(), file.get()), pcap.size());
    }
    const std::string verbose = run_tshark("-r " + path.string() + " -V");
    const std::string summary = run_tshark("-r " + path.string());
    fs::remove(path);
    EXPECT_NE(verbose.find("Total length: 2\n"), std::string::npos) << verbose;
    EXPECT_NE(verbose.find("Malformed: total length 2 is below the 4 version bytes"), std::string::npos) << verbose;
    EXPECT_NE(summary.find("OPEN_REQUEST seq=6 [malformed]"), std::string::npos) << summary;
    EXPECT_NE(verbose.find("A length field exceeds 4096 bytes"), std::string::npos) << verbose;
    EXPECT_NE(summary.find("TRUNCATED OPEN_RESPONSE"), std::string::npos) << summary;
    EXPECT_NE(verbose.find("The frame ends inside the message"), std::string::npos);
    EXPECT_EQ(verbose.find("Lua Error"), std::string::npos) << verbose;
}

} // namespace
