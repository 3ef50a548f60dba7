// Virtual file names: roots, lookup priority, archives, listing, backups, safe saves.
#include <string>

#include <gtest/gtest.h>

#include "files/vfs.h"
#include "support/tempdir.h"

namespace {

// The whole contents of a virtual name, or "<none>" when it does not open.
std::string slurp(const char *name) {
    Stream *s = vfs_open(name, "rb");
    if (!s) return "<none>";
    std::string out;
    for (int c = stream_getc(s); c >= 0; c = stream_getc(s)) out.push_back(static_cast<char>(c));
    vfs_close(s);
    return out;
}

bool listed(const std::string &name) {
    for (const std::string &n : vfs_list())
        if (n == name) return true;
    return false;
}

TEST(VfsRoots, HomeThenVqHomeNormalised) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", (dir.path() + "data//x").c_str());
    ScopedEnv vq("VQ_HOME", (dir.path() + "inst\\sub/").c_str());
    vfs_reset_for_tests();
    EXPECT_EQ(std::string(vfs_root(0)), dir.path() + "data/x/Vantorq/");
    EXPECT_EQ(std::string(vfs_root(1)), dir.path() + "inst/sub/");
    EXPECT_EQ(vfs_root(2), nullptr);
    EXPECT_EQ(vfs_root(-1), nullptr);
    vfs_reset_for_tests();
}

TEST(VfsRoots, NoHomeMovesInstallationUp) {
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    ScopedEnv vq("VQ_HOME", dir.path().c_str());
    vfs_reset_for_tests();
    EXPECT_EQ(std::string(vfs_root(0)), dir.path());
    EXPECT_EQ(vfs_root(1), nullptr);
    vfs_reset_for_tests();
}

TEST(VfsLookup, PriorityRules) {
    VfsSandbox box;
    // Plain file and ".gz" copy in one root: the plain file.
    box.write_install("a.txt", "plain");
    box.write_install("a.txt.gz", gzip_bytes("compressed"));
    // Only the home folder has the ".gz" copy: the home copy, decompressed.
    box.write_install("b.txt", "install");
    box.write_home("b.txt.gz", gzip_bytes("home"));
    // A loose file beats an archive member of the same name.
    box.write_install("c.txt", "loose");
    // Two archives with the same member: the archive that sorts first wins, whatever root.
    box.write_home("z.saf", saf_bytes({{"d.txt", "from z"}}));
    box.write_install("a.saf", saf_bytes({{"c.txt", "member"}, {"d.txt", "from a"}}));
    box.write_install("b.saf", saf_bytes({{"d.txt", "from b"}, {"Data/Mixed.TXT", "mixed"}}));
    // ".gz" members: a tie keeps the uncompressed entry; a better source wins.
    box.write_install("a2.saf", saf_bytes({{"e.txt", "plain e"},
                                           {"e.txt.gz", gzip_bytes("gz e")},
                                           {"f.txt.gz", gzip_bytes("gz f")}}));
    box.write_install("b2.saf", saf_bytes({{"f.txt", "plain f"}}));

    EXPECT_EQ(slurp("@a.txt"), "plain");
    EXPECT_EQ(slurp("@b.txt"), "home");
    EXPECT_EQ(slurp("@c.txt"), "loose");
    EXPECT_EQ(slurp("@d.txt"), "from a");
    EXPECT_EQ(slurp("@data/mixed.txt"), "mixed");
    EXPECT_EQ(slurp("@DATA/MIXED.txt"), "mixed");
    EXPECT_EQ(slurp("@e.txt"), "plain e");
    EXPECT_EQ(slurp("@f.txt"), "gz f");
    EXPECT_EQ(slurp("@missing"), "<none>");
    // Without "@" the name is a path of its own.
    EXPECT_EQ(slurp((box.install() + "a.txt").c_str()), "plain");
    EXPECT_EQ(slurp((box.install() + "b.txt.gz").c_str()), "<none>");
    EXPECT_EQ(slurp((box.install() + "b.txt").c_str()), "install");
}

TEST(VfsLookup, FilesCreatedAfterTheIndexOpenDirectlyOnly) {
    VfsSandbox box;
    box.write_install("old.txt", "old");
    EXPECT_TRUE(listed("old.txt"));
    box.write_install("new.txt", "new");
    EXPECT_EQ(slurp("@new.txt"), "new");
    EXPECT_FALSE(listed("new.txt"));
}

