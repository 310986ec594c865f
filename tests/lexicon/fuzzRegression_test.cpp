// Inputs found by the fuzz targets of fuzz/ that once went wrong, kept as
// behaviours of the readers they reached.
#include "lexicon/text.h"
#include "lexiconFixtures.h"
#include "run/recogParam.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// fuzz_textNormMap: a normalization map of some thirty "g" rules, most of
// which replace a space by two. Each doubled the spaces of the text, so the
// normalization of a short text asked for gigabytes.
std::string doublingSpacesMap() {
    return
        std::string(" # h, OOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00 OOOOOOOOOOOOOOOOOOO w\xbf\x01\x00  #g\n"
        " #  #g^\x00 OOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " # OOOOOOOO  OOOOKOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " #  #g^  #g\n"
        " # OOOOOOOOOOOOKOOOOOOOo w\xbf\x01\x00  #\xc8\n"
        " #  #g^\x00OOOOOOOOOOOOOOOOOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00 OOOOOOOOOOOOOOOOOOO w\xbf\x01\x00  #g\n"
        " #  #g^\x00 OOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " # OOOOOOOO  OOOOKOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " #  #g^  #g\n"
        " # OOOOOOOOOOOOKOOOOOOOo w\xbf\x01\x00  #\xc8\n"
        " #  #g^\x00OOOOOOOOOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00   #\n"
        " #gOOOOOOOOOOOOKOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " \xff\xff\xff\xff#  #g^  #g\n"
        " # OOOOOOOOOOOOKOOOOOOOo w\xbf\x01OOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00   #\n"
        " #gOOOOOOOOOOOOKOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " \xff\xff\xff\xff#  #g^  #g\n"
        " # OOOOOOOOOOOOKOOOOOOOo w\xbf\x01\x00  #g\n"
        " #  #g^\x00  #g\n"
        " #  #g^",
        779);
}

}  // namespace

TEST(fuzzRegression, normalizationRulesCannotGrowATextWithoutBound) {
    scratchDir dir;
    textClass text;
    std::string path = dir.write("doubling.tnm", doublingSpacesMap());
    text.textNormMapRead(path, '#', text.m_textNormSp);
    ASSERT_GT(text.m_textNormSp.size(), 20u);
    recogParam param;
    param.language = "english";
    text.m_txtVs = {"Hello, World!"};
    EXPECT_EQ(withoutLineNumbers(errorOf([&] { text.textsNormalize(param); })),
              "Error: The rule \" #  #g^\" makes a normalized text longer than 1000000 bytes. (line N of file text)");
}

TEST(fuzzRegression, aRuleMayGrowATextUpToTheLimit) {
    textClass text;
    recogParam param;
    // 2^19 spaces after 19 doublings stay within the limit; one more does not.
    for (int i = 0; i < 19; ++i) text.m_textNormSp.push_back(textNormRule{" ", "  ", "g"});
    std::string s = " ";
    text.normalizeText(s, param);
    EXPECT_EQ(s.size(), 1u << 19);
    text.m_textNormSp.push_back(textNormRule{" ", "  ", "g"});
    s = " ";
    EXPECT_NE(errorOf([&] { text.normalizeText(s, param); }), "");
    // Rules that keep or shrink the length are not limited.
    text.m_textNormSp = {textNormRule{"ab", "x", "g"}, textNormRule{"x", "y", "g"}};
    s = std::string(3000000, 'a') + "ab";
    text.normalizeText(s, param);
    EXPECT_EQ(s, std::string(3000000, 'a') + "y");
}
