#include "lexicon/text.h"

#include <gtest/gtest.h>

#include "lexiconFixtures.h"
#include "run/recogParam.h"
#include "testUtil.h"

namespace {

// Big5 characters: two bytes each, both above 127 in the first byte.
const std::string NI = "\xa7\x41";
const std::string HAO = "\xa6\x6e";
const std::string MA = "\xb6\xdc";

recogParam paramFor(const std::string& language) {
    recogParam p;
    p.language = language;
    return p;
}

TEST(textsRead, inlineTextsAreSplitAtHashKeepingEmptyPieces) {
    textClass t;
    t.textsRead("hello world#good morning");
    EXPECT_EQ(t.m_txtVs, (std::vector<std::string>{"hello world", "good morning"}));
    t.textsRead("a##b#");
    EXPECT_EQ(t.m_txtVs, (std::vector<std::string>{"a", "", "b", ""}));
}

TEST(textsRead, aFileGivesItsNonEmptyLinesAndAnEmptyOneIsRefused) {
    scratchDir dir;
    textClass t;
    t.textsRead(dir.write("texts.txt", "one\r\n\ntwo\tx\n"));
    EXPECT_EQ(t.m_txtVs, (std::vector<std::string>{"one", "two\tx"}));

    std::string empty = dir.write("empty.txt", "\n\n\n");
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { t.textsRead(empty); })),
              "Error: m_txtVs.size()=0 when reading \"" + empty + "\". (line N of text)");
    EXPECT_NE(errorOf([&] { t.textsRead(""); }).find("has a length of zero"), std::string::npos);
}

TEST(textNormMapRead, readsRulesInOrderAndRefusesBadLines) {
    scratchDir dir;
    textClass t;
    t.textNormMapRead(dir.write("a.tnm", "% comment\n.##$\n\n,# #g\nx#y#g#extra\n"), '#', t.m_textNormSp);
    ASSERT_EQ(t.m_textNormSp.size(), 3u);
    EXPECT_EQ(t.m_textNormSp[0].pattern, ".");
    EXPECT_EQ(t.m_textNormSp[0].operation, "$");
    EXPECT_EQ(t.m_textNormSp[1].replacement, " ");
    EXPECT_EQ(t.m_textNormSp[2].operation, "g");

    std::string twoFields = dir.write("b.tnm", "a#b\n");
    EXPECT_NE(errorOf([&] { t.textNormMapRead(twoFields, '#', t.m_textNormSp); }).find("Error: Parsing error in \"" + twoFields + "\"."),
              std::string::npos);
    std::string noPattern = dir.write("c.tnm", "#x#^\n");
    std::string message = errorOf([&] { t.textNormMapRead(noPattern, '#', t.m_textNormSp); });
    EXPECT_NE(message.find("#x#^"), std::string::npos) << message;
    EXPECT_NE(message.find("empty pattern"), std::string::npos) << message;

    t.textNormMapRead("", '#', t.m_textNormSp);
    EXPECT_TRUE(t.m_textNormSp.empty());
}

TEST(normalizeText, englishIsLowerCasedThenRulesApplyInMapOrder) {
    textClass t;
    // "g" first turns "!" into ".", then "$" strips all trailing dots; "^" strips leading blanks.
    t.m_textNormSp = {{"!", ".", "g"}, {".", "", "$"}, {" ", "", "^"}, {"zz", "q", "x"}, {"zz", "q", ""}};
    std::string s = "  HELLO \xc4World zz!.!";
    t.normalizeText(s, paramFor("english"));
    EXPECT_EQ(s, "hello \xc4world zz");

    std::string c = "ABC!";
    t.normalizeText(c, paramFor("chinese"));
    EXPECT_EQ(c, "ABC");  // no lower-casing outside English

    // A rule that strips everything leaves an empty text; an empty "g" pattern does nothing.
    t.m_textNormSp = {{".", "", "$"}, {"", "x", "g"}};
    std::string dots = "....";
    t.normalizeText(dots, paramFor("english"));
    EXPECT_EQ(dots, "");
}

