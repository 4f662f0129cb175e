// inkora-remote end to end: the program is run as a user runs it, against
// the real agent with simulated pads (directly and through the ica-pipe
// plug-in), and its output, its exit codes and the pictures it writes are
// checked. A few pure helpers (hex, pen scripts, the PNG writer) are checked
// directly.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "inkora-remote.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string read_text(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class RemoteTool : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '-';
        dir_ = fs::temp_directory_path() / ("inkora-remote-test-" + std::to_string(getpid()) + "-" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure())
            fs::remove_all(dir_);
    }

    // Runs inkora-remote with the given arguments (already shell-quoted
    // where needed); env is prepended as assignments.
    Outcome run(const std::string& args, const std::string& env = "") const {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const std::string command = "cd " + quote(dir_.string()) + " && env -u INKORA_SIMULATED_PADS " + env + " " +
                                    quote(INKORA_REMOTE_TOOL) + " " + args + " >" + quote(out.string()) + " 2>" +
                                    quote(err.string()) + " </dev/null";
        const int status = std::system(command.c_str());
        Outcome result;
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = read_text(out);
        result.err = read_text(err);
        return result;
    }

    // The agent of this build with n simulated pads.
    Outcome agent(const std::string& command, int pads = 1) const {
        return run("--agent " + quote(INKORA_AGENT_PATH) + (pads > 0 ? " --simulated " + std::to_string(pads) : "") +
                   " " + command);
    }

    fs::path write(const std::string& name, const std::string& text) const {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path dir_;
};

// ---- PNG checking: every chunk's CRC, the header, and the inflated rows -----

uint32_t be32(const std::string& bytes, size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3]));
}

struct Png {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rows; // filter byte + RGB per row
    size_t dark_pixels = 0;
};

// Decodes an 8-bit RGB PNG without interlacing; fails the test when it is
// not a valid one.
Png decode_png(const std::string& bytes) {
    Png png;
    EXPECT_GE(bytes.size(), 8u);
    if (bytes.size() < 8 || bytes.compare(0, 8, std::string("\x89PNG\r\n\x1a\n", 8)) != 0) {
        ADD_FAILURE() << "no PNG signature";
        return png;
    }
    std::string idat;
    bool ended = false;
    size_t at = 8;
    while (at + 12 <= bytes.size() && !ended) {
        const uint32_t length = be32(bytes, at);
        if (at + 12 + length > bytes.size()) {
            ADD_FAILURE() << "chunk runs past the end";
            return png;
        }
        const std::string type = bytes.substr(at + 4, 4);
        const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + at + 4), 4 + length);
        EXPECT_EQ(be32(bytes, at + 8 + length), static_cast<uint32_t>(crc)) << "CRC of " << type;
        const std::string data = bytes.substr(at + 8, length);
        if (type == "IHDR") {
            EXPECT_EQ(length, 13u);
            png.width = be32(data, 0);
            png.height = be32(data, 4);
            EXPECT_EQ(data[8], 8);  // bit depth
            EXPECT_EQ(data[9], 2);  // RGB
            EXPECT_EQ(data[12], 0); // no interlace
        } else if (type == "IDAT") {
            idat += data;
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    EXPECT_TRUE(ended) << "no IEND chunk";
    EXPECT_EQ(at, bytes.size()) << "bytes after IEND";
    const size_t stride = 1 + 3 * static_cast<size_t>(png.width);
    png.rows.resize(stride * png.height + 1);
    uLongf size = png.rows.size();
    EXPECT_EQ(uncompress(png.rows.data(), &size, reinterpret_cast<const Bytef*>(idat.data()), idat.size()), Z_OK);
    EXPECT_EQ(size, stride * png.height);
    png.rows.resize(size);
    for (size_t row = 0; row < png.height && (row + 1) * stride <= png.rows.size(); ++row) {
        EXPECT_EQ(png.rows[row * stride], 0) << "filter of row " << row;
        for (size_t x = 0; x < png.width; ++x) {
            const uint8_t* p = &png.rows[row * stride + 1 + 3 * x];
            png.dark_pixels += (p[0] < 128 && p[1] < 128 && p[2] < 128) ? 1 : 0;
        }
    }
    return png;
}

// ---- help and usage --------------------------------------------------------

