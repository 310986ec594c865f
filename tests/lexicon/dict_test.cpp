#include "lexicon/dict.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "decoder/macro.h"
#include "lexicon/text.h"
#include "lexiconFixtures.h"
#include "testUtil.h"

namespace {

const std::string NI = "\xa7\x41";
const std::string HAO = "\xa6\x6e";

// A model set whose sorted indices are: a+b 0, e+l 1, h+e 2, l+o 3, o+sil 4, sp 5.
class dictWithModels : public testing::Test {
protected:
    void SetUp() override {
        std::string path = m_dir.write("tiny.mac", tinyMacText({"o+sil", "h+e", "sp", "a+b", "l+o", "e+l"}));
        m_models.readMacro(path, true);
        ASSERT_EQ(m_models.modelNum, 6);
    }
    scratchDir m_dir;
    macroClass m_models;
    dictClass m_dict;
};

// Runs the call with the working directory set to dir, then restores it.
void inDirectory(const std::string& dir, const std::function<void()>& call) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    try {
        call();
    } catch (...) {
        EXPECT_EQ(chdir(previous), 0);
        throw;
    }
    EXPECT_EQ(chdir(previous), 0);
}

TEST_F(dictWithModels, pronDictReadTakesWordAndModelNamesInFileOrder) {
    std::string pam = m_dir.write("a.pam",
                                  "% comment\n"
                                  "ba\tb+a sp\n"
                                  "\n"
                                  "  hello   h+e e+l l+o o+sil \t\r\n"
                                  "lonely\n"
                                  "ba\tsp\n"
                                  "zz x+q sil\n");
    testing::internal::CaptureStdout();
    m_dict.pronDictRead(pam, m_models);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(m_dict.m_pronDict.size(), 4u);
    EXPECT_EQ(m_dict.m_pronDict[0].word, "ba");
    // b+a is not in the set: the substitute search falls back to model 0.
    EXPECT_EQ(m_dict.m_pronDict[0].modelIndices, (std::vector<int32_t>{0, 5}));
    EXPECT_EQ(m_dict.m_pronDict[1].word, "hello");
    EXPECT_EQ(m_dict.m_pronDict[1].modelIndices, (std::vector<int32_t>{2, 1, 3, 4}));
    EXPECT_EQ(m_dict.m_pronDict[2].word, "ba");  // duplicates stay
    EXPECT_EQ(m_dict.m_pronDict[3].modelIndices, (std::vector<int32_t>{0, -1}));  // "sil" absent: -1
    EXPECT_NE(out.find("Warning of model substitution: b+a is replaced by a+b"), std::string::npos) << out;
}

TEST_F(dictWithModels, pronDictReadRefusesASmallModelSetAndAMissingFile) {
    macroClass one;
    one.readMacro(m_dir.write("one.mac", tinyMacText({"a+b"})), true);
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { m_dict.pronDictRead("/no/such.pam", one); })),
              "Error in dictClass::pronDictRead when reading /no/such.pam: Macro is too small (line N in of dict)");
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { m_dict.pronDictRead("", m_models); })), "Unable to open  (line N in dict)");
    std::string longWord = m_dir.write("long.pam", std::string(1000, 'w') + " sp\n");
    EXPECT_NE(errorOf([&] { m_dict.pronDictRead(longWord, m_models); }).find("line 1 is longer than 999"),
              std::string::npos);
}

TEST(pronDictFind, binarySearchFindsSortedWordsAndMayMissUnsortedOnes) {
    dictClass d;
    for (const char* w : {"a", "b", "c", "d", "e"}) d.m_pronDict.push_back({w, {}});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(d.pronDictFind(d.m_pronDict[i].word), i);
    EXPECT_EQ(d.pronDictFind("bb"), -1);
    EXPECT_EQ(d.pronDictFind(""), -1);
    d.m_pronDict = {{"e", {}}, {"a", {}}, {"c", {}}};
    EXPECT_EQ(d.pronDictFind("e"), -1);
}

TEST(wpaFind, comparesBytesAsUnsigned) {
    dictClass d;
    d.m_wpa = {makeWpaEntry("a", {"a"}), makeWpaEntry("ab", {"ab"}), makeWpaEntry(HAO, {"hao"}),
               makeWpaEntry(NI, {"ni"})};
    EXPECT_EQ(d.wpaFind("a"), 0);
    EXPECT_EQ(d.wpaFind("ab"), 1);
    EXPECT_EQ(d.wpaFind(HAO), 2);
    EXPECT_EQ(d.wpaFind(NI), 3);
    EXPECT_EQ(d.wpaFind("b"), -1);
}