TEST(VfsArchive, MemberCannotBeReadPastItsSize) {
    VfsSandbox box;
    box.write_install("pack.saf",
                      saf_bytes({{"one", "11111"}, {"two", "22"}, {"z.gz", gzip_bytes("zz")}}));
    EXPECT_EQ(slurp("@one"), "11111");
    EXPECT_EQ(slurp("@two"), "22");
    EXPECT_EQ(slurp("@z"), "zz");

    Stream *s = vfs_open("@one", "rb");
    ASSERT_NE(s, nullptr);
    char buf[64];
    EXPECT_EQ(stream_read(s, buf, sizeof buf), 5u);
    EXPECT_EQ(stream_getc(s), -1);
    EXPECT_TRUE(stream_seek(s, 4));
    EXPECT_EQ(stream_getc(s), '1');
    EXPECT_FALSE(stream_seek(s, 5));
    vfs_close(s);

    s = vfs_open("@two", "rb");
    EXPECT_EQ(stream_remaining(s), 2);
    vfs_close(s);
}

TEST(VfsArchive, TruncatedGzipMemberStaysInsideItsMember) {
    VfsSandbox box;
    std::string gz = gzip_bytes(std::string(50000, 'q') + "tail");
    std::string cut = gz.substr(0, gz.size() / 2);
    box.write_install("pack.saf",
                      saf_bytes({{"cut.gz", cut}, {"next", gzip_bytes("NEXT MEMBER")}}));
    Stream *s = vfs_open("@cut", "rb");
    ASSERT_NE(s, nullptr);
    std::string got;
    for (int c = stream_getc(s); c >= 0; c = stream_getc(s)) got.push_back(static_cast<char>(c));
    EXPECT_EQ(got, std::string(got.size(), 'q'));
    EXPECT_LE(s->compressed_used, static_cast<std::int64_t>(cut.size()));
    vfs_close(s);
}

TEST(VfsArchive, MalformedHeadersAreIgnored) {
    struct HeaderCase {
        const char *what;
        std::string bytes;
        bool good;
    };
    const HeaderCase cases[] = {
        {"well formed", "3 a\n2 b/c\n-\nxxxyy", true},
        {"empty archive", "-\n", true},
        {"no end line", "3 a\n2 b\nxxxyy", false},
        {"end line without line feed", "3 a\n-", false},
        {"not a number", "x a\n-\nxxx", false},
        {"negative size", "-3 a\n-\nxxx", false},
        {"leading blank", " 3 a\n-\nxxx", false},
        {"size past the end", "4 a\n-\nxxx", false},
        {"sizes together past the end", "2 a\n2 b\n-\nxxx", false},
        {"huge size", "99999999999999999999999 a\n-\nxxx", false},
        {"empty name", "3 \n-\nxxx", false},
        {"no name", "3\n-\nxxx", false},
        {"over-long line", "3 " + std::string(1100, 'n') + "\n-\nxxx", false},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.what);
        Stream *s = stream_open_memory(c.bytes.data(), c.bytes.size(), false);
        std::vector<SafMember> members;
        EXPECT_EQ(saf_read_header(s, static_cast<std::int64_t>(c.bytes.size()), members), c.good);
        if (!c.good) {
            EXPECT_TRUE(members.empty());
        }
        vfs_close(s);
    }
    std::string good = "3 a\n2 b//c\n-\nxxxyy";
    Stream *s = stream_open_memory(good.data(), good.size(), false);
    std::vector<SafMember> members;
    ASSERT_TRUE(saf_read_header(s, static_cast<std::int64_t>(good.size()), members));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].name, "a");
    EXPECT_EQ(members[0].offset, 13);
    EXPECT_EQ(members[1].name, "b/c");
    EXPECT_EQ(members[1].offset, 16);
    EXPECT_EQ(members[1].size, 2);
    vfs_close(s);

    // Through the index: an unterminated header adds no members, but the archive is listed.
    VfsSandbox box;
    box.write_install("bad.saf", "3 a\n2 b\nxxxyy");
    box.write_install("good.saf", saf_bytes({{"c", "ccc"}}));
    EXPECT_TRUE(listed("bad.saf"));
    EXPECT_FALSE(listed("a"));
    EXPECT_FALSE(listed("b"));
    EXPECT_TRUE(listed("c"));
    EXPECT_EQ(slurp("@a"), "<none>");
}

TEST(VfsListing, SortedDistinctFirstSpelling) {
    VfsSandbox box;
    box.write_home("Beta.txt", "1");
    box.write_install("beta.TXT", "2");
    box.write_install("alpha/x", "3");
    box.write_install("alpha.txt", "4");
    box.write_install("pack.saf", saf_bytes({{"gamma", "5"}, {"alpha/x", "6"}}));
    std::vector<std::string> expected = {"alpha.txt", "alpha/x", "Beta.txt", "gamma", "pack.saf"};
    EXPECT_EQ(vfs_list(), expected);

    char buf[256];
    int entries = 0;
    bool found = false;
    while (vfs_entry_text(entries, buf, sizeof buf)) {
        if (std::string(buf) == "gamma -> " + box.install() + "pack.saf") found = true;
        ++entries;
    }
    EXPECT_EQ(entries, 7);
    EXPECT_TRUE(found);
    ASSERT_TRUE(vfs_entry_text(0, buf, 6));
    EXPECT_STREQ(buf, "alpha");
}

