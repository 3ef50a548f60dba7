#include "core/datacheck.h"
#include "support/tempdir.h"
#include "track/ripemd160.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hex_of(const std::string &data) {
    return digest_to_hex(ripemd160(data.data(), data.size()));
}

TEST(DataCheck, FirstRootWithTheRightArchiveWins) {
    VfsSandbox box;
    std::string good = "5 a.txt\n-\nhello";
    std::string expected = hex_of(good);
    EXPECT_EQ(data_check(expected.c_str()), -1); // nothing installed
    box.write_install("zzzz.saf", good);
    box.write_home("zzzz.saf", "4 b.txt\n-\nbyte"); // a different archive in the home folder
    box.reset();
    EXPECT_EQ(data_check(expected.c_str()), 1);
    box.write_home("zzzz.saf", good);
    box.reset();
    EXPECT_EQ(data_check(expected.c_str()), 0);
    EXPECT_EQ(data_check("not a digest"), -1);
}

TEST(DataCheck, OnlyTheFirstMebibyteCounts) {
    VfsSandbox box;
    std::string head(1048576, 'x');
    box.write_install("zzzz.saf", head + "tail that is never read");
    box.reset();
    EXPECT_EQ(data_check(hex_of(head).c_str()), 1);
}

TEST(PhysicsFiles, DigestOverTheSevenShapesInOrder) {
    VfsSandbox box;
    std::string all;
    for (int i = 0; i < 7; ++i) {
        std::string body = "shape " + std::to_string(i) + "\n";
        if (i != 3) { // a missing file adds nothing
            box.write_install(std::string(kPhysicsFiles[i] + 1), body);
            all += body;
        }
    }
    box.reset();
    EXPECT_EQ(physics_files_digest(), hex_of(all));
}

} // namespace