TEST(normalizeText, replacementResumesAfterTheInsertedText) {
    textClass t;
    t.m_textNormSp = {{"a", "aa", "g"}, {"aaaa", "b", "g"}};
    std::string s = "aa";
    t.normalizeText(s, paramFor("english"));
    EXPECT_EQ(s, "b");
}

TEST(textsNormalize, onlyThePartBeforeTheFirstTabIsNormalized) {
    textClass t;
    t.m_txtVs = {"Hello World\tExtra\tMore", "Bye."};
    t.m_textNormSp = {{".", "", "$"}};
    t.textsNormalize(paramFor("english"));
    EXPECT_EQ(t.m_txtVsNormalized, (std::vector<std::string>{"hello world", "bye"}));
    EXPECT_EQ(t.m_txtVs[0], "Hello World\tExtra\tMore");
}

TEST(splitWords, splitsByLanguage) {
    std::vector<std::string> out{"keep"};
    textClass::splitWords(NI + HAO + "\xa7", "chinese", out);
    EXPECT_EQ(out, (std::vector<std::string>{"keep", NI, HAO}));
    out.clear();
    textClass::splitWords("a  b", "english", out);
    EXPECT_EQ(out, (std::vector<std::string>{"a", "", "b"}));
    out.clear();
    textClass::splitWords("abc", "japanese", out);
    EXPECT_EQ(out, (std::vector<std::string>{"X", "X", "X"}));
    out.clear();
    textClass::splitWords("abc", "taiwanese", out);
    EXPECT_TRUE(out.empty());
}

TEST(japaneseSyllableRules, rewritesEntriesByTheRulesInTableOrder) {
    scratchDir dir;
    textClass t;
    t.m_sylVs = {"sil-a_a-ts_u-sil\t2", "SIL-Ka-#-#-#-Ko_o-N_n-Su(s)", "sil-", "x\ty\tz"};
    recogParam p = paramFor("japanese");
    p.outputDir = dir.m_path;
    testing::internal::CaptureStdout();
    t.japaneseSyllableRules(p);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(t.m_sylVs, (std::vector<std::string>{"a-tsu-u\t2", "ka-sil-ko-n-n-su", "", "x\ty\tz"}));
    EXPECT_EQ(readWholeFile(dir.file("output.syl")), "a-tsu-u\t2\nka-sil-ko-n-n-su\n\nx\ty\tz\n");
    EXPECT_EQ(out, "\t===> Saved " + dir.m_path + "/output.syl for Japanese!\n");

    textClass other;
    other.m_sylVs = {"sil-a_a-sil"};
    other.japaneseSyllableRules(paramFor("chinese"));
    EXPECT_EQ(other.m_sylVs, (std::vector<std::string>{"sil-a_a-sil"}));
}

TEST(chineseListing, listsEveryCombinationFirstCharacterFastestWithTones) {
    // Entries in byte order: HAO (0xa6...) before NI (0xa7...).
    wpaEntry hao = makeWpaEntry(HAO, {"hau", "hau", "hao"});
    hao.paNotation = {"3", "4", "3b"};
    wpaEntry ni = makeWpaEntry(NI, {"ni", "li", "ne"});
    ni.paNotation = {"3", "2", "5"};
    std::vector<wpaEntry> wpa = {hao, ni};

    textClass t;
    t.m_txtVsNormalized = {HAO + NI, NI};
    t.chineseListing(wpa, {}, "rzp");
    // HAO has 2 distinct PAs sorted (hao, hau), NI has 3 sorted (li, ne, ni).
    EXPECT_EQ(t.m_sylVs, (std::vector<std::string>{"hao-li\t0", "hau-li\t0", "hao-ne\t0", "hau-ne\t0", "hao-ni\t0",
                                                   "hau-ni\t0", "li\t1", "ne\t1", "ni\t1"}));
    // A PA's tone is the one where it first stands in the entry.
    EXPECT_EQ(t.m_sylVsNotation,
              (std::vector<std::string>{"3b-2", "3-2", "3b-5", "3-5", "3b-3", "3-3", "2", "5", "3"}));
}