TEST(VfsWrite, CreatesInHomeWithFolders) {
    VfsSandbox box;
    Stream *s = vfs_open("@setups/deep/config", "wb");
    ASSERT_NE(s, nullptr);
    stream_printf(s, "key=%d\n", 5);
    EXPECT_TRUE(vfs_close(s));
    EXPECT_EQ(box.dir().read("xdg/Vantorq/setups/deep/config"), "key=5\n");
    EXPECT_FALSE(box.dir().exists("install/setups"));

    s = vfs_open("@setups/deep/config", "ab");
    stream_puts(s, "more\n");
    EXPECT_TRUE(vfs_close(s));
    EXPECT_EQ(slurp("@setups/deep/config"), "key=5\nmore\n");
}

TEST(VfsWrite, SafeSaveKeepsOldFileUntilClose) {
    VfsSandbox box;
    box.write_home("results.txt", "old results");
    Stream *s = vfs_open("@results.txt", "wb");
    ASSERT_NE(s, nullptr);
    stream_puts(s, "half written");
    stream_flush(s);
    EXPECT_EQ(box.dir().read("xdg/Vantorq/results.txt"), "old results");
    vfs_close_discard(s);
    EXPECT_EQ(box.dir().read("xdg/Vantorq/results.txt"), "old results");
    EXPECT_EQ(box.dir().entries("xdg/Vantorq"), std::vector<std::string>{"results.txt"});

    s = vfs_open("@results.txt", "wb");
    stream_puts(s, "new results");
    EXPECT_TRUE(vfs_close(s));
    EXPECT_EQ(box.dir().read("xdg/Vantorq/results.txt"), "new results");
    EXPECT_EQ(box.dir().entries("xdg/Vantorq"), std::vector<std::string>{"results.txt"});
}

TEST(VfsWrite, NumberedBackupTakesSmallestFreeNumber) {
    VfsSandbox box;
    box.write_home("demo", "current");
    box.write_home("demo.~1~", "one");
    box.write_home("demo.~3~", "three");
    Stream *s = vfs_open("@demo", "~wb");
    ASSERT_NE(s, nullptr);
    stream_puts(s, "next");
    EXPECT_TRUE(vfs_close(s));
    EXPECT_EQ(box.dir().read("xdg/Vantorq/demo.~2~"), "current");
    EXPECT_EQ(box.dir().read("xdg/Vantorq/demo"), "next");
    EXPECT_EQ(box.dir().read("xdg/Vantorq/demo.~3~"), "three");

    // No existing file: no backup, the file is simply written.
    s = vfs_open("@fresh", "~wb");
    stream_puts(s, "x");
    vfs_close(s);
    EXPECT_EQ(box.dir().entries("xdg/Vantorq"),
              (std::vector<std::string>{"demo", "demo.~1~", "demo.~2~", "demo.~3~", "fresh"}));

    // An abandoned write still leaves the old file and its new backup.
    s = vfs_open("@demo", "~wb");
    vfs_close_discard(s);
    EXPECT_EQ(box.dir().read("xdg/Vantorq/demo"), "next");
    EXPECT_EQ(box.dir().read("xdg/Vantorq/demo.~4~"), "next");
}

TEST(VfsWrite, RenameInsideHome) {
    VfsSandbox box;
    box.write_home("from", "A");
    box.write_home("to", "B");
    EXPECT_TRUE(vfs_rename("@from", "@to"));
    EXPECT_EQ(box.dir().read("xdg/Vantorq/to"), "A");
    EXPECT_FALSE(box.dir().exists("xdg/Vantorq/from"));
    // A failed rename keeps the target.
    EXPECT_FALSE(vfs_rename("@from", "@to"));
    EXPECT_EQ(box.dir().read("xdg/Vantorq/to"), "A");
}

TEST(VfsWrite, ReadModesNeverCreate) {
    VfsSandbox box;
    EXPECT_EQ(vfs_open("@nothing/here", "rb"), nullptr);
    EXPECT_FALSE(box.dir().exists("xdg/Vantorq/nothing"));
    box.write_home("folder/file", "f");
    EXPECT_EQ(vfs_open("@folder", "rb"), nullptr);
}

} // namespace