TEST_F(RemoteTool, OverviewNamesEveryCommandAndEachCommandHasHelp) {
    const Outcome overview = run("--help");
    EXPECT_EQ(overview.code, 0);
    for (const auto& command : inkora::tool::commands()) {
        const std::string name(command.name);
        EXPECT_NE(overview.out.find("  " + name + " "), std::string::npos) << name;
        for (const std::string& form : {name + " --help", "help " + name}) {
            const Outcome help = run(form);
            EXPECT_EQ(help.code, 0) << form;
            EXPECT_NE(help.out.find("usage: inkora-remote [GLOBAL OPTIONS] " + name), std::string::npos) << form;
            EXPECT_NE(help.out.find(std::string(command.summary)), std::string::npos) << form;
        }
    }
}

TEST_F(RemoteTool, BadCommandLinesExitWithTwoAndSayWhy) {
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"", "usage: inkora-remote"},
        {"frobnicate", "no command frobnicate"},
        {"--bogus list", "unknown option --bogus"},
        {"--agent", "--agent needs a value"},
        {"info", "needs one pad alias"},
        {"info 1 2", "needs one pad alias"},
        {"sign 1", "needs a pad alias and --out FILE.svg"},
        {"read 1 --count 0", "usage: inkora-remote read"},
        {"read 1 --timeout soon", "usage: inkora-remote read"},
        {"ping --count", "--count needs a value"},
        {"raw 0g", "needs bytes in hex"},
        {"raw 1", "needs bytes in hex"},
        {"list --verbose", "unknown option --verbose"},
    };
    for (const Case& c : cases) {
        const Outcome result = run(c.args);
        EXPECT_EQ(result.code, 2) << c.args;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << ": " << result.err;
    }
}

TEST_F(RemoteTool, AgentThatCannotStartOrDoesNotAnswerExitsWithThree) {
    const Outcome missing = run("--agent /nonexistent/penlark-remote-standalone list");
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("cannot start the agent /nonexistent/penlark-remote-standalone: No such file"),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("--agent PATH"), std::string::npos);

    const Outcome silent = run("--agent /bin/true ping");
    EXPECT_EQ(silent.code, 3);
    EXPECT_NE(silent.err.find("the agent /bin/true did not answer (it exited with status 0)"), std::string::npos)
        << silent.err;

    const Outcome no_plugin = run("--agent " + quote(INKORA_AGENT_PATH) + " --plugin /nonexistent/ica-pipe.so list");
    EXPECT_EQ(no_plugin.code, 3);
    EXPECT_NE(no_plugin.err.find("cannot load the plug-in /nonexistent/ica-pipe.so"), std::string::npos);
}

// ---- list and info -----------------------------------------------------------

TEST_F(RemoteTool, ListShowsEveryPadWithIdentifierAndFirmware) {
    const Outcome result = agent("list", 2);
    ASSERT_EQ(result.code, 0) << result.err;
    const std::regex pad(
        "pad ([12]): Simulated Pad \\(Inkora\\), USB 18fb:0100\n"
        "  unique identifier: ([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})\n"
        "  firmware: 4\\.5\\.6 \\(kernel 1\\.2\\.3\\)\n");
    std::vector<std::string> aliases, ids;
    for (auto it = std::sregex_iterator(result.out.begin(), result.out.end(), pad); it != std::sregex_iterator();
         ++it) {
        aliases.push_back((*it)[1]);
        ids.push_back((*it)[2]);
    }
    EXPECT_EQ(aliases, (std::vector<std::string>{"1", "2"})) << result.out;
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[0], ids[1]) << "every simulated pad has its own error-correction table";
}

TEST_F(RemoteTool, ListWithoutPadsExitsWithFourAndAHint) {
    const Outcome result = agent("list", 0);
    EXPECT_EQ(result.code, 4);
    EXPECT_NE(result.out.find("No pads found."), std::string::npos);
    EXPECT_NE(result.err.find("--simulated 1"), std::string::npos);
}

