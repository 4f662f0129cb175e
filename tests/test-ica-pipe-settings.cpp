// Where the plug-in finds the agent: INKORA_ICA_PIPE_EXEC or the default.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ica-pipe-settings.h"

namespace {

constexpr uint32_t kPluginBuffer = 4096; // the plug-in resolves into this many bytes
const std::string kDefault = "/opt/penlark-remote/penlark-remote-standalone";

// Sets or clears the variable for one test and restores it afterwards.
class ExecVariable : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("INKORA_ICA_PIPE_EXEC")) {
            saved_ = old;
        }
    }
    void TearDown() override {
        if (saved_) {
            setenv("INKORA_ICA_PIPE_EXEC", saved_->c_str(), 1);
        } else {
            unsetenv("INKORA_ICA_PIPE_EXEC");
        }
    }
    std::optional<std::string> saved_;
};

struct PathCase {
    const char* name;
    std::optional<std::string> variable; // nullopt: unset
    uint32_t bufferLength;
    bool accepted;
    std::string expected; // buffer content when accepted
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class ResolvePath : public ExecVariable, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ResolvePath, FillsOrLeavesBuffer) {
    const PathCase& c = GetParam();
    if (c.variable) {
        setenv("INKORA_ICA_PIPE_EXEC", c.variable->c_str(), 1);
    } else {
        unsetenv("INKORA_ICA_PIPE_EXEC");
    }
    // One guard byte behind the buffer shows any write past its length.
    std::vector<char> buffer(c.bufferLength + 1, '#');
    const inkora_error_code result = inkora_get_pipe_executable(buffer.data(), c.bufferLength);
    EXPECT_EQ(buffer[c.bufferLength], '#');
    if (c.accepted) {
        ASSERT_EQ(result, INKORA_CODE_SUCCESS);
        EXPECT_EQ(std::string(buffer.data()), c.expected);
    } else {
        EXPECT_EQ(result, INKORA_CODE_ERROR);
        EXPECT_EQ(buffer[0], '#') << "a refused path leaves the buffer untouched";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolvePath,
    ::testing::Values(
        PathCase{"UnsetGivesDefault", std::nullopt, kPluginBuffer, true, kDefault},
        PathCase{"DefaultFitsWithItsZero", std::nullopt, static_cast<uint32_t>(kDefault.size() + 1), true, kDefault},
        PathCase{"DefaultWithoutRoomForZero", std::nullopt, static_cast<uint32_t>(kDefault.size()), false, ""},
        PathCase{"VariableWins", std::string("/usr/local/bin/agent"), kPluginBuffer, true, "/usr/local/bin/agent"},
        PathCase{"EmptyValueCountsAsSet", std::string(""), kPluginBuffer, true, ""},
        PathCase{"Path4095Accepted", std::string(4095, 'a'), kPluginBuffer, true, std::string(4095, 'a')},
        PathCase{"Path4096Refused", std::string(4096, 'a'), kPluginBuffer, false, ""},
        PathCase{"ZeroLengthBuffer", std::string("/x"), 0, false, ""}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(ResolvePathNull, NullBufferIsRefused) {
    EXPECT_EQ(inkora_get_pipe_executable(nullptr, kPluginBuffer), INKORA_CODE_ERROR);
}

} // namespace
