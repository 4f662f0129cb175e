// Tests of the debug log, the traffic trace and the process fingerprint.
//
// Everything that depends on the environment runs in a forked child (see
// support/inkora-child-process.hpp): the child configures, reports and
// checks what only it can see (the gate, the handler list), the parent reads
// the files it left behind.

#include "inkora-debug.h"
#include "inkora-nibline-serial.h"

#include "inkora-debug-private.h"
#include "inkora-debug-scope.hpp"
#include "support/inkora-child-process.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern "C" void inkora_test_c_report(void);

namespace {

namespace fs = std::filesystem;
using inkora::test::environment;
using inkora::test::read_file;
using inkora::test::run_in_child;
using inkora::test::scratch_dir;
using inkora::test::write_file;

// ---------------------------------------------------------------------------
// Helpers: log records and pcap records as the files hold them.

struct log_record {
    std::string function;
    std::string level;
    std::string time;
    uint32_t process = 0;
    uint32_t thread = 0;
    std::string file;
    int line = 0;
    std::string text;
};

// Splits a log file into records; nullopt when any record is malformed.
std::optional<std::vector<log_record>> parse_log(const std::string& content) {
    static const std::regex header(
        R"(^(\S+)\(\) \[level: ([A-Z]+), time: (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d), process: (\d+), thread: (\d+), location: (.*):(-?\d+)\]$)");
    std::vector<log_record> records;
    size_t at = 0;
    while (at < content.size()) {
        const size_t end1 = content.find('\n', at);
        if (end1 == std::string::npos) {
            return std::nullopt;
        }
        const size_t end2 = content.find('\n', end1 + 1);
        if (end2 == std::string::npos) {
            return std::nullopt;
        }
        const std::string first = content.substr(at, end1 - at);
        const std::string second = content.substr(end1 + 1, end2 - end1 - 1);
        std::smatch m;
        if (!std::regex_match(first, m, header) || second.rfind("   ", 0) != 0) {
            return std::nullopt;
        }
        log_record r;
        r.function = m[1];
        r.level = m[2];
        r.time = m[3];
        r.process = static_cast<uint32_t>(std::stoul(m[4]));
        r.thread = static_cast<uint32_t>(std::stoul(m[5]));
        r.file = m[6];
        r.line = std::stoi(m[7]);
        r.text = second.substr(3);
        records.push_back(std::move(r));
        at = end2 + 1;
    }
    return records;
}

std::vector<std::string> texts_of(const std::vector<log_record>& records) {
    std::vector<std::string> texts;
    for (const auto& r : records) {
        texts.push_back(r.text);
    }
    return texts;
}

uint32_t le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t be16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}

struct pcap_record {
    uint32_t ts_sec = 0;
    uint32_t ts_usec = 0;
    uint32_t incl_len = 0;
    uint32_t orig_len = 0;
    std::string frame; // incl_len bytes
};