TEST_F(RemoteTool, InfoDecodesDisplayVersionRegionsStatusAndCapabilities) {
    const Outcome result = agent("info 1");
    ASSERT_EQ(result.code, 0) << result.err;
    for (const char* line : {
             "display: 320 x 192 pixels, colour depth 8, text 30 x 8, 5 regions, captions of 16\n",
             "version: firmware 4.5.6, kernel 1.2.3, ASIC signature 0x1234\n",
             "regions: 5\n",
             "  region 1: container x 0-319 y 0-151 flags accept-touch,visible,in-use ink\n",
             "  region 2: line x 20-299 y 130-131 flags visible,in-use parent 1 width 2\n",
             "  region 3: button x 0-105 y 160-191 flags accept-touch,visible,in-use,frame caption \"Clear\"\n",
             "  region 5: button x 214-319 y 160-191 flags accept-touch,visible,in-use,frame caption \"OK\"\n",
             "interlocks held: none\n",
             "  coordinate modes: 0x0c (bit 2, 3)\n",
             "  digitizer: 4096 x 4096, coordinates x 0-4095 y 0-4095\n",
             "  card reader: present (id 0x83)\n",
             "  screens and resources: supported\n",
         }) {
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "in\n" << result.out;
    }
}

TEST_F(RemoteTool, UnknownPadExitsWithFourNamingTheKnownOnes) {
    for (const char* command : {"info 9", "read 9 --count 1", "sign 9 --out x.svg"}) {
        const Outcome result = agent(command, 2);
        EXPECT_EQ(result.code, 4) << command;
        EXPECT_NE(result.err.find("no pad 9; the pads are: 1, 2"), std::string::npos) << result.err;
    }
}

// ---- read and sign, with pens played through the pad's simulation report ----

TEST_F(RemoteTool, ReadDecodesTheReportsThePenMakes) {
    const fs::path pen = write("pen.txt",
                               "# a stroke in the signing area, a type-1 point, a tap on OK\n"
                               "down 10 20\n"
                               "up 10 20\n"
                               "\n"
                               "down 4000 123 1\n"
                               "down 266 175\n"
                               "up 266 175\n");
    const Outcome result = agent("read 1 --count 5 --timeout 10 --pen " + quote(pen.string()));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "Reading pad 1.\n"
              "extended x=10 y=20 pen=down source=pen region=1 (container)\n"
              "extended x=10 y=20 pen=up source=pen region=1 (container)\n"
              "coordinate x=4000 y=123 pen=down source=pen\n"
              "extended x=266 y=175 pen=down source=pen region=5 (button \"OK\")\n"
              "extended x=266 y=175 pen=up source=pen region=5 (button \"OK\")\n");
}

TEST_F(RemoteTool, ReadWithFewerReportsThanAskedExitsWithFive) {
    const fs::path pen = write("pen.txt", "down 10 20\n");
    const Outcome result = agent("read 1 --count 3 --timeout 1 --pen " + quote(pen.string()));
    EXPECT_EQ(result.code, 5);
    EXPECT_NE(result.out.find("extended x=10 y=20 pen=down"), std::string::npos);
    EXPECT_NE(result.err.find("1 of 3 reports came before the time-out"), std::string::npos) << result.err;
}

TEST_F(RemoteTool, BadPenScriptIsAUsageError) {
    const fs::path pen = write("pen.txt", "down 10 20\nhover 3 4\n");
    const Outcome result = agent("read 1 --pen " + quote(pen.string()));
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("line 2: expected"), std::string::npos) << result.err;
}

struct SignCase {
    const char* name;
    const char* pen;
    int code;
    const char* svg_paths; // the path elements' d attributes, one per line; null: no SVG
    const char* message;   // on standard error
};

class Sign : public RemoteTool, public ::testing::WithParamInterface<SignCase> {};

