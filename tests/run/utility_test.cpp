#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using strings = std::vector<std::string>;

TEST(Utility, ReportErrorWritesLogAndThrows) {
    scratchDir dir;
    setenv("TEMP", dir.m_path.c_str(), 1);
    testing::internal::CaptureStdout();
    try {
        reportError("Something failed (line 7 of utility)");
        FAIL() << "reportError returned";
    } catch (const recogError& e) {
        EXPECT_STREQ(e.what(), "Something failed (line 7 of utility)");
    }
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(out.rfind("\nSaved error log at " + dir.m_path + "/error_", 0), 0u) << out;
    std::string logPath = out.substr(20, out.size() - 20 - 4);
    EXPECT_EQ(out.substr(out.size() - 4), "...\n");
    EXPECT_EQ(readWholeFile(logPath), "Error: Something failed (line 7 of utility)\n");
    EXPECT_EQ(std::filesystem::path(logPath).filename().string().size(), std::string("error_20261206_221004.log").size());
}

TEST(Utility, ReportErrorWithUnwritableLogStillThrowsSilently) {
    setenv("TEMP", "/nonexistent/dir/for/logs", 1);
    testing::internal::CaptureStdout();
    EXPECT_THROW(reportError("x"), recogError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Utility, SplitStringKeepsEmptyFields) {
    EXPECT_EQ(splitString("a--b", '-'), (strings{"a", "", "b"}));
    EXPECT_EQ(splitString("a-", '-'), (strings{"a", ""}));
    EXPECT_EQ(splitString("", '-'), strings{});
    EXPECT_EQ(splitString("-", '-'), (strings{"", ""}));
    strings out{"x"};
    splitString("p-q", '-', out, true);
    EXPECT_EQ(out, (strings{"x", "p", "q"}));
    splitString("r", '-', out, false);
    EXPECT_EQ(out, strings{"r"});
}

TEST(Utility, JoinAndReplace) {
    EXPECT_EQ(joinStrings({}, "#"), "");
    EXPECT_EQ(joinStrings({"a", "b", "c"}, "#"), "a#b#c");
    EXPECT_EQ(joinInts({3, 7}, "#"), "3#7");
    EXPECT_EQ(joinInts({-1}, ","), "-1");
    // Continues after each inserted text: no re-scan of what was inserted.
    EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replaceAll("a\\b\\c", "\\", "/"), "a/b/c");
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
}

TEST(Utility, TrimLowerAndExtension) {
    EXPECT_EQ(trimSpace(" \t\v\f\r\nab c \n"), "ab c");
    EXPECT_EQ(trimSpace("   "), "");
    EXPECT_EQ(toLowerAscii("AbZ\xC3[@"), "abz\xC3[@");
    EXPECT_EQ(fileExtension("dir.v2/file"), "v2/file");
    EXPECT_EQ(fileExtension("model"), "");
    EXPECT_EQ(fileExtension("a.b.mac"), "mac");
    EXPECT_EQ(removeEmptyStrings({"", "a", "", "b"}), (strings{"a", "b"}));
}

TEST(Utility, RoundToIntHalvesAwayFromZero) {
    EXPECT_EQ(roundToInt(-2.5), -3);
    EXPECT_EQ(roundToInt(2.5), 3);
    EXPECT_EQ(roundToInt(2.4f), 2);
    EXPECT_EQ(roundToInt(-2.4f), -2);
    EXPECT_EQ(roundToInt(0.0), 0);
}

TEST(Utility, ExpandCombinationsFirstListVariesFastest) {
    EXPECT_EQ(expandCombinations({{"x", "y"}, {"p", "q"}}), (strings{"x-p", "y-p", "x-q", "y-q"}));
    EXPECT_EQ(expandCombinations({{"a"}, {"b", "c"}, {"d"}}), (strings{"a-b-d", "a-c-d"}));
    EXPECT_EQ(expandCombinations({{"a", "b"}}), (strings{"a", "b"}));
    EXPECT_EQ(expandCombinations({{"a"}, {}}), strings{});
}