TEST(wpaReadText, englishLinesNeedExactlyTwoTabSeparatedFields) {
    scratchDir dir;
    dictClass d;
    d.wpaReadText(dir.write("a.wpa", "% comment\nhello\th_e_l_o#h_ax_l_o\r\n\nworld\tw_er_l_d\n"), "english", d.m_wpa);
    ASSERT_EQ(d.m_wpa.size(), 2u);
    EXPECT_EQ(d.m_wpa[0].word, "hello");
    EXPECT_EQ(d.m_wpa[0].pa, (std::vector<std::string>{"h_e_l_o", "h_ax_l_o"}));
    EXPECT_TRUE(d.m_wpa[0].paNotation.empty());
    EXPECT_EQ(d.m_wpa[1].pa, (std::vector<std::string>{"w_er_l_d"}));

    std::string bad = dir.write("b.wpa", "hello\tx\nhello h_e_l_o#h_ax_l_o\n");
    testing::internal::CaptureStdout();
    std::string message = errorOf([&] { d.wpaReadText(bad, "english", d.m_wpa); });
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(withoutLineNumbers(message), "Wrong format of " + bad + " (line N in dict)");
    EXPECT_EQ(withoutLineNumbers(out).rfind(
                  "line=hello h_e_l_o#h_ax_l_o (line=N, file=dict)\ntoken1.size()=1 (line=N, file=dict)\n", 0),
              0u)
        << out;

    d.wpaReadText("", "english", d.m_wpa);
    EXPECT_TRUE(d.m_wpa.empty());
    d.wpaReadText(dir.write("c.wpa", "anything at all\n"), "japanese", d.m_wpa);
    EXPECT_TRUE(d.m_wpa.empty());
}

TEST(wpaReadText, chineseLinesTakeTheirPasFromThePinyinTable) {
    scratchDir dir;
    dictClass d;
    d.pinyinTableRead(dir.write("py.txt", "ni\tni\tni\tni3x\nhao\thau\thao\thao\nshort\tx\n"));
    ASSERT_EQ(d.m_pinyinTable.size(), 3u);
    d.wpaReadText(dir.write("c.wpa", NI + "\t1\tx\t3\ty\n" + HAO + "\t2,1\tx\t3,4\ty\n"), "chinese", d.m_wpa);
    ASSERT_EQ(d.m_wpa.size(), 2u);
    EXPECT_EQ(d.m_wpa[0].pa, (std::vector<std::string>{"ni3x"}));
    EXPECT_EQ(d.m_wpa[1].pa, (std::vector<std::string>{"hao", "ni3x"}));
    EXPECT_EQ(d.m_wpa[1].paNotation, (std::vector<std::string>{"3", "4"}));

    for (const std::string& line : {NI + "\t1\tx\t3\n", NI + "\t1\tx\t3\ty\tz\n"}) {
        std::string path = dir.write("bad.wpa", line);
        testing::internal::CaptureStdout();
        std::string message = errorOf([&] { d.wpaReadText(path, "chinese", d.m_wpa); });
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(withoutLineNumbers(message), "Wrong format of " + path + " (line N in dict)");
    }
    std::string outside = dir.write("o.wpa", NI + "\t1,4\tx\t3\ty\n");
    std::string message = errorOf([&] { d.wpaReadText(outside, "chinese", d.m_wpa); });
    EXPECT_NE(message.find(outside), std::string::npos) << message;
    EXPECT_NE(message.find("row \"4\" of the entry \"" + NI + "\""), std::string::npos) << message;
    std::string shortRow = dir.write("s.wpa", NI + "\t3\tx\t3\ty\n");
    message = errorOf([&] { d.wpaReadText(shortRow, "chinese", d.m_wpa); });
    EXPECT_NE(message.find("row 3 used by the entry \"" + NI + "\" has 2 fields"), std::string::npos) << message;
}

TEST(wpaRead, aNameThatIsNoFileIsReadAsInlineText) {
    dictClass d;
    testing::internal::CaptureStdout();
    d.wpaRead("hello h_e_l_o#h_ax_l_o@%comment@@world w_er_l_d", "english");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(withoutLineNumbers(out), "Read WPA from the given string (line N in dict)...\n");
    ASSERT_EQ(d.m_wpa.size(), 2u);
    EXPECT_EQ(d.m_wpa[0].pa, (std::vector<std::string>{"h_e_l_o", "h_ax_l_o"}));
    EXPECT_EQ(d.m_wpa[1].word, "world");

    testing::internal::CaptureStdout();
    std::string chinese = errorOf([&] { d.wpaRead("hello h_e_l_o", "chinese"); });
    std::string wrong = errorOf([&] { d.wpaRead("hello\th_e_l_o", "english"); });
    d.wpaRead("", "chinese");  // an empty value reads nothing, whatever the language
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(withoutLineNumbers(chinese), "Unsupported language chinese (line N in dict)");
    EXPECT_EQ(withoutLineNumbers(wrong), "Wrong format of hello\th_e_l_o (line N in dict)");
    EXPECT_TRUE(d.m_wpa.empty());
}

