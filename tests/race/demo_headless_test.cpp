// The program as a user runs it: a headless race recorded as a demo, its head printed
// with --demo-info, and the demo played back headless to the same results.
#include "platform/paths.h"
#include "race/session.h"

#include <gtest/gtest.h>

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

class DemoProgram : public ::testing::Test {
protected:
    std::string home, bin;
    void SetUp() override {
        char tmpl[] = "/tmp/vqdemoXXXXXX";
        home = mkdtemp(tmpl);
        bin = exe_folder() + "vantorq";
        if (access(bin.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built";
    }
    void TearDown() override { (void)std::system(("rm -rf '" + home + "'").c_str()); }
    ProgramRun run(const std::string &args) {
        std::string cmd = "cd '" + home + "' && env -u ZELK_LOGFILE -u ZELK_LOGFILE_FLAGS " +
                          "XDG_DATA_HOME='" + home + "' '" + bin + "' " + args + " >'" + home +
                          "/out' 2>'" + home + "/err'";
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
    // The results part of a headless run's output, without the date of the first line
    // and without the closing summary.
    static std::string results(const std::string &out) {
        std::string r = out.substr(0, out.find("simulated "));
        std::size_t date = r.find("|Date=");
        if (date != std::string::npos) r.erase(date, r.find('\r', date) - date);
        return r;
    }
};

TEST_F(DemoProgram, DemoInfoPrintsTheHeadAndRefusesOtherFiles) {
    std::string demo = "VQ06 1 7680 3 1800\nrabbithill\ncrf250|||@wheels-alt1.png|\n42\nAce\n\n";
    std::ofstream(home + "/one.vqdemo") << demo;
    ProgramRun ok = run("--demo-info one.vqdemo");
    EXPECT_EQ(ok.rc, 0) << ok.err;
    for (const char *want : {"version: 6", "track: rabbithill", "laps: 3", "riders: 1", "Ace",
                             "number 42", "bike crf250", "duration: 0.00 s", "blocks: 0"})
        EXPECT_NE(ok.out.find(want), std::string::npos) << want << "\n" << ok.out;
    std::ofstream(home + "/bad.vqdemo") << "VQ09 1 0 1 1792\nrabbithill\n";
    ProgramRun bad = run("--demo-info bad.vqdemo");
    EXPECT_EQ(bad.rc, 1);
    EXPECT_NE(bad.err.find("not a readable demo: unknown demo version 9"), std::string::npos)
        << bad.err;
    ProgramRun missing = run("--demo-info nowhere.vqdemo");
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.err.find("can't open nowhere.vqdemo"), std::string::npos) << missing.err;
    ProgramRun headless_bad = run("--headless bad.vqdemo");
    EXPECT_EQ(headless_bad.rc, 1);
    EXPECT_NE(headless_bad.err.find("not a readable demo"), std::string::npos);
}

TEST_F(DemoProgram, HeadlessRaceAndItsReplayEndAlike) {
    ProgramRun probe = run("--headless --robots 2 --laps 1 --track rabbithill --max-seconds 1");
    ASSERT_EQ(probe.rc, 0) << probe.err;
    if (probe.err.find("no autopilot") != std::string::npos)
        GTEST_SKIP() << "the robots do not ride in this build yet (no autopilot), so no race "
                        "finishes; the record-and-replay comparison needs riding bikes";
    ProgramRun race =
        run("--headless --robots 2 --laps 1 --track rabbithill --record --max-seconds 900");
    ASSERT_EQ(race.rc, 0) << race.err;
    if (race.out.find("Total Time") == std::string::npos)
        GTEST_SKIP() << "the recorded race ended without a finisher, nothing to compare:\n"
                     << race.err;
    ProgramRun info = run("--demo-info Vantorq/demos/default.vqdemo");
    EXPECT_EQ(info.rc, 0) << info.err;
    EXPECT_NE(info.out.find("riders: 2"), std::string::npos) << info.out;
    ProgramRun replay = run("--headless Vantorq/demos/default.vqdemo");
    ASSERT_EQ(replay.rc, 0) << replay.err;
    EXPECT_EQ(results(replay.out), results(race.out)) << "race:\n"
                                                      << race.out << "replay:\n"
                                                      << replay.out;
}

} // namespace
