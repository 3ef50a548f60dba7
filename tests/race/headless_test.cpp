// Headless races run by the built program: the race "New Race" would start, run until
// the standings are final, its results on stdout and in "@results.txt", and options that
// hold for one run only.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ProgramRun {
    int rc;
    std::string out, err;
};

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class Headless : public ::testing::Test {
protected:
    std::string home, bin;
    void SetUp() override {
        char tmpl[] = "/tmp/vqraceXXXXXX";
        home = mkdtemp(tmpl);
        bin = exe_folder() + "vantorq"; // test programs are built beside the program
        if (!exists(bin)) GTEST_SKIP() << "the program is not built beside the tests";
        if (!exists(exe_folder() + "rabbithill/terrain.hf"))
            GTEST_SKIP() << "the generated track rabbithill is not installed";
    }
    void TearDown() override { (void)std::system(("rm -rf '" + home + "'").c_str()); }

    ProgramRun run(const std::string &args) {
        std::string cmd =
            "env -u ZELK_LOGFILE -u ZELK_LOGFILE_FLAGS -u ZELK_OPTIONS XDG_DATA_HOME='" + home +
            "' '" + bin + "' " + args + " >'" + home + "/out' 2>'" + home + "/err'";
        int status = std::system(cmd.c_str());
        return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(home + "/out"),
                          slurp(home + "/err")};
    }
    // The races need riders that ride: until the autopilot is built in, they stand still
    // (a short probe run says so).
    bool autopilot_missing() {
        ProgramRun r = run("--headless --robots 1 --laps 1 --track rabbithill --max-seconds 0.1");
        return r.err.find("no autopilot in this build") != std::string::npos;
    }
};

// The results part of stdout (everything before the final summary line) and that line.
void split_output(const std::string &out, std::string &results, std::string &summary) {
    std::size_t end = out.size();
    if (end > 0 && out[end - 1] == '\n') --end;
    std::size_t start = out.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    results = out.substr(0, start);
    summary = out.substr(start, end - start);
}

// Rider rows of a results text: the lines after the header up to the first empty line.
int result_rows(const std::string &results) {
    std::istringstream lines(results);
    std::string line;
    int rows = -2; // the first line and the header
    while (std::getline(lines, line) && line != "\r") ++rows;
    return rows;
}

const std::regex kSummary(
    R"(simulated [0-9]+\.[0-9] s in [0-9]+\.[0-9]{2} s \([0-9]+\.[0-9]x real time\), ([0-9]+) riders, ([0-9]+) steps)");

TEST_F(Headless, SixRobotsFinishTwoLapsOfRabbithill) {
    if (autopilot_missing())
        GTEST_SKIP() << "the bikes are not rideable yet (no autopilot in this build)";
    ProgramRun r = run("--headless --robots 6 --laps 2 --track rabbithill --max-seconds 900");
    ASSERT_EQ(r.rc, 0) << r.err;
    std::string results, summary;
    split_output(r.out, results, summary);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(summary, m, kSummary)) << summary;
    EXPECT_EQ(m[1].str(), "6");
    EXPECT_EQ(result_rows(results), 6) << results;
    EXPECT_EQ(results.rfind("Time=0.00|Laps=2|Track=rabbithill|Date=", 0), 0u) << results;
    EXPECT_EQ(slurp(home + "/Vantorq/results.txt"), results);
    EXPECT_NE(r.err.find("lap 1/2"), std::string::npos) << r.err;
}

TEST_F(Headless, TwoRunsGiveTheSameRace) {
    const std::string args = "--headless --robots 2 --laps 1 --track rabbithill --max-seconds 600";
    if (autopilot_missing())
        GTEST_SKIP() << "the bikes are not rideable yet (no autopilot in this build)";
    ProgramRun a = run(args);
    ProgramRun b = run(args);
    ASSERT_EQ(a.rc, 0) << a.err;
    ASSERT_EQ(b.rc, 0) << b.err;
    std::string ra, rb, sa, sb;
    split_output(a.out, ra, sa);
    split_output(b.out, rb, sb);
    // Everything but the date of writing and the wall-clock figures.
    auto undated = [](const std::string &text) { return text.substr(text.find("\r\n")); };
    ASSERT_FALSE(ra.empty());
    EXPECT_EQ(undated(ra), undated(rb));
    std::smatch ma, mb;
    ASSERT_TRUE(std::regex_match(sa, ma, kSummary));
    ASSERT_TRUE(std::regex_match(sb, mb, kSummary));
    EXPECT_EQ(ma[2].str(), mb[2].str());
}

TEST_F(Headless, RaceOptionsHoldForOneRunAndBadValuesAreRefused) {
    // A configuration with a race of its own; a short capped run with other values.
    mkdir((home + "/Vantorq").c_str(), 0700);
    {
        std::ofstream f(home + "/Vantorq/config");
        f << "track=duneside\nlaps=4.000000\nminutes=0.000000\nskill=Novice\n";
    }
    ProgramRun r = run("--headless --track rabbithill --laps 1 --minutes 3 --skill expert "
                       "--robots 2 --max-seconds 2");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find("not over after 2.0 simulated seconds"), std::string::npos) << r.err;
    std::smatch m;
    std::string results, summary;
    split_output(r.out, results, summary);
    ASSERT_TRUE(std::regex_match(summary, m, kSummary)) << r.out;
    EXPECT_EQ(m[1].str(), "2");
    EXPECT_EQ(m[2].str(), "256");
    std::string config = slurp(home + "/Vantorq/config");
    EXPECT_NE(config.find("track=duneside\n"), std::string::npos) << config;
    EXPECT_NE(config.find("laps=4.000000\n"), std::string::npos) << config;
    EXPECT_NE(config.find("minutes=0.000000\n"), std::string::npos) << config;
    EXPECT_NE(config.find("skill=Novice\n"), std::string::npos) << config;

    struct Bad {
        const char *args;
        const char *message;
    };
    const Bad bad[] = {
        {"--skill pro", "Bad arg for --skill\n"},
        {"--laps -1", "Bad arg for --laps\n"},
        {"--minutes x", "Bad arg for --minutes\n"},
        {"--robots 41", "Bad arg for --robots\n"},
    };
    for (const Bad &b : bad) {
        ProgramRun e = run(std::string("--headless ") + b.args);
        EXPECT_EQ(e.rc, 1) << b.args;
        EXPECT_EQ(e.err, b.message) << b.args;
    }
}

} // namespace