TEST(wpaRead, dispatchesFilesByExtension) {
    scratchDir dir;
    dictClass d;
    d.wpaRead(dir.write("upper.WPA", "a\tx#y\n"), "english");
    EXPECT_EQ(d.m_wpa.size(), 1u);
    d.wpaRead(dir.write("b.wpab", le32(1) + wpabEntry("b", {"p"})), "english");
    ASSERT_EQ(d.m_wpa.size(), 1u);
    EXPECT_EQ(d.m_wpa[0].word, "b");
    std::string other = dir.write("c.txt", "a\tx\n");
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { d.wpaRead(other, "english"); })),
              "Error in reading \"" + other + "\": The only allowed extension are \"wpa\" and \"wpab\" (line N of dict) \n");
}

TEST(wpabRead, readsEntriesAndRefusesDamagedFiles) {
    scratchDir dir;
    dictClass d;
    std::string good = le32(3) + wpabEntry("a", {"x", "yy"}) + wpabEntry("b", {}) + wpabEntry(NI, {"ni"});
    d.wpabRead(dir.write("g.wpab", good));
    ASSERT_EQ(d.m_wpa.size(), 3u);
    EXPECT_EQ(d.m_wpa[0].pa, (std::vector<std::string>{"x", "yy"}));
    EXPECT_TRUE(d.m_wpa[1].pa.empty());
    EXPECT_EQ(d.m_wpa[2].word, NI);
    EXPECT_TRUE(d.m_wpa[2].paNotation.empty());

    d.wpabRead(dir.write("zero.wpab", le32(0)));
    EXPECT_TRUE(d.m_wpa.empty());

    struct damaged {
        std::string bytes;
        std::string expected;  // part of the message
    };
    std::vector<damaged> cases = {
        {"", "inside the entry count"},
        {good.substr(0, good.size() - 1), "inside the PA of entry 2"},
        {good.substr(0, 10), "entry count 3 does not fit a file of 10 bytes"},
        {le32(1) + le32(1) + "w" + le32(2) + le32(1) + "a" + std::string(3, '\1'), "inside the PA length of entry 0"},
        {le32(0x7fffffff) + wpabEntry("a", {}), "entry count 2147483647 does not fit"},
        {le32(-1), "entry count -1"},
        {le32(1) + le32(1000) + std::string(1000, 'w') + le32(0), "entry 0 has a word length of 1000"},
        {le32(1) + le32(-5) + le32(0), "word length of -5"},
        {le32(1) + wpabEntry("w", {std::string(100, 'p')}), "PA 0 of entry 0 (\"w\") has a length of 100"},
        {le32(1) + le32(1) + "w" + le32(0x40000000), "PA count of 1073741824"},
    };
    for (const damaged& c : cases) {
        std::string path = dir.write("d.wpab", c.bytes);
        std::string message = errorOf([&] { d.wpabRead(path); });
        EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
    // The longest allowed word and PA are accepted.
    d.wpabRead(dir.write("max.wpab", le32(1) + wpabEntry(std::string(999, 'w'), {std::string(99, 'p')})));
    EXPECT_EQ(d.m_wpa[0].pa[0].size(), 99u);
}

TEST(wpaMerge, replacesExistingWordsAddsNewOnesThenSortRestoresOrder) {
    dictClass d;
    d.m_wpa = {makeWpaEntry("apple", {"a_p_l"}), makeWpaEntry("hello", {"h_e_l_o", "h_ax_l_o"}),
               makeWpaEntry("zoo", {"z_u"})};
    d.m_wpaAddenda = {makeWpaEntry("hello", {"hh_ah_l_ow"}), makeWpaEntry("banana", {"b_a"}),
                      makeWpaEntry("banana", {"b_a_n_a"}), makeWpaEntry("aardvark", {"a_r"})};
    testing::internal::CaptureStdout();
    d.wpaMerge();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\tOld entry: word=hello, pa=h_e_l_o#h_ax_l_o\n\tNew entry: word=hello, pa=hh_ah_l_ow\n"
              "\tOld entry: word=banana, pa=b_a\n\tNew entry: word=banana, pa=b_a_n_a\n");
    EXPECT_TRUE(d.m_wpaAddenda.empty());
    d.wpaSort();
    std::vector<std::string> words;
    for (const wpaEntry& e : d.m_wpa) words.push_back(e.word);
    EXPECT_EQ(words, (std::vector<std::string>{"aardvark", "apple", "banana", "hello", "zoo"}));
    EXPECT_EQ(d.m_wpa[d.wpaFind("hello")].pa, (std::vector<std::string>{"hh_ah_l_ow"}));
    EXPECT_EQ(d.m_wpa[d.wpaFind("banana")].pa, (std::vector<std::string>{"b_a_n_a"}));
}