// The records after a 24-byte global header; nullopt when the file does not
// split exactly into whole records.
std::optional<std::vector<pcap_record>> parse_pcap(const std::string& content) {
    if (content.size() < 24) {
        return std::nullopt;
    }
    std::vector<pcap_record> records;
    size_t at = 24;
    while (at < content.size()) {
        if (content.size() - at < 16) {
            return std::nullopt;
        }
        pcap_record r;
        r.ts_sec = le32(content, at);
        r.ts_usec = le32(content, at + 4);
        r.incl_len = le32(content, at + 8);
        r.orig_len = le32(content, at + 12);
        at += 16;
        if (content.size() - at < r.incl_len) {
            return std::nullopt;
        }
        r.frame = content.substr(at, r.incl_len);
        at += r.incl_len;
        records.push_back(std::move(r));
    }
    return records;
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (const int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

// Checks the synthetic 42-byte frame header of one record.
void expect_frame_header(const pcap_record& r, uint32_t payload, bool incoming) {
    SCOPED_TRACE("payload " + std::to_string(payload) + (incoming ? " incoming" : " outgoing"));
    ASSERT_GE(r.frame.size(), 42u);
    const int src = incoming ? 1 : 2;
    const int dst = incoming ? 2 : 1;
    EXPECT_EQ(r.frame.substr(0, 6), bytes({dst, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.frame.substr(6, 6), bytes({src, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.frame.substr(12, 4), bytes({0x08, 0x00, 0x45, 0x00}));
    EXPECT_EQ(be16(r.frame, 16), payload + 28);
    EXPECT_EQ(r.frame.substr(18, 8), bytes({0, 0, 0x40, 0, 0x80, 0x11, 0, 0}));
    EXPECT_EQ(r.frame.substr(26, 4), bytes({src, 0, 0, 0}));
    EXPECT_EQ(r.frame.substr(30, 4), bytes({dst, 0, 0, 0}));
    EXPECT_EQ(be16(r.frame, 34), 1000);
    EXPECT_EQ(be16(r.frame, 36), 1000);
    EXPECT_EQ(be16(r.frame, 38), payload + 8);
    EXPECT_EQ(be16(r.frame, 40), 0);
}

std::string pid_text(pid_t pid) {
    return std::to_string(pid);
}

// ---------------------------------------------------------------------------
// Pure building blocks, in this process.

TEST(InkoraDebugLevelName, EveryLevelAndUnknownValues) {
    const std::vector<std::pair<uint32_t, std::string>> cases{
        {0, "ALL"},      {100, "FINEST"},  {200, "FINER"},   {300, "FINE"},      {400, "INFO"},
        {500, "WARNING"}, {600, "SEVERE"}, {700, "NONE"},    {1, "UNKNOWN"},     {350, "UNKNOWN"},
        {701, "UNKNOWN"}, {UINT32_MAX, "UNKNOWN"}};
    for (const auto& [value, name] : cases) {
        EXPECT_STREQ(inkora_debug_get_level_name(static_cast<inkora_debug_level>(value)), name.c_str()) << value;
    }
}

TEST(InkoraDebugReplaceToken, ReplacesTheFirstOccurrenceOnly) {
    struct replace_case {
        const char* text;
        const char* token;
        const char* replacement;
        const char* expected;
    };
    const std::array<replace_case, 7> cases{{
        {"a-${pid}-${pid}.log", "${pid}", "4242", "a-4242-${pid}.log"},
        {"${label}", "${label}", "remote", "remote"},
        {"x${random}", "${random}", "", "x"},
        {"no token here", "${pid}", "1", "no token here"},
        {"${pi}d ${pid", "${pid}", "1", "${pi}d ${pid"},
        {"", "${pid}", "1", ""},
        {"keep", "", "1", "keep"},
    }};
    for (const auto& c : cases) {
        char* text = strdup(c.text);
        replace_token(&text, c.token, c.replacement);
        EXPECT_STREQ(text, c.expected) << c.text;
        free(text);
    }
    char* nothing = nullptr;
    replace_token(&nothing, "${pid}", "1");
    EXPECT_EQ(nothing, nullptr);
}

inkora_debug_message* make_message(const char* function, const char* file, int32_t line, time_t when,
                                   inkora_debug_level level, const char* format, ...) INKORA_PRINTF(6, 7);
inkora_debug_message* make_message(const char* function, const char* file, int32_t line, time_t when,
                                   inkora_debug_level level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    inkora_debug_message* m = inkora_debug_create_message(function, file, line, when, 7, 9, level, format, args);
    va_end(args);
    return m;
}

std::string local_time_text(time_t when) {
    struct tm local {};
    localtime_r(&when, &local);
    std::array<char, 30> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
    return text.data();
}

TEST(InkoraDebugFormatter, RendersTheTwoLineRecord) {
    const time_t when = 1700000000;
    inkora_debug_message* m = make_message("fn", "src/a.cpp", 12, when, INKORA_DEBUG_LEVEL_WARNING, "hello %d", 5);
    ASSERT_NE(m, nullptr);
    size_t length = 0;
    char* text = inkora_debug_default_formatter(&inkora_debug_file_handler, m, &length);
    const std::string expected = "fn() [level: WARNING, time: " + local_time_text(when) +
                                 ", process: 7, thread: 9, location: src/a.cpp:12]\n   hello 5\n";
    EXPECT_EQ(std::string(text), expected);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(inkora_debug_default_filter(&inkora_debug_file_handler, m), 1);
    free(text);
    inkora_debug_free_message(m);
    inkora_debug_free_message(nullptr);
}

TEST(InkoraDebugFormatter, LongTextIsCutAt8190AndTheRecordAt8191) {
    const std::string longText(9000, 'x');
    for (const size_t textLen : {size_t{8190}, size_t{8191}, size_t{9000}}) {
        SCOPED_TRACE(textLen);
        inkora_debug_message* m = make_message("fn", "f.c", 1, 0, INKORA_DEBUG_LEVEL_INFO, "%.*s",
                                               static_cast<int>(textLen), longText.c_str());
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(std::strlen(m->message), std::min<size_t>(textLen, 8190));
        size_t length = 0;
        char* text = inkora_debug_default_formatter(&inkora_debug_file_handler, m, &length);
        EXPECT_EQ(length, 8191u);
        EXPECT_EQ(std::strlen(text), 8191u);
        EXPECT_EQ(std::string(text, 4), "fn()");
        free(text);
        inkora_debug_free_message(m);
    }
}

// ---------------------------------------------------------------------------
// Key-value files and the distribution.

struct kv_case {
    const char* name;
    std::string content;
    std::vector<std::pair<std::string, std::string>> pairs;
};

TEST(InkoraDebugKeyValueFile, ParsesLinesAsTheReleaseFilesHoldThem) {
    const std::string longValue1(2045, 'v');
    const std::string longValue2(951, 'w');
    const std::vector<kv_case> cases{
        {"quoted after unquoted", "NAME=Example\nPRETTY_NAME=\"Example Linux 1.0\"\n",
         {{"NAME", "Example"}, {"PRETTY_NAME", "Example Linux 1.0"}}},
        {"last line without newline", "ID=x\nPRETTY_NAME=\"Example Linux 1.0\"",
         {{"ID", "x"}, {"PRETTY_NAME", "Example Linux 1.0"}}},
        {"lone quote", "KEY=\"\n", {{"KEY", ""}}},
        {"empty value", "KEY=\n", {{"KEY", ""}}},
        {"line without equals skipped", "junk\n\nA=1\n", {{"A", "1"}}},
        {"key and value untrimmed", " K = v \n", {{" K ", " v "}}},
        {"only the first equals splits", "A=b=c\n", {{"A", "b=c"}}},
        {"comment lines take part", "#C=1\n", {{"#C", "1"}}},
        {"quote only at the end stays", "A=x\"\n", {{"A", "x\""}}},
        {"opening quote drops the last character", "A=\"abc\n", {{"A", "ab"}}},
        // A 3000-byte line arrives as a piece of 2047 bytes and the rest, each
        // handled as a line of its own.
        {"3000-byte line in two pieces", "K=" + longValue1 + "X=" + longValue2 + "\n",
         {{"K", longValue1}, {"X", longValue2}}},
        {"empty file", "", {}},
    };
    const scratch_dir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / "kv";
        write_file(file, c.content);
        inkora_list* list = inkora_create_list();
        ASSERT_EQ(read_key_value_pair_file(file.c_str(), list), 1);
        std::vector<std::pair<std::string, std::string>> got;
        for (inkora_list_item* item = list->first; item != nullptr; item = item->next) {
            const auto* pair = static_cast<const key_value_pair*>(item->ptr);
            got.emplace_back(pair->key, pair->value);
        }
        EXPECT_EQ(got, c.pairs);
        free_keypair_list(list);
    }
    inkora_list* list = inkora_create_list();
    EXPECT_EQ(read_key_value_pair_file((dir / "missing").c_str(), list), 0);
    EXPECT_EQ(inkora_list_count(list), 0u);
    free_keypair_list(list);
    free_keypair_list(nullptr);
}

// Points the distribution files at a scratch root for the length of a scope.
struct distribution_root_guard {
    explicit distribution_root_guard(const std::string& root) {
        inkora::debug_detail::set_distribution_root(root.c_str());
    }
    ~distribution_root_guard() { inkora::debug_detail::set_distribution_root(nullptr); }
    distribution_root_guard(const distribution_root_guard&) = delete;
    distribution_root_guard& operator=(const distribution_root_guard&) = delete;
};

struct distro_case {
    const char* name;
    std::map<std::string, std::string> files; // path under the root -> content
    const char* expected;
};

TEST(InkoraDebugDistribution, FallsBackThroughTheReleaseFiles) {
    const std::vector<distro_case> cases{
        {"os-release pretty name",
         {{"etc/os-release", "NAME=\"Example\"\nPRETTY_NAME=\"Example Linux 1.0\"\n"}},
         "Example Linux 1.0"},
        {"first of the two keys in the file wins",
         {{"etc/os-release", "DISTRIB_DESCRIPTION=First\nPRETTY_NAME=Second\n"}},
         "First"},
        {"etc os-release without the keys, usr lib one with",
         {{"etc/os-release", "NAME=Example\n"}, {"usr/lib/os-release", "PRETTY_NAME=\"From usr lib\"\n"}},
         "From usr lib"},
        {"lsb-release when both os-release files give nothing",
         {{"etc/os-release", "ID=x\n"}, {"etc/lsb-release", "DISTRIB_ID=Ex\nDISTRIB_DESCRIPTION=\"Ex 22.04\"\n"}},
         "Ex 22.04"},
        {"etc os-release wins over lsb-release",
         {{"etc/os-release", "PRETTY_NAME=A\n"}, {"etc/lsb-release", "DISTRIB_DESCRIPTION=B\n"}},
         "A"},
        {"redhat-release first line without newline",
         {{"etc/redhat-release", "Example Enterprise release 9.3 (Plow)\nsecond line\n"}},
         "Example Enterprise release 9.3 (Plow)"},
        {"redhat-release used after key-less release files",
         {{"etc/os-release", "NAME=x\n"}, {"etc/redhat-release", "Red\n"}},
         "Red"},
        {"empty redhat-release", {{"etc/redhat-release", ""}}, "Linux (Unknown)"},
        {"no source at all", {}, "Linux (Unknown)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_dir root;
        for (const auto& [path, content] : c.files) {
            write_file(root / path, content);
        }
        const distribution_root_guard guard(root.str());
        char* distro = linux_get_distribution();
        ASSERT_NE(distro, nullptr);
        EXPECT_STREQ(distro, c.expected);
        free(distro);
    }
}

TEST(InkoraDebugDistribution, RedHatReleaseAloneOrMissing) {
    const scratch_dir root;
    const distribution_root_guard guard(root.str());
    EXPECT_EQ(linux_get_redhat_distribution(), nullptr);
    write_file(root / "etc/redhat-release", "Example release 8\n");
    char* text = linux_get_redhat_distribution();
    EXPECT_STREQ(text, "Example release 8");
    free(text);
}

// ---------------------------------------------------------------------------
// The log in child processes.

// Reports one line at each level the system uses and the two others.
void report_probes() {
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINEST, "probe FINEST");
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINER, "probe FINER");
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINE, "probe FINE");
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_INFO, "probe INFO");
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_WARNING, "probe WARNING");
    INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_SEVERE, "probe SEVERE");
}