TEST_P(Sign, StrokesEndAtTheButtons) {
    const SignCase& c = GetParam();
    const fs::path pen = write("pen.txt", c.pen);
    const Outcome result = agent("sign 1 --out sig.svg --png sig.png --timeout 3 --pen " + quote(pen.string()));
    EXPECT_EQ(result.code, c.code) << result.err;
    if (c.message != nullptr) {
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    if (c.svg_paths == nullptr) {
        EXPECT_FALSE(fs::exists(dir_ / "sig.svg"));
        return;
    }
    const std::string svg = read_text(dir_ / "sig.svg");
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"320\" height=\"192\" viewBox=\"0 0 320 192\">"),
              std::string::npos);
    EXPECT_NE(svg.find("</svg>\n"), std::string::npos);
    std::string paths;
    const std::regex d("<path d=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), d); it != std::sregex_iterator(); ++it)
        paths += (*it)[1].str() + "\n";
    EXPECT_EQ(paths, c.svg_paths);
    EXPECT_NE(result.out.find("Wrote " + (dir_ / "sig.svg").string()), std::string::npos) << result.out;
    const Png png = decode_png(read_text(dir_ / "sig.png"));
    EXPECT_EQ(png.width, 320u);
    EXPECT_EQ(png.height, 192u);
    EXPECT_GT(png.dark_pixels, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Pens, Sign,
    ::testing::Values(
        SignCase{"TwoStrokesThenOk",
                 "down 10 20\ndown 11 22\ndown 15 30\nup 15 30\ndown 200 40\ndown 210 41\nup 210 41\n"
                 "down 266 175\nup 266 175\n",
                 0, "M 10 20 L 11 22 L 15 30\nM 200 40 L 210 41\n", nullptr},
        // Type-1 reports carry digitizer coordinates, drawn in display pixels.
        SignCase{"DigitizerPointIsScaledToTheDisplay", "down 4095 4095 1\nup 4095 4095 1\ndown 266 175\nup 266 175\n",
                 0, "M 319 191 L 319 191\n", nullptr},
        SignCase{"ClearStartsAgain", "down 10 20\ndown 30 40\nup 30 40\ndown 50 175\nup 50 175\ndown 90 90\n"
                                     "up 90 90\ndown 266 175\nup 266 175\n",
                 0, "M 90 90 L 90 90\n", nullptr},
        // The pen goes down on OK but leaves it before lifting: no press.
        SignCase{"OkNeedsTheLiftInsideIt", "down 10 20\nup 10 20\ndown 266 175\ndown 150 100\nup 150 100\n", 5,
                 nullptr, "OK was not pressed before the time-out (5 reports read)"},
        SignCase{"CancelGivesUp", "down 10 20\nup 10 20\ndown 150 175\nup 150 175\n", 1, nullptr,
                 "the signature was cancelled on the pad"},
        SignCase{"NothingBeforeTheTimeOut", "", 5, nullptr, "OK was not pressed before the time-out (0 reports read)"}),
    [](const ::testing::TestParamInfo<SignCase>& info) { return std::string(info.param.name); });

TEST_F(RemoteTool, SignIntoAnUnwritablePlaceFails) {
    const fs::path pen = write("pen.txt", "down 10 20\nup 10 20\ndown 266 175\nup 266 175\n");
    const Outcome result = agent("sign 1 --out /nonexistent/dir/sig.svg --timeout 3 --pen " + quote(pen.string()));
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("cannot write /nonexistent/dir/sig.svg: No such file or directory"), std::string::npos)
        << result.err;
}

// ---- ping, raw, watch ----------------------------------------------------------

TEST_F(RemoteTool, PingTimesEveryRoundTrip) {
    const Outcome result = agent("ping --count 3 --interval 0.01", 0);
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 4) << result.out;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("ping [0-9]+: pong in [0-9.]+ ms\n")));
    EXPECT_TRUE(std::regex_search(result.out,
                                  std::regex("3 sent, 3 answered, round trip min/avg/max = [0-9.]+/[0-9.]+/[0-9.]+ ms")));
}

TEST_F(RemoteTool, RawSendsBytesAndShowsTheDecodedAnswer) {
    // An enumeration request with sequence number 0x2a in the spellings the
    // tool accepts.
    for (const char* bytes : {"01 2a000000", "01:2A:00:00:00", "0x01 0x2a 0x00 0x00 0x00", "012a 0000 00"}) {
        const Outcome result = agent(std::string("raw ") + bytes);
        ASSERT_EQ(result.code, 0) << bytes << ": " << result.err;
        EXPECT_NE(result.out.find("Sent 5 bytes: 01 2a 00 00 00\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("INKORA_MESSAGE_DEVICEENUM_RESPONSE (seq: 42)\n\tDevice Count: 1\n"),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find("Model: Simulated Pad"), std::string::npos);
    }
    // Two messages in one go: both answers are shown.
    const Outcome two = agent("raw 01 01000000 15 02000000 00000004 02 00 00 01");
    ASSERT_EQ(two.code, 0) << two.err;
    EXPECT_NE(two.out.find("INKORA_MESSAGE_DEVICEENUM_RESPONSE (seq: 1)"), std::string::npos) << two.out;
    EXPECT_NE(two.out.find("INKORA_MESSAGE_VERSION_INFO"), std::string::npos) << two.out;
}

TEST_F(RemoteTool, RawWithoutAnswerExitsWithFive) {
    // A pong needs no answer.
    const Outcome result = agent("raw 12 00000000 --timeout 0.3");
    EXPECT_EQ(result.code, 5);
    EXPECT_NE(result.err.find("no answer before the time-out"), std::string::npos);
}

TEST_F(RemoteTool, WatchShowsTheAgentsPings) {
    const Outcome result = agent("watch --count 1 --timeout 6", 0);
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("[0-9.]+ s  ping from the agent \\(seq 1\\), answered\n")))
        << result.out;
}