TEST(wpaSort, sortsInUnsignedByteOrder) {
    dictClass d;
    std::vector<std::string> sorted = {"", "A", "a", "ab", "b", HAO, HAO + "x", NI};
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) d.m_wpa.push_back(makeWpaEntry(*it, {}));
    d.wpaSort();
    ASSERT_EQ(d.m_wpa.size(), sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(d.m_wpa[i].word, sorted[i]);
}

TEST_F(dictWithModels, pronDictFromTextsBuildsRightContextModelsWithSilAndSp) {
    m_dict.m_wpa = {makeWpaEntry("hello", {"h_e_l_o", "h_e"}), makeWpaEntry("oh", {"o", "sp"})};
    m_dict.pronDictFromTexts({"hello oh\tignored words", "oh"}, m_models);
    std::vector<std::string> words;
    for (const pronEntry& e : m_dict.m_pronDict) words.push_back(e.word);
    EXPECT_EQ(words, (std::vector<std::string>{"h_e", "h_e_l_o", "o", "sil", "sp"}));
    EXPECT_EQ(m_dict.m_pronDict[0].modelIndices, (std::vector<int32_t>{2, 1}));  // e+sil -> substitute e+l
    EXPECT_EQ(m_dict.m_pronDict[1].modelIndices, (std::vector<int32_t>{2, 1, 3, 4}));  // h+e e+l l+o o+sil
    EXPECT_EQ(m_dict.m_pronDict[2].modelIndices, (std::vector<int32_t>{4}));
    EXPECT_EQ(m_dict.m_pronDict[3].modelIndices, (std::vector<int32_t>{-1}));
    EXPECT_EQ(m_dict.m_pronDict[4].modelIndices, (std::vector<int32_t>{5}));
    EXPECT_EQ(m_dict.pronDictFind("h_e_l_o"), 1);

    m_dict.pronDictFromTexts({}, m_models);
    ASSERT_EQ(m_dict.m_pronDict.size(), 2u);
    EXPECT_EQ(m_dict.m_pronDict[0].word, "sil");
    EXPECT_EQ(m_dict.m_pronDict[1].word, "sp");
}

TEST_F(dictWithModels, pronDictFromTextsRecordsMissingWords) {
    m_dict.m_wpa = {makeWpaEntry("hello", {"h_e_l_o"})};
    std::string message, out;
    inDirectory(m_dir.m_path, [&] {
        testing::internal::CaptureStdout();
        message = errorOf([&] { m_dict.pronDictFromTexts({"hello", "zebra hello yak zebra", "quux"}, m_models); });
        out = testing::internal::GetCapturedStdout();
    });
    EXPECT_EQ(withoutLineNumbers(message),
              "Error: 2 words (recorded at \"missingWord.txt\") cannot be found in the pronunciation dictionary! "
              "Please add the pronunciation to wpaAddendaFile. (line N of file text)");
    EXPECT_EQ(readWholeFile(m_dir.file("missingWord.txt")), "yak\nzebra\n");
    EXPECT_NE(withoutLineNumbers(out).find("Error: Found no pronunciation entry for \"zebra\". (line N of file text)\n"),
              std::string::npos);
    EXPECT_EQ(out.find("quux"), std::string::npos);  // texts after the first failing one are not looked at
}

TEST_F(dictWithModels, pronDictWriteNamesTheModels) {
    m_dict.m_pronDict = {{"h_e", {2, 1}}, {"sil", {-1}}, {"x", {}}};
    std::string path = m_dir.file("output.dic");
    m_dict.pronDictWrite(path, m_models);
    EXPECT_EQ(readWholeFile(path), "h_e\th+e e+l\nsil\t???\nx\t\n");
}

TEST(wpaWriteForTexts, writesTheEntriesOfTheTextsWordsInTableOrder) {
    scratchDir dir;
    dictClass d;
    d.m_wpa = {makeWpaEntry("apple", {"a_p_l"}), makeWpaEntry("hello", {"h_e_l_o", "h_ax_l_o"}),
               makeWpaEntry("zoo", {"z_u"})};
    textClass t;
    t.m_txtVsNormalized = {"zoo hello", "hello kiwi zoo"};
    std::string path = dir.file("output.wpa");
    testing::internal::CaptureStdout();
    d.wpaWriteForTexts(path, t, "english");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(readWholeFile(path), "hello\th_e_l_o#h_ax_l_o\nzoo\tz_u\n");
    EXPECT_EQ(withoutLineNumbers(out), "Warning: Found no PA for \"kiwi\" in " + path + "! (line N in dict)\n");
}

}  // namespace
