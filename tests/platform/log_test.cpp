#include "platform/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

class Log : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/vqlogXXXXXX";
        dir = mkdtemp(tmpl);
        unsetenv("ZELK_LOGFILE");
        unsetenv("ZELK_LOGFILE_FLAGS");
        log_reset_for_tests();
    }
    void TearDown() override {
        log_reset_for_tests();
        unsetenv("ZELK_LOGFILE");
        unsetenv("ZELK_LOGFILE_FLAGS");
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
    }
};

TEST(LogStamp, HoursMinutesSecondsHundredths) {
    char buf[32];
    log_format_stamp(buf, sizeof buf, 3725500);
    EXPECT_STREQ(buf, "[1:02:05.50] ");
    log_format_stamp(buf, sizeof buf, 0);
    EXPECT_STREQ(buf, "[0:00:00.00] ");
    log_format_stamp(buf, sizeof buf, 36000009);
    EXPECT_STREQ(buf, "[10:00:00.00] ");
}

TEST_F(Log, RequestOpensTheFileWithItsHeader) {
    std::string path = dir + "/lastlog.txt";
    log_printf("ZELK_LOGFILE=%s", path.c_str());
    log_printf("hello %d\n", 7);
    log_printf(nullptr);
    std::string text = read_file(path);
    std::istringstream lines(text);
    std::string l1, l2, l3;
    std::getline(lines, l1), std::getline(lines, l2), std::getline(lines, l3);
    EXPECT_NE(l1.find("] Logfile \"" + path + "\" opened"), std::string::npos) << l1;
    EXPECT_NE(l2.find("] ZELK 0.31"), std::string::npos);
    EXPECT_NE(l3.find("] hello 7"), std::string::npos);
    EXPECT_EQ(l1[0], '[');
}

TEST_F(Log, WithoutRequestOrVariableNothingIsWritten) {
    log_printf("dropped\n");
    log_printf("ZELK_LOGFILE=%s/late.txt", dir.c_str()); // not the first call: just a message
    log_printf(nullptr);
    EXPECT_FALSE(std::ifstream(dir + "/late.txt").good());
}

TEST_F(Log, AppendModesKeepEarlierRuns) {
    std::string path = dir + "/app.txt";
    setenv("ZELK_LOGFILE", (">>" + path).c_str(), 1);
    for (int run = 0; run < 2; ++run) {
        log_reset_for_tests();
        log_printf("ZELK_LOGFILE=%s/ignored.txt", dir.c_str()); // the variable wins
        log_printf("run\n");
        log_printf(nullptr);
    }
    EXPECT_EQ(count(read_file(path), "] run\n"), 2);
    EXPECT_FALSE(std::ifstream(dir + "/ignored.txt").good());

    // ZELK_LOGFILE_FLAGS "a" makes the default log append too.
    unsetenv("ZELK_LOGFILE");
    setenv("ZELK_LOGFILE_FLAGS", "a", 1);
    std::string def = dir + "/lastlog.txt";
    for (int run = 0; run < 2; ++run) {
        log_reset_for_tests();
        log_printf("ZELK_LOGFILE=%s", def.c_str());
        log_printf("start\n");
        log_printf(nullptr);
    }
    EXPECT_EQ(count(read_file(def), "] start\n"), 2);
}

TEST_F(Log, ControlMessagesAndErrors) {
    std::string path = dir + "/c.txt";
    log_printf("ZELK_LOGFILE=%s", path.c_str());
    log_printf("\x13NOFLUSH");
    log_printf("\x13"
               "FLUSH");
    EXPECT_EQ(log_last_error(), "Unknown");
    log_error("disk on fire");
    EXPECT_EQ(log_last_error(), "disk on fire");
    log_printf(nullptr);
    std::string text = read_file(path);
    EXPECT_EQ(text.find("FLUSH"), std::string::npos);
    EXPECT_NE(text.find("] Error: disk on fire\n"), std::string::npos);
}

TEST_F(Log, ThreadsNeverInterleaveStampAndText) {
    std::string path = dir + "/t.txt";
    log_printf("ZELK_LOGFILE=%s", path.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) log_printf("thread %d line %d\n", t, i);
        });
    for (auto &th : threads) th.join();
    log_printf(nullptr);
    std::istringstream lines(read_file(path));
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line[0], '[') << line;
        ASSERT_EQ(count(line, "["), 1) << line;
        ++n;
    }
    EXPECT_EQ(n, 2 + 4 * 500);
}

TEST_F(Log, PlatformOptions) {
    std::string path = dir + "/o.txt";
    log_printf("ZELK_LOGFILE=%s", path.c_str());
    options_set_text_for_tests("[threaded:maybe][sound-rate:fast][dsnd:off][sound-channels:-8]"
                               "[waveout:yes]");
    EXPECT_FALSE(option_flag("threaded", false));
    EXPECT_EQ(option_int("sound-rate", 22050), 22050);
    EXPECT_FALSE(option_flag("dsnd", true));
    EXPECT_TRUE(option_flag("waveout", false));
    EXPECT_EQ(option_int("sound-channels", 16), -8);
    EXPECT_EQ(option_int("sound-mixahead", 125), 125);
    EXPECT_TRUE(option_flag("Dsnd", true)); // names are case-sensitive
    log_printf(nullptr);
    std::string text = read_file(path);
    EXPECT_NE(text.find("unrecognized setting for threaded\n"), std::string::npos);
    EXPECT_NE(text.find("unrecognized setting for sound-rate\n"), std::string::npos);
}

TEST(Names, AliasesResolveOnceAndKeepTheFirst) {
    EXPECT_TRUE(alias_define("vq-test-a", "vq-test-b"));
    EXPECT_TRUE(alias_define("vq-test-b", "vq-test-c"));
    EXPECT_FALSE(alias_define("vq-test-a", "other"));
    EXPECT_STREQ(alias_resolve("vq-test-a"), "vq-test-b");
    EXPECT_STREQ(alias_resolve("vq-test-z"), "vq-test-z");
    EXPECT_EQ(shared_name("abc"), shared_name(std::string("abc").c_str()));
}

} // namespace