// ---- through the plug-in, and the demo ------------------------------------------

TEST_F(RemoteTool, ThroughThePluginTheChainAnswersAsDirectly) {
    const std::string through = "--plugin " + quote(INKORA_ICA_PIPE_PLUGIN) + " ";
    const Outcome direct = agent("list", 2);
    const Outcome plugged = agent(through + "list", 2);
    ASSERT_EQ(plugged.code, 0) << plugged.err;
    EXPECT_EQ(plugged.out, direct.out);

    const Outcome missing = run("--agent /nonexistent/agent --plugin " + quote(INKORA_ICA_PIPE_PLUGIN) + " list");
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("cannot start the agent /nonexistent/agent"), std::string::npos);
}

TEST_F(RemoteTool, DemoRunsTheWholeChainAndWritesBothPictures) {
    // What scripts/demo.sh runs after the build.
    const Outcome result = run("--agent " + quote(INKORA_AGENT_PATH) + " --plugin " + quote(INKORA_ICA_PIPE_PLUGIN) +
                           " --simulated 1 demo --out-dir " + quote(dir_.string()));
    ASSERT_EQ(result.code, 0) << result.err << result.out;
    for (const char* line : {"through the plug-in", "pad 1: Simulated Pad (Inkora), USB 18fb:0100",
                             "== Display of pad 1: 320 x 192 pixels, colour depth 8, 5 regions",
                             "caption \"OK\"", "== Drawing 3 strokes", "3 strokes, 87 points, ended on OK"}) {
        EXPECT_NE(result.out.find(line), std::string::npos) << line << " in\n" << result.out;
    }
    EXPECT_NE(result.out.find("Wrote " + (dir_ / "signature.svg").string() + " (3 strokes, 87 points)"),
              std::string::npos);
    EXPECT_NE(result.out.find("Wrote " + (dir_ / "signature.png").string() + " (320 x 192 pixels)"),
              std::string::npos);
    const std::string svg = read_text(dir_ / "signature.svg");
    EXPECT_EQ(std::count(svg.begin(), svg.end(), 'M'), 3);
    const Png png = decode_png(read_text(dir_ / "signature.png"));
    EXPECT_EQ(png.width, 320u);
    EXPECT_EQ(png.height, 192u);
    EXPECT_GT(png.dark_pixels, 200u);
}

// ---- pure helpers ------------------------------------------------------------

TEST(RemoteToolHex, SpellingsAndRejections) {
    using inkora::tool::parse_hex;
    EXPECT_EQ(parse_hex("01 2a"), (std::vector<uint8_t>{0x01, 0x2a}));
    EXPECT_EQ(parse_hex("0x01,0XFF"), (std::vector<uint8_t>{0x01, 0xff}));
    EXPECT_EQ(parse_hex("00ff00"), (std::vector<uint8_t>{0x00, 0xff, 0x00}));
    for (const char* bad : {"", " ", "1", "1 23", "0g", "01 2", "zz"})
        EXPECT_FALSE(parse_hex(bad).has_value()) << bad;
}

TEST(RemoteToolPicture, PngOfAnEmptySignatureIsWhite) {
    inkora::tool::Signature signature;
    signature.width = 7;
    signature.height = 3;
    const std::vector<uint8_t> bytes = inkora::tool::signature_png(signature);
    const Png png = decode_png(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(png.width, 7u);
    EXPECT_EQ(png.height, 3u);
    EXPECT_EQ(png.dark_pixels, 0u);
    for (size_t i = 0; i < png.rows.size(); ++i) {
        if (i % 22 != 0) {
            EXPECT_EQ(png.rows[i], 0xff) << i;
        }
    }
}

} // namespace