TEST(Utility, StrVecLinSearchModes) {
    strings list{"abab", "ab", "xab", "abx", "zzz"};
    EXPECT_EQ(strVecLinSearch(list, "ab", 0), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(strVecLinSearch(list, "ab", 1), (std::vector<int32_t>{0, 1, 3}));
    // The first occurrence decides: "abab" does not end with its first "ab".
    EXPECT_EQ(strVecLinSearch(list, "ab", 2), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(strVecLinSearch(list, "ab", 3), (std::vector<int32_t>{1}));
    EXPECT_TRUE(strVecLinSearch({"abab"}, "ab", 2).empty());
    // An unknown mode fails only when some element holds the key.
    EXPECT_TRUE(strVecLinSearch(list, "qq", 9).empty());
    testing::internal::CaptureStdout();
    setenv("TEMP", "/nonexistent", 1);
    try {
        strVecLinSearch(list, "ab", 9);
        FAIL();
    } catch (const recogError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Unknown matchPos in strVecLinSearch (line ", 0), 0u);
        EXPECT_NE(std::string(e.what()).find(" of utility)"), std::string::npos);
    }
    testing::internal::GetCapturedStdout();
}

TEST(Utility, ReadLinesSkipsEmptyAndCommentLines) {
    scratchDir dir;
    std::string path = dir.write("l.txt", "one\r\n\n%comment\r\ntwo\n\r\nthree");
    EXPECT_EQ(readLines(path, '%'), (strings{"one", "two", "three"}));
    EXPECT_EQ(readLines(path, 0), (strings{"one", "%comment", "two", "three"}));
}

TEST(Utility, ReadLinesSplitsOverlongLinesWithWarning) {
    scratchDir dir;
    std::string path = dir.write("long.txt", std::string(100005, 'a') + "\nb\n");
    testing::internal::CaptureStdout();
    strings lines = readLines(path, 0);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 99999u);
    EXPECT_EQ(lines[1].size(), 6u);
    EXPECT_EQ(lines[2], "b");
    EXPECT_EQ(out.rfind("Warning: Array is likely too small for reading string from " + path + "!!! (line ", 0), 0u);
}

TEST(Utility, ReadLinesOfMissingFileFails) {
    setenv("TEMP", "/nonexistent", 1);
    testing::internal::CaptureStdout();
    try {
        readLines("/no/such/file.txt", 0);
        FAIL();
    } catch (const recogError& e) {
        std::string m = e.what();
        EXPECT_EQ(m.rfind("Cannot open file /no/such/file.txt (line ", 0), 0u) << m;
        EXPECT_EQ(m.substr(m.size() - 12), " of utility)");
    }
    testing::internal::GetCapturedStdout();
}

TEST(Utility, ReadKeyValueFile) {
    scratchDir dir;
    std::string path = dir.write("kv.txt",
                                 "   % only a comment\n"
                                 "no equals sign here\n"
                                 "  key one  =  two words  % trailing\n"
                                 "k2=a=b\n"
                                 "=empty key\n"
                                 "k2 = again\n");
    strings keys, values;
    readKeyValueFile(path, keys, values);
    EXPECT_EQ(keys, (strings{"key one", "k2", "", "k2"}));
    EXPECT_EQ(values, (strings{"two words", "a=b", "empty key", "again"}));
}

TEST(Utility, TsvFloatAndWriteHelpers) {
    scratchDir dir;
    EXPECT_EQ(readTsvFile(dir.write("t.tsv", "a\tb\t\nc\n")), (std::vector<strings>{{"a", "b", ""}, {"c"}}));
    EXPECT_EQ(readFloatFile(dir.write("f.txt", " 1.5\n-2 3e2 x 4")), (std::vector<float>{1.5f, -2.f, 300.f}));
    writeLines(dir.file("w.txt"), {"x", "", "y"});
    EXPECT_EQ(readWholeFile(dir.file("w.txt")), "x\n\ny\n");
    writeFloatValue(dir.file("s.txt"), 87.25);
    EXPECT_EQ(readWholeFile(dir.file("s.txt")), "87.25\n");
    EXPECT_EQ(fileSize(dir.file("w.txt")), 5);
    EXPECT_TRUE(fileExists(dir.file("w.txt")));
    EXPECT_FALSE(fileExists(dir.file("none")));
    EXPECT_FALSE(fileExists(""));
}

TEST(Utility, PrintStrVec) {
    testing::internal::CaptureStdout();
    printStrVec({}, "contents", "");
    printStrVec({"a", "b"}, "v", "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "contents has zero element!\nv[0] = a\nv[1] = b\n");
    scratchDir dir;
    printStrVec({"a", "b"}, "v", dir.file("p.txt"));
    EXPECT_EQ(readWholeFile(dir.file("p.txt")), "a\nb\n");
}

TEST(Utility, AtoiLike) {
    EXPECT_EQ(atoiLike("0.8"), 0);
    EXPECT_EQ(atoiLike("3abc"), 3);
    EXPECT_EQ(atoiLike("  -12"), -12);
    EXPECT_EQ(atoiLike("+7"), 7);
    EXPECT_EQ(atoiLike("abc"), 0);
    EXPECT_EQ(atoiLike(""), 0);
    EXPECT_EQ(atoiLike("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(atoiLike("-99999999999999999999"), INT32_MIN);
}

TEST(Utility, FormatStringHasNoLengthLimit) {
    std::string longPath(5000, 'p');
    std::string m = formatString("Cannot open file %s (line %d of %s)", longPath.c_str(), 3, "utility");
    EXPECT_EQ(m.size(), 5000u + std::string("Cannot open file  (line 3 of utility)").size());
}