TEST(chineseListing, aCharacterWithoutEntryOrPaIsWarnedAboutAndLeftOut) {
    std::vector<wpaEntry> wpa = {makeWpaEntry(HAO, {"hao"}), makeWpaEntry(NI, {"ni"}), makeWpaEntry(MA, {})};
    textClass t;
    t.m_txtVsNormalized = {NI + MA + HAO + "\xa7", MA};
    testing::internal::CaptureStdout();
    t.chineseListing(wpa, {}, "rzp");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Warning: Found no syllable for \"" + MA + "\"!\nWarning: Found no syllable for \"" + MA + "\"!\n");
    EXPECT_EQ(t.m_sylVs, (std::vector<std::string>{"ni-hao\t0"}));
    EXPECT_EQ(t.m_sylVsNotation, (std::vector<std::string>{"-"}));  // tones absent from the entries
}

TEST(englishListing, keepsTheStoredOrderAndRefusesUnknownWords) {
    std::vector<wpaEntry> wpa = {makeWpaEntry("hello", {"h_e_l_o", "h_ax_l_o"}), makeWpaEntry("world", {"w_o_r_l_d"}),
                                 makeWpaEntry("zoo", {"z_u", "a_u", "z_u"})};
    textClass t;
    t.m_txtVsNormalized = {"hello world", "zoo hello"};
    t.englishListing(wpa);
    EXPECT_EQ(t.m_sylVs, (std::vector<std::string>{"h_e_l_o-w_o_r_l_d\t0", "h_ax_l_o-w_o_r_l_d\t0", "z_u-h_e_l_o\t1",
                                                   "a_u-h_e_l_o\t1", "z_u-h_e_l_o\t1", "z_u-h_ax_l_o\t1",
                                                   "a_u-h_ax_l_o\t1", "z_u-h_ax_l_o\t1"}));

    t.m_txtVsNormalized = {"hello world"};
    wpa[1].pa.clear();  // an entry without PAs counts as missing
    EXPECT_NE(errorOf([&] { t.englishListing(wpa); }).find("no pronunciation entry for \"world\""), std::string::npos);
    t.m_txtVsNormalized = {"hello  world"};
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { t.englishListing(wpa); })),
              "Error: Found no pronunciation entry for \"\". Please add the pronunciation to wpaAddendaFile. (line N "
              "of file text)");
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { t.englishListing({}); })), "Error: wpa.size()==0 at line N of file text!");
}

TEST(englishListing, aListingOverOneMillionSequencesIsRefusedBeforeItIsBuilt) {
    std::vector<std::string> thousand, thousandAndOne;
    for (int i = 0; i < 1001; ++i) {
        if (i < 1000) thousand.push_back("p" + std::to_string(i));
        thousandAndOne.push_back("q" + std::to_string(i));
    }
    std::vector<wpaEntry> wpa = {makeWpaEntry("a", thousand), makeWpaEntry("b", thousandAndOne),
                                 makeWpaEntry("c", {"c"})};
    textClass t;
    t.m_txtVsNormalized = {"c c", "a b"};
    std::string message = errorOf([&] { t.englishListing(wpa); });
    EXPECT_NE(message.find("Text 1 \"a b\""), std::string::npos) << message;
    EXPECT_NE(message.find("1001000"), std::string::npos) << message;

    // 1000 x 1000 x 1000 would wrap a 32-bit count; it is refused all the same.
    t.m_txtVsNormalized = {"a a a"};
    EXPECT_NE(errorOf([&] { t.englishListing(wpa); }).find("1000000000"), std::string::npos);

    t.m_txtVsNormalized = {"c a"};
    t.englishListing(wpa);
    EXPECT_EQ(t.m_sylVs.size(), 1000u);
    EXPECT_EQ(t.m_sylVs[999], "c-p999\t0");
}

TEST(addBetweenSyllables, replacesEveryDashIncludingThoseInsideNames) {
    textClass t;
    t.m_sylVs = {"ni-hao\t0", "sil+a-b"};
    testing::internal::CaptureStdout();
    t.addBetweenSyllables("-sp-");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\tAdding -sp- between syllables...\n");
    EXPECT_EQ(t.m_sylVs, (std::vector<std::string>{"ni-sp-hao\t0", "sil+a-sp-b"}));
}

}  // namespace
