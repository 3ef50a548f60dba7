// Runs the built program as a user would and checks its exit codes, output and log.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ProgramRun {
    int rc;
    std::string out, err;
};

class Program : public ::testing::Test {
protected:
    std::string home, bin;
    void SetUp() override {
        char tmpl[] = "/tmp/vqprogXXXXXX";
        home = mkdtemp(tmpl);
        bin = exe_folder() + "vantorq"; // test programs are built beside the program
    }
    void TearDown() override { (void)std::system(("rm -rf '" + home + "'").c_str()); }

    ProgramRun run(const std::string &args) {
        std::string cmd = "env -u ZELK_LOGFILE -u ZELK_LOGFILE_FLAGS XDG_DATA_HOME='" + home +
                          "' '" + bin + "' " + args + " >'" + home + "/out' 2>'" + home + "/err'";
        int status = std::system(cmd.c_str());
        return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(home + "/out"),
                          slurp(home + "/err")};
    }
    static std::string slurp(const std::string &path) {
        std::ifstream f(path);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST_F(Program, HeadlessRunForSixtySeconds) {
    ProgramRun r = run("--headless --max-seconds 60");
    EXPECT_EQ(r.rc, 0) << r.err;
    std::string log = slurp(home + "/Vantorq/lastlog.txt");
    std::istringstream lines(log);
    std::string first, second;
    std::getline(lines, first), std::getline(lines, second);
    EXPECT_NE(first.find("Logfile \"" + home + "/Vantorq/lastlog.txt\" opened"), std::string::npos)
        << first;
    EXPECT_NE(second.find("] ZELK 0.31"), std::string::npos);
    EXPECT_NE(log.find("after 7680 steps"), std::string::npos) << log;
}

TEST_F(Program, HelpBadOptionsAndBadValues) {
    ProgramRun help = run("--help");
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("--headless"), std::string::npos);
    ProgramRun bad = run("--headless --frobnicate");
    EXPECT_EQ(bad.rc, 1);
    EXPECT_EQ(bad.err, "bad option '--frobnicate'\n");
    ProgramRun value = run("--headless --lock-fps abc");
    EXPECT_EQ(value.rc, 1);
    EXPECT_EQ(value.err, "Bad arg for --lock-fps\n");
}

} // namespace