std::vector<std::string> probes_of(const std::vector<log_record>& records) {
    std::vector<std::string> probes;
    for (const auto& r : records) {
        if (r.text.rfind("probe ", 0) == 0) {
            probes.push_back(r.text.substr(6));
            EXPECT_EQ(r.level, r.text.substr(6));
        }
    }
    return probes;
}

TEST(InkoraDebugLog, SwitchValues) {
    struct switch_case {
        std::optional<std::string> value;
        bool on;
    };
    const std::vector<switch_case> cases{
        {"true", true},   {"TRUE", true},    {"1", true},      {"yes", true},   {"YES", true},
        {"on", true},     {"ON", true},      {"True", false},  {"enabled", false}, {"0", false},
        {"", false},      {" on", false},    {"Yes", false},   {std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        const scratch_dir dir;
        environment env{{"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE", "0"}};
        if (c.value) {
            env.emplace_back("INKORA_DEBUG", *c.value);
        }
        const auto result = run_in_child(env, [] {
            inkora_debug_init("remote");
            report_probes();
            inkora_debug_destroy();
            return 0;
        });
        ASSERT_EQ(result.exit_code, 0);
        if (c.on) {
            const std::string name = "inkora-debug-remote-" + pid_text(result.pid) + ".log";
            ASSERT_EQ(dir.entries(), std::vector<std::string>{name});
            const auto records = parse_log(read_file(dir / name).value_or(""));
            ASSERT_TRUE(records.has_value());
            EXPECT_EQ(probes_of(*records).size(), 6u);
        } else {
            EXPECT_TRUE(dir.entries().empty());
        }
    }
}

TEST(InkoraDebugLog, LevelNamesSetTheGate) {
    struct level_case {
        std::optional<std::string> value;
        uint32_t gate;
    };
    const std::vector<level_case> cases{
        {std::nullopt, 0}, {"ALL", 0},       {"all", 0},       {"FINEST", 100}, {"finest", 100},
        {"FINER", 200},    {"finer", 200},   {"FINE", 300},    {"fine", 300},   {"INFO", 400},
        {"info", 400},     {"Info", 0},      {"WARNING", 500}, {"warning", 500}, {"SEVERE", 600},
        {"severe", 600},   {"NONE", 700},    {"none", 700},    {"bogus", 0},    {"", 0},
    };
    const std::vector<std::pair<std::string, uint32_t>> probeLevels{
        {"FINEST", 100}, {"FINER", 200}, {"FINE", 300}, {"INFO", 400}, {"WARNING", 500}, {"SEVERE", 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        const scratch_dir dir;
        environment env{{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_FILE", "log"}};
        if (c.value) {
            env.emplace_back("INKORA_DEBUG_LEVEL", *c.value);
        }
        const uint32_t gate = c.gate;
        const auto result = run_in_child(env, [gate] {
            if (inkora_debug_gate != UINT32_MAX) {
                return 1;
            }
            inkora_debug_init("remote");
            if (inkora_debug_gate != gate) {
                return 2;
            }
            report_probes();
            inkora_debug_destroy();
            return inkora_debug_gate == UINT32_MAX ? 0 : 3;
        });
        ASSERT_EQ(result.exit_code, 0);
        const auto content = read_file(dir / "log");
        ASSERT_TRUE(content.has_value()) << "the log file is created at every level";
        const auto records = parse_log(*content);
        ASSERT_TRUE(records.has_value());
        std::vector<std::string> expected;
        for (const auto& [name, value] : probeLevels) {
            if (value >= gate) {
                expected.push_back(name);
            }
        }
        EXPECT_EQ(probes_of(*records), expected);
        // The fingerprint's two INFO lines come first when INFO passes.
        const size_t fingerprintLines = gate <= 400 ? 2 : 0;
        EXPECT_EQ(records->size(), fingerprintLines + expected.size());
        if (gate == 700) {
            EXPECT_TRUE(content->empty());
        }
    }
}

TEST(InkoraDebugLog, HandlerSelection) {
    struct handler_case {
        std::optional<std::string> value;
        bool file;
    };
    const std::vector<handler_case> cases{
        {std::nullopt, true}, {"", true}, {"file", true}, {"logfile", true}, {"console,file", true},
        {"console", false},   {"FILE", false}, {"fil", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        const scratch_dir dir;
        environment env{{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE", "0"}};
        if (c.value) {
            env.emplace_back("INKORA_DEBUG_HANDLERS", *c.value);
        }
        const uint32_t expectedHandlers = c.file ? 1 : 0;
        const auto result = run_in_child(env, [expectedHandlers] {
            inkora_debug_init("remote");
            const inkora_list* handlers = inkora_debug_get_handlers();
            if (inkora_list_count(handlers) != expectedHandlers) {
                return 1;
            }
            if (expectedHandlers == 1 && handlers->first->ptr != &inkora_debug_file_handler) {
                return 2;
            }
            INKORA_LOG_WARNING("one record");
            inkora_debug_destroy();
            return inkora_debug_file_handler.handlerData == nullptr ? 0 : 3;
        });
        ASSERT_EQ(result.exit_code, 0);
        EXPECT_EQ(dir.entries().size(), expectedHandlers);
    }
}

TEST(InkoraDebugLog, LocationFallbacks) {
    const scratch_dir dir;
    for (const char* sub : {"loc", "tmpdir", "temp", "tmp"}) {
        fs::create_directories(dir / sub);
    }
    const std::string loc = (dir / "loc").string();
    const std::string tmpdir = (dir / "tmpdir").string();
    const std::string temp = (dir / "temp").string();
    const std::string tmp = (dir / "tmp").string();
    // A name that, put after an empty location and the separator, lands in
    // the scratch directory: proof that the path starts at the root.
    const std::string underRoot = dir.str().substr(1) + "/root.log";
    struct location_case {
        const char* name;
        environment env;
        fs::path expected;
    };
    const std::vector<location_case> cases{
        {"location wins",
         {{"INKORA_DEBUG_LOCATION", loc}, {"TMPDIR", tmpdir}, {"TEMP", temp}, {"TMP", tmp}},
         dir / "loc/x.log"},
        {"TMPDIR next", {{"TMPDIR", tmpdir}, {"TEMP", temp}, {"TMP", tmp}}, dir / "tmpdir/x.log"},
        {"TEMP next", {{"TEMP", temp}, {"TMP", tmp}}, dir / "temp/x.log"},
        {"TMP last", {{"TMP", tmp}}, dir / "tmp/x.log"},
        {"location with a trailing slash", {{"INKORA_DEBUG_LOCATION", loc + "/"}}, dir / "loc/x.log"},
        {"empty TMPDIR is a location at the root", {{"TMPDIR", ""}, {"TEMP", temp}}, dir / "root.log"},
        {"empty location wins too", {{"INKORA_DEBUG_LOCATION", ""}, {"TMPDIR", tmpdir}}, dir / "root.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        environment env = c.env;
        env.emplace_back("INKORA_DEBUG", "1");
        env.emplace_back("INKORA_TRACE", "0");
        env.emplace_back("INKORA_DEBUG_FILE", c.expected.filename() == "root.log" ? underRoot : "x.log");
        const auto result = run_in_child(env, [] {
            inkora_debug_init("remote");
            INKORA_LOG_WARNING("located");
            inkora_debug_destroy();
            return 0;
        });
        ASSERT_EQ(result.exit_code, 0);
        const auto content = read_file(c.expected);
        ASSERT_TRUE(content.has_value());
        EXPECT_NE(content->find("   located\n"), std::string::npos);
        fs::remove(c.expected);
        for (const char* sub : {"loc", "tmpdir", "temp", "tmp"}) {
            EXPECT_TRUE(fs::is_empty(dir / sub)) << sub;
        }
    }
}

TEST(InkoraDebugLog, NoLocationVariableMeansTmp) {
    const auto result = run_in_child({{"INKORA_DEBUG", "1"}, {"INKORA_TRACE", "0"}}, [] {
        inkora_debug_init("remote");
        INKORA_LOG_WARNING("in tmp");
        inkora_debug_destroy();
        return 0;
    });
    ASSERT_EQ(result.exit_code, 0);
    const fs::path expected = "/tmp/inkora-debug-remote-" + pid_text(result.pid) + ".log";
    const auto content = read_file(expected);
    fs::remove(expected);
    ASSERT_TRUE(content.has_value());
    EXPECT_NE(content->find("   in tmp\n"), std::string::npos);
}

TEST(InkoraDebugLog, FileNameTokens) {
    struct name_case {
        std::optional<std::string> value;
        std::string pattern; // regex; @ stands for the child's pid
    };
    const std::vector<name_case> cases{
        {std::nullopt, "inkora-debug-remote-@\\.log"},
        {"a-${pid}-${pid}.log", "a-@-\\$\\{pid\\}\\.log"},
        {"${label}-${label}.log", "remote-\\$\\{label\\}\\.log"},
        {"r-${random}.log", "r-[0-9]{9}\\.log"},
        {"${random}${random}", "[0-9]{9}\\$\\{random\\}"},
        {"${pid}${label}${random}", "@remote[0-9]{9}"},
        {"plain.log", "plain\\.log"},
        {"/abs.log", "abs\\.log"}, // an absolute name still lies under the location
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        const scratch_dir dir;
        environment env{{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE", "0"}};
        if (c.value) {
            env.emplace_back("INKORA_DEBUG_FILE", *c.value);
        }
        const auto result = run_in_child(env, [] {
            inkora_debug_init("remote");
            inkora_debug_destroy();
            return 0;
        });
        ASSERT_EQ(result.exit_code, 0);
        const auto names = dir.entries();
        ASSERT_EQ(names.size(), 1u);
        const std::string pattern = std::regex_replace(c.pattern, std::regex("@"), pid_text(result.pid));
        EXPECT_TRUE(std::regex_match(names[0], std::regex(pattern))) << names[0] << " !~ " << pattern;
    }
}

TEST(InkoraDebugLog, ExistingFileIsTruncatedAtInit) {
    const scratch_dir dir;
    write_file(dir / "log", "an old record\nfrom an earlier run\n");
    const auto result = run_in_child({{"INKORA_DEBUG", "1"},
                                      {"INKORA_DEBUG_LOCATION", dir.str()},
                                      {"INKORA_DEBUG_FILE", "log"},
                                      {"INKORA_DEBUG_LEVEL", "WARNING"}},
                                     [] {
                                         inkora_debug_init("remote");
                                         INKORA_LOG_WARNING("fresh");
                                         inkora_debug_destroy();
                                         return 0;
                                     });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_log(read_file(dir / "log").value_or("x"));
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(texts_of(*records), std::vector<std::string>{"fresh"});
}

TEST(InkoraDebugLog, LongReportIsCutAndTheNextRecordStaysWhole) {
    const scratch_dir dir;
    const auto result = run_in_child({{"INKORA_DEBUG", "1"},
                                      {"INKORA_DEBUG_LOCATION", dir.str()},
                                      {"INKORA_DEBUG_FILE", "log"},
                                      {"INKORA_DEBUG_LEVEL", "WARNING"}},
                                     [] {
                                         inkora_debug_init("remote");
                                         const std::string text(9000, 'x');
                                         INKORA_LOG_WARNING("%s", text.c_str());
                                         INKORA_LOG_WARNING("after");
                                         inkora_debug_destroy();
                                         return 0;
                                     });
    ASSERT_EQ(result.exit_code, 0);
    const std::string content = read_file(dir / "log").value_or("");
    ASSERT_GT(content.size(), 8191u);
    const std::string first = content.substr(0, 8191);
    EXPECT_EQ(first.find('\n'), first.find("]\n   ") + 1);
    EXPECT_EQ(first.back(), 'x'); // cut inside the text: no closing newline
    const auto rest = parse_log(content.substr(8191));
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(texts_of(*rest), std::vector<std::string>{"after"});
}

TEST(InkoraDebugLog, SecondInitKeepsTheFirstLabelAndConfiguration) {
    const scratch_dir dir;
    const auto result = run_in_child({{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE", "0"}},
                                     [] {
                                         inkora_debug_init("remote");
                                         // Changing the environment does not reach an initialised log.
                                         setenv("INKORA_DEBUG_LEVEL", "SEVERE", 1);
                                         inkora_debug_init("nibline");
                                         INKORA_LOG_INFO("after second init");
                                         inkora_debug_destroy();
                                         setenv("INKORA_DEBUG_LEVEL", "ALL", 1);
                                         // After destroy, init starts afresh and reads the environment again.
                                         inkora_debug_init("nibline");
                                         INKORA_LOG_INFO("after reinit");
                                         inkora_debug_destroy();
                                         return 0;
                                     });
    ASSERT_EQ(result.exit_code, 0);
    const std::string pid = pid_text(result.pid);
    ASSERT_EQ(dir.entries(),
              (std::vector<std::string>{"inkora-debug-nibline-" + pid + ".log", "inkora-debug-remote-" + pid + ".log"}));
    const auto first = parse_log(read_file(dir / ("inkora-debug-remote-" + pid + ".log")).value_or("x"));
    const auto second = parse_log(read_file(dir / ("inkora-debug-nibline-" + pid + ".log")).value_or("x"));
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    ASSERT_EQ(first->size(), 3u);
    EXPECT_EQ(first->at(0).text.rfind("Linux kernel version is ", 0), 0u);
    EXPECT_EQ(first->at(1).text.rfind("Process starting", 0), 0u);
    EXPECT_EQ(first->at(2).text, "after second init");
    // The caches answer the second fingerprint: no kernel line, same texts.
    ASSERT_EQ(second->size(), 2u);
    EXPECT_EQ(second->at(0).text, first->at(1).text);
    EXPECT_EQ(second->at(1).text, "after reinit");
}

TEST(InkoraDebugLog, ReportsBeforeInitAndAfterDestroyAreDropped) {
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_FILE", "log"},
         {"INKORA_DEBUG_LEVEL", "WARNING"}},
        [] {
            // The direct call applies the checks of its own, without the gate.
            inkora_debug_report_message("f", "x.c", 1, INKORA_DEBUG_LEVEL_SEVERE, "before init");
            inkora_debug_destroy(); // not initialised: nothing
            inkora_debug_init("remote");
            inkora_debug_report_message("f", "x.c", 2, INKORA_DEBUG_LEVEL_WARNING, "while initialised");
            inkora_debug_report_message("f", "x.c", 3, INKORA_DEBUG_LEVEL_INFO, "below the gate");
            inkora_debug_destroy();
            inkora_debug_report_message("f", "x.c", 4, INKORA_DEBUG_LEVEL_SEVERE, "after destroy");
            INKORA_LOG_WARNING("after destroy through the gate");
            return inkora_debug_get_handlers() == nullptr ? 0 : 1;
        });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_log(read_file(dir / "log").value_or("x"));
    ASSERT_TRUE(records.has_value());
    EXPECT_EQ(texts_of(*records), std::vector<std::string>{"while initialised"});
}

// A handler that records what the log hands it.
struct recording_handler {
    inkora_debug_handler handler{};
    std::vector<inkora_debug_message> records; // texts copied into texts
    std::vector<std::string> texts;
    int published = 0;
    int flushed = 0;
    int opened = 0;
    int closed = 0;

    explicit recording_handler(inkora_debug_level level) {
        handler.open = [](inkora_debug_handler* h) { self(h)->opened++; };
        handler.close = [](inkora_debug_handler* h) { self(h)->closed++; };
        handler.flush = [](inkora_debug_handler* h) { self(h)->flushed++; };
        handler.publish = [](inkora_debug_handler* h, inkora_debug_message* m) {
            self(h)->published++;
            self(h)->records.push_back(*m);
            self(h)->texts.emplace_back(m->message);
        };
        handler.formatter = inkora_debug_default_formatter;
        handler.filter = [](inkora_debug_handler*, inkora_debug_message* m) -> uint8_t {
            return std::strncmp(m->message, "drop", 4) == 0 ? 0 : 1;
        };
        handler.level = level;
        handler.handlerData = this;
    }
    static recording_handler* self(inkora_debug_handler* h) { return static_cast<recording_handler*>(h->handlerData); }
};

TEST(InkoraDebugLog, HandlersLevelsFiltersAndTheGate) {
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_HANDLERS", "console"}},
        [] {
            recording_handler warning(INKORA_DEBUG_LEVEL_WARNING);
            recording_handler severe(INKORA_DEBUG_LEVEL_SEVERE);
            // Before init there is no list to join: the gate stays shut.
            inkora_debug_add_handler(&warning.handler);
            if (inkora_debug_gate != UINT32_MAX) {
                return 1;
            }
            inkora_debug_init("remote");
            // No handler selected, yet init sets the gate to the configured level.
            if (inkora_list_count(inkora_debug_get_handlers()) != 0 || inkora_debug_gate != 0) {
                return 2;
            }
            inkora_debug_add_handler(&warning.handler);
            if (inkora_debug_gate != 500) {
                return 3;
            }
            const time_t before = time(nullptr);
            INKORA_LOG_INFO("below through the macro");
            inkora_debug_report_message("direct", "d.c", 5, INKORA_DEBUG_LEVEL_INFO, "below through the call");
            const int32_t line = __LINE__ + 1;
            INKORA_LOG_WARNING("warn %s", "one");
            INKORA_LOG_WARNING("drop me");
            const time_t after = time(nullptr);
            if (warning.texts != std::vector<std::string>{"warn one"} || warning.published != 1 ||
                warning.flushed != 1) {
                return 4;
            }
            const inkora_debug_message& m = warning.records[0];
            if (m.level != INKORA_DEBUG_LEVEL_WARNING || std::string(m.function) != "operator()" ||
                std::string(m.file) != __FILE__ || m.line_num != line || m.process_id != static_cast<uint32_t>(getpid()) ||
                m.thread_id != static_cast<uint32_t>(gettid()) || m.time < before || m.time > after) {
                return 5;
            }
            inkora_debug_add_handler(&severe.handler);
            if (inkora_debug_gate != 500) { // the lowest handler level
                return 6;
            }
            INKORA_LOG_WARNING("second warning");
            INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_SEVERE, "severe");
            if (warning.texts != std::vector<std::string>{"warn one", "second warning", "severe"} ||
                severe.texts != std::vector<std::string>{"severe"}) {
                return 7;
            }
            inkora_debug_remove_handler(&warning.handler);
            if (inkora_debug_gate != 500) { // removing does not recalculate
                return 8;
            }
            inkora_debug_recalculate_debug_level();
            if (inkora_debug_gate != 600) {
                return 9;
            }
            inkora_debug_remove_handler(&severe.handler);
            inkora_debug_recalculate_debug_level();
            if (inkora_debug_gate != 700) { // no handler: NONE
                return 10;
            }
            inkora_debug_add_handler(&severe.handler);
            inkora_debug_destroy();
            if (inkora_debug_gate != UINT32_MAX || warning.opened != 0 || severe.opened != 0 || warning.closed != 0 ||
                severe.closed != 1) {
                return 11;
            }
            return 0;
        });
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(InkoraDebugLog, FingerprintIsTheFirstTwoRecords) {
    struct fingerprint_case {
        const char* name;
        bool exeReadable;
    };
    const std::vector<fingerprint_case> cases{{"readable executable link", true}, {"unreadable link", false}};
    struct utsname info {};
    ASSERT_EQ(uname(&info), 0);
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_dir dir;
        write_file(dir / "root/etc/os-release", "NAME=Example\nPRETTY_NAME=\"Example Linux 1.0\"\n");
        const std::string root = (dir / "root").string();
        const std::string link = c.exeReadable ? std::string("/proc/self/exe") : (dir / "no-such-link").string();
        const auto result = run_in_child(
            {{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_FILE", "log"}},
            [&root, &link] {
                inkora::debug_detail::set_distribution_root(root.c_str());
                inkora::debug_detail::set_exe_link_path(link.c_str());
                inkora_debug_init("remote");
                const bool cached = std::string(inkora_debug_get_operating_system()) == "Example Linux 1.0" &&
                                    inkora_debug_get_native_architecture() == inkora_debug_get_native_architecture();
                inkora_debug_destroy();
                return cached ? 0 : 1;
            });
        ASSERT_EQ(result.exit_code, 0);
        const auto records = parse_log(read_file(dir / "log").value_or("x"));
        ASSERT_TRUE(records.has_value());
        ASSERT_EQ(records->size(), 2u);
        EXPECT_EQ(records->at(0).level, "INFO");
        EXPECT_EQ(records->at(0).text, std::string("Linux kernel version is ") + info.release + " - " + info.version);
        EXPECT_EQ(records->at(1).level, "INFO");
        EXPECT_EQ(records->at(1).function, "inkora_debug_print_fingerprint");
        EXPECT_EQ(records->at(1).text, "Process starting, proccess name: '" + (c.exeReadable ? exe : std::string()) +
                                           "', process architecture: x64, os version: Example Linux 1.0, "
                                           "os architecture: " +
                                           info.machine);
        EXPECT_EQ(records->at(1).process, static_cast<uint32_t>(result.pid));
    }
}

TEST(InkoraDebugLog, ProcessAndThreadIdentity) {
    EXPECT_EQ(inkora_debug_get_current_process_id(), static_cast<uint32_t>(getpid()));
    EXPECT_EQ(inkora_debug_get_current_thread_id(), static_cast<uint32_t>(gettid()));
    uint32_t other = 0;
    std::thread t([&other] { other = inkora_debug_get_current_thread_id(); });
    t.join();
    EXPECT_NE(other, inkora_debug_get_current_thread_id());
    EXPECT_STREQ(inkora_debug_get_process_architecture(), sizeof(void*) == 8 ? "x64" : "x32");
    char* name = inkora_debug_get_current_process_name();
    EXPECT_EQ(std::string(name), fs::read_symlink("/proc/self/exe").string());
    free(name);
}

TEST(InkoraDebugLog, RecordsOfConcurrentThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kReports = 250;
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_FILE", "log"}, {"INKORA_TRACE", "0"}},
        [] {
            inkora_debug_init("remote");
            std::latch start(kThreads);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([t, &start] {
                    const std::string padding(300, static_cast<char>('a' + t));
                    start.arrive_and_wait();
                    for (int i = 0; i < kReports; ++i) {
                        INKORA_LOG_FINE("thread %d report %d %s", t, i, padding.c_str());
                    }
                });
            }
            for (auto& thread : threads) {
                thread.join();
            }
            inkora_debug_destroy();
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_log(read_file(dir / "log").value_or("x"));
    ASSERT_TRUE(records.has_value()) << "a record was interleaved with another";
    std::map<int, int> next;               // thread -> next report number
    std::map<int, uint32_t> threadIds;     // thread -> kernel thread id
    static const std::regex text(R"(thread (\d) report (\d+) ([a-z]+))");
    for (const auto& r : *records) {
        std::smatch m;
        if (!std::regex_match(r.text, m, text)) {
            continue;
        }
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++) << "reports of one thread keep their order";
        EXPECT_EQ(m[3].str(), std::string(300, static_cast<char>('a' + t)));
        EXPECT_EQ(r.process, static_cast<uint32_t>(result.pid));
        if (!threadIds.contains(t)) {
            threadIds[t] = r.thread;
        }
        EXPECT_EQ(threadIds[t], r.thread);
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kReports) << t;
    }
    std::set<uint32_t> distinct;
    for (const auto& [t, id] : threadIds) {
        distinct.insert(id);
    }
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
}

// ---------------------------------------------------------------------------
// The entering/leaving scope helper and the C view of the header.

int scopeLine = 0;

int scoped_function(bool early) {
    scopeLine = __LINE__; INKORA_FUNCTION_SCOPE(); // one line: the scope reports this line
    if (early) {
        return 1;
    }
    INKORA_LOG_INFO("late exit");
    return 2;
}

TEST(InkoraDebugScope, EnteringAndLeavingAtEveryExit) {
    struct scope_case {
        std::string level;
        std::vector<std::string> expected;
    };
    const std::vector<scope_case> cases{
        {"ALL",
         {"==> Entering Function", "<== Leaving Function", "==> Entering Function", "late exit",
          "<== Leaving Function"}},
        {"INFO", {"late exit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        const scratch_dir dir;
        const auto result = run_in_child({{"INKORA_DEBUG", "1"},
                                          {"INKORA_DEBUG_LOCATION", dir.str()},
                                          {"INKORA_DEBUG_FILE", "log"},
                                          {"INKORA_DEBUG_LEVEL", c.level}},
                                         [] {
                                             inkora_debug_init("remote");
                                             const int sum = scoped_function(true) + scoped_function(false);
                                             inkora_debug_destroy();
                                             return sum == 3 ? 0 : 1;
                                         });
        ASSERT_EQ(result.exit_code, 0);
        scoped_function(true); // here, with the log off, only to learn the line
        const auto records = parse_log(read_file(dir / "log").value_or("x"));
        ASSERT_TRUE(records.has_value());
        std::vector<log_record> own;
        for (const auto& r : *records) {
            if (r.function == "scoped_function") {
                own.push_back(r);
            }
        }
        EXPECT_EQ(texts_of(own), c.expected);
        for (const auto& r : own) {
            if (r.text != "late exit") {
                EXPECT_EQ(r.level, "FINEST");
                EXPECT_EQ(r.file, __FILE__);
                EXPECT_EQ(r.line, scopeLine);
            }
        }
    }
}

TEST(InkoraDebugScope, CReportThroughTheMacro) {
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_DEBUG_FILE", "log"},
         {"INKORA_DEBUG_LEVEL", "WARNING"}},
        [] {
            inkora_test_c_report(); // before init: gated, nothing
            inkora_debug_init("remote");
            inkora_test_c_report();
            inkora_debug_destroy();
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_log(read_file(dir / "log").value_or("x"));
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 1u);
    EXPECT_EQ(records->at(0).function, "inkora_test_c_report");
    EXPECT_EQ(records->at(0).text, "from C 42");
    EXPECT_TRUE(records->at(0).file.ends_with("test-inkora-debug-c.c"));
}

// ---------------------------------------------------------------------------
// The trace.

// Output side of a dispatch under test: remembers what went out and how big
// the capture file was at that moment.
struct sink_state {
    std::string tracePath;
    std::vector<std::string> sent;
    std::vector<uintmax_t> traceSizeAtSend;
    inkora_error_code result = INKORA_CODE_SUCCESS;
};
sink_state sink;

inkora_error_code sink_write(const uint8_t* buffer, uint32_t len) {
    sink.sent.emplace_back(reinterpret_cast<const char*>(buffer), len);
    struct stat st {};
    sink.traceSizeAtSend.push_back(stat(sink.tracePath.c_str(), &st) == 0 ? static_cast<uintmax_t>(st.st_size) : 0);
    return sink.result;
}

inkora_error_code source_read(uint8_t* buffer, uint32_t len, uint32_t* readLen) {
    const uint32_t n = std::min<uint32_t>(len, 7);
    for (uint32_t i = 0; i < n; ++i) {
        buffer[i] = static_cast<uint8_t>(0xa0 + i);
    }
    *readLen = n;
    return INKORA_CODE_SUCCESS;
}

// A reader that fails and claims more bytes than the buffer holds.
inkora_error_code lying_read(uint8_t* /*buffer*/, uint32_t /*len*/, uint32_t* readLen) {
    *readLen = 5000;
    return INKORA_CODE_ERROR;
}

TEST(InkoraDebugTrace, ByteLayoutOfEveryRecordKind) {
    const scratch_dir dir;
    const std::string tracePath = (dir / "t.pcap").string();
    const auto result = run_in_child(
        {{"INKORA_TRACE", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE_FILE", "t.pcap"}},
        [&tracePath] {
            sink.tracePath = tracePath;
            inkora_debug_init("remote");
            inkora_debug_write_trace_header();
            inkora_debug_write_trace_header(); // the file already has its header
            std::array<uint8_t, 100> chunk{};
            for (size_t i = 0; i < chunk.size(); ++i) {
                chunk[i] = static_cast<uint8_t>(i);
            }
            inkora_debug_write_trace(chunk.data(), 100, INKORA_TRACE_DIRECTION_INCOMING);

            inkora_serial_dispatch dispatch{};
            dispatch.write_func = sink_write;
            dispatch.read_func = source_read;
            inkora_debug_trace_wrap_dispatch(&dispatch);
            if (dispatch.write_func != inkora_debug_trace_write_wrapper ||
                dispatch.read_func != inkora_debug_trace_reader_wrapper) {
                return 1;
            }
            std::array<uint8_t, 20> message{};
            message.fill(0xc5);
            if (dispatch.write_func(message.data(), 20) != INKORA_CODE_SUCCESS) {
                return 2;
            }
            sink.result = INKORA_CODE_ERROR; // the write's own result comes back
            if (dispatch.write_func(message.data(), 0) != INKORA_CODE_ERROR) {
                return 3;
            }
            std::array<uint8_t, 16> in{};
            uint32_t got = 0;
            if (dispatch.read_func(in.data(), 16, &got) != INKORA_CODE_SUCCESS || got != 7) {
                return 4;
            }
            inkora_debug_write_trace(message.data(), 3, 77); // any direction but 1 is outgoing

            // A second dispatch replaces the saved functions; a failed read
            // claiming 5000 bytes records no more than the 16 of the buffer.
            inkora_serial_dispatch other{};
            other.read_func = lying_read;
            inkora_debug_trace_wrap_dispatch(&other);
            if (other.write_func != nullptr || other.read_func(in.data(), 16, &got) != INKORA_CODE_ERROR) {
                return 5;
            }
            // The write function was saved as null: the wrapper refuses.
            if (dispatch.write_func(message.data(), 20) != INKORA_CODE_ERROR || sink.sent.size() != 2) {
                return 6;
            }
            inkora_debug_destroy();
            // After destroy the wrappers still pass traffic, without records.
            inkora_debug_write_trace(chunk.data(), 100, INKORA_TRACE_DIRECTION_INCOMING);
            if (other.read_func(in.data(), 16, &got) != INKORA_CODE_ERROR) {
                return 7;
            }
            // The record was in the file before the message went out.
            if (sink.traceSizeAtSend != std::vector<uintmax_t>{24 + 16 + 142 + 16 + 62, 24 + 16 + 142 + 16 + 62 + 16 + 42}) {
                return 8;
            }
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"t.pcap"}) << "the trace alone writes no log file";
    const std::string content = read_file(dir / "t.pcap").value_or("");
    ASSERT_GE(content.size(), 24u);
    EXPECT_EQ(content.substr(0, 24), bytes({0xd4, 0xc3, 0xb2, 0xa1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0,
                                            1, 0, 0, 0}));
    const auto records = parse_pcap(content);
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 6u);
    struct expected_record {
        uint32_t payload;
        bool incoming;
        std::string data;
    };
    std::string chunk;
    for (int i = 0; i < 100; ++i) {
        chunk.push_back(static_cast<char>(i));
    }
    std::string readBytes;
    for (int i = 0; i < 7; ++i) {
        readBytes.push_back(static_cast<char>(0xa0 + i));
    }
    const std::vector<expected_record> expected{
        {100, true, chunk},
        {20, false, std::string(20, '\xc5')},
        {0, false, ""},
        {7, true, readBytes},
        {3, false, std::string(3, '\xc5')},
        {16, true, readBytes + std::string(9, '\0')},
    };
    const time_t now = time(nullptr);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& r = records->at(i);
        EXPECT_EQ(r.incl_len, expected[i].payload + 42);
        EXPECT_EQ(r.orig_len, expected[i].payload + 42);
        EXPECT_LT(r.ts_usec, 1000000u);
        EXPECT_LE(std::abs(static_cast<long long>(r.ts_sec) - static_cast<long long>(now)), 60);
        expect_frame_header(r, expected[i].payload, expected[i].incoming);
        EXPECT_EQ(r.frame.substr(42), expected[i].data);
    }
    EXPECT_EQ(records->at(0).frame.size(), 142u);
    EXPECT_EQ(be16(records->at(0).frame, 16), 128);
    EXPECT_EQ(be16(records->at(0).frame, 38), 108);
}

TEST(InkoraDebugTrace, SwitchesNamesAndLocation) {
    struct trace_case {
        const char* name;
        environment env;
        bool log;
        std::optional<std::string> trace; // file name; @ = pid
    };
    const std::vector<trace_case> cases{
        {"the trace follows the log switch", {{"INKORA_DEBUG", "1"}}, true, "inkora-trace-remote-@.pcap"},
        {"trace switched off", {{"INKORA_DEBUG", "1"}, {"INKORA_TRACE", "0"}}, true, std::nullopt},
        {"set to the empty text is off", {{"INKORA_DEBUG", "1"}, {"INKORA_TRACE", ""}}, true, std::nullopt},
        {"trace without log", {{"INKORA_TRACE", "1"}}, false, "inkora-trace-remote-@.pcap"},
        {"trace on, log off", {{"INKORA_DEBUG", "0"}, {"INKORA_TRACE", "ON"}}, false, "inkora-trace-remote-@.pcap"},
        {"mixed case is off", {{"INKORA_TRACE", "True"}}, false, std::nullopt},
        {"name tokens", {{"INKORA_TRACE", "yes"}, {"INKORA_TRACE_FILE", "x-${pid}-${label}-${pid}.pcap"}}, false,
         "x-@-remote-${pid}.pcap"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_dir dir;
        environment env = c.env;
        env.emplace_back("INKORA_DEBUG_LOCATION", dir.str());
        const auto result = run_in_child(env, [] {
            inkora_debug_init("remote");
            inkora_debug_write_trace_header();
            inkora_debug_destroy();
            return 0;
        });
        ASSERT_EQ(result.exit_code, 0);
        const std::string pid = pid_text(result.pid);
        std::vector<std::string> expected;
        if (c.log) {
            expected.push_back("inkora-debug-remote-" + pid + ".log");
        }
        std::string traceName;
        if (c.trace) {
            traceName = std::regex_replace(*c.trace, std::regex("@"), pid);
            expected.push_back(traceName);
        }
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(dir.entries(), expected);
        if (c.trace) {
            EXPECT_EQ(fs::file_size(dir / traceName), 24u) << "no traffic: the global header alone";
        }
    }
    // With the log off the trace still finds its location through the fallbacks.
    const scratch_dir dir;
    const auto result = run_in_child({{"INKORA_TRACE", "1"}, {"TMP", dir.str()}}, [] {
        inkora_debug_init("remote");
        inkora_debug_write_trace_header();
        inkora_debug_destroy();
        return 0;
    });
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"inkora-trace-remote-" + pid_text(result.pid) + ".pcap"});
}

TEST(InkoraDebugTrace, MissingDirectoryLeavesTrafficUntouched) {
    const scratch_dir dir;
    const std::string missing = (dir / "missing").string();
    const auto result = run_in_child({{"INKORA_DEBUG", "1"}, {"INKORA_DEBUG_LOCATION", missing}}, [] {
        inkora_debug_init("remote");
        inkora_debug_write_trace_header();
        INKORA_LOG_WARNING("nowhere to go");
        inkora_serial_dispatch dispatch{};
        dispatch.write_func = sink_write;
        inkora_debug_trace_wrap_dispatch(&dispatch);
        const uint8_t message[5] = {1, 2, 3, 4, 5};
        const bool sent = dispatch.write_func(message, 5) == INKORA_CODE_SUCCESS && sink.sent.size() == 1 &&
                          sink.sent[0] == std::string("\1\2\3\4\5", 5);
        inkora_debug_write_trace(message, 5, INKORA_TRACE_DIRECTION_INCOMING);
        inkora_debug_destroy();
        return sent ? 0 : 1;
    });
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(InkoraDebugTrace, WrappersWithoutSavedFunctionsRefuse) {
    const auto result = run_in_child({}, [] {
        uint8_t buffer[4] = {};
        uint32_t got = 0;
        if (inkora_debug_trace_write_wrapper(buffer, 4) != INKORA_CODE_ERROR ||
            inkora_debug_trace_reader_wrapper(buffer, 4, &got) != INKORA_CODE_ERROR) {
            return 1;
        }
        // With the trace off, wrapping leaves the dispatch as it is.
        inkora_debug_init("remote");
        inkora_serial_dispatch dispatch{};
        dispatch.write_func = sink_write;
        inkora_debug_trace_wrap_dispatch(&dispatch);
        inkora_debug_trace_wrap_dispatch(nullptr);
        inkora_debug_destroy();
        return dispatch.write_func == sink_write ? 0 : 2;
    });
    EXPECT_EQ(result.exit_code, 0);
}

TEST(InkoraDebugTrace, WrappedDispatchKeepsWritingAcrossDestroyAndInit) {
    const scratch_dir dir;
    const auto result = run_in_child({{"INKORA_TRACE", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}}, [] {
        inkora_debug_init("remote");
        inkora_debug_write_trace_header();
        inkora_serial_dispatch dispatch{};
        dispatch.write_func = sink_write;
        inkora_debug_trace_wrap_dispatch(&dispatch);
        inkora_debug_destroy();
        unsetenv("INKORA_TRACE");
        inkora_debug_init("nibline");
        const uint8_t message[3] = {7, 8, 9};
        const bool sent = dispatch.write_func(message, 3) == INKORA_CODE_SUCCESS && sink.sent.size() == 1;
        inkora_debug_destroy();
        return sent ? 0 : 1;
    });
    EXPECT_EQ(result.exit_code, 0);
}

TEST(InkoraDebugTrace, OversizedChunkIsCutToWhatTheLengthFieldsHold) {
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_TRACE", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE_FILE", "t.pcap"}}, [] {
            inkora_debug_init("remote");
            inkora_debug_write_trace_header();
            std::vector<uint8_t> big(70000, 0x5a);
            inkora_debug_write_trace(big.data(), static_cast<uint32_t>(big.size()), INKORA_TRACE_DIRECTION_INCOMING);
            inkora_debug_write_trace(nullptr, 10, INKORA_TRACE_DIRECTION_OUTGOING); // no bytes to read
            inkora_debug_destroy();
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_pcap(read_file(dir / "t.pcap").value_or(""));
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ(records->at(0).incl_len, 42u + 65507u);
    EXPECT_EQ(records->at(0).orig_len, 42u + 70000u);
    expect_frame_header(records->at(0), 65507, true);
    EXPECT_EQ(records->at(0).frame.substr(42), std::string(65507, '\x5a'));
    EXPECT_EQ(records->at(1).incl_len, 42u);
    expect_frame_header(records->at(1), 0, false);
}

TEST(InkoraDebugTrace, RecordsOfConcurrentThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kRecords = 1000;
    const scratch_dir dir;
    const auto result = run_in_child(
        {{"INKORA_TRACE", "1"}, {"INKORA_DEBUG_LOCATION", dir.str()}, {"INKORA_TRACE_FILE", "t.pcap"}}, [] {
            inkora_debug_init("remote");
            inkora_debug_write_trace_header();
            std::latch start(kThreads);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([t, &start] {
                    std::vector<uint8_t> payload(600, static_cast<uint8_t>(t + 1));
                    start.arrive_and_wait();
                    for (int i = 0; i < kRecords; ++i) {
                        const auto len = static_cast<uint32_t>(1 + (i * 37) % 600);
                        inkora_debug_write_trace(payload.data(), len, t % 2 == 0 ? 1u : 2u);
                    }
                });
            }
            for (auto& thread : threads) {
                thread.join();
            }
            inkora_debug_destroy();
            return 0;
        });
    ASSERT_EQ(result.exit_code, 0);
    const auto records = parse_pcap(read_file(dir / "t.pcap").value_or(""));
    ASSERT_TRUE(records.has_value()) << "records do not split the file";
    ASSERT_EQ(records->size(), static_cast<size_t>(kThreads * kRecords));
    std::map<int, int> perThread;
    for (const auto& r : *records) {
        ASSERT_GT(r.frame.size(), 42u);
        const int t = static_cast<uint8_t>(r.frame[42]) - 1;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        const uint32_t payload = r.incl_len - 42;
        EXPECT_EQ(payload, static_cast<uint32_t>(1 + (perThread[t] * 37) % 600));
        EXPECT_EQ(r.frame.substr(42), std::string(payload, static_cast<char>(t + 1)));
        expect_frame_header(r, payload, t % 2 == 0);
        perThread[t]++;
    }
}

} // namespace
