// Inputs found by the fuzz targets of fuzz/ that once went wrong, kept as
// behaviours of the readers they reached.
#include "decoder/macro.h"
#include "run/utility.h"
#include "scoringFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// One emitting state: a single Gaussian at zero with unit variances.
std::string modelBody() {
    std::string zeros, ones;
    for (int i = 0; i < 13; ++i) {
        zeros += " 0.0";
        ones += " 1.0";
    }
    return "<BEGINHMM>\n<NUMSTATES> 3\n<STATE> 2\n<SWEIGHTS> 1\n 1.0\n<MEAN> 13\n" + zeros + "\n<VARIANCE> 13\n" + ones +
           "\n<GCONST> 2.389e+01\n<TRANSP> 3\n 0.0 1.0 0.0\n 0.0 0.5 0.5\n 0.0 0.0 0.0\n<ENDHMM>\n";
}

// fuzz_macText: a text model file whose second model's "~h" was mutated into
// "0<" and whose name holds zero bytes. The text reader takes the name as it
// is; the binary writer used to cut it at the first zero byte, so the binary
// copy read back as another model set.
std::string zeroByteNameMac() {
    return "~o\n<STREAMINFO> 1 13\n<VECSIZE> 13<NULLD><MFCC><DIAGC>\n~h \"a+b\"\n" + modelBody() +
           std::string("0< \"\x04\0\0\0\0\0\0\0sil\"\n", 17) + modelBody() + "~h \"sp\"\n" + modelBody() + "\xe0";
}

// fuzz_macText: the header of a found file (option token "~h\0`\0\0E>"
// after the stream widths, on the same line) in front of one model. The text
// writer put the option text at the start of a line, so its copy counted two
// "~h" lines for one model and could not be read back.
const char OPTION_HEADER[] = "~o\n<STREAMINFO> 1 13\t~h\x00" "0`\x00\x00" "E> 13<NULLD><MFCC><DIAGC>\n";
const char OPTION_TEXT[] = "~h\x00" "0`\x00\x00" "E> 13<NULLD><MFCC><DIAGC>";

std::string optionLineMac() {
    return std::string(OPTION_HEADER, sizeof OPTION_HEADER - 1) + "~h \"a+b\"\n" + modelBody();
}

}  // namespace

TEST(fuzzRegression, aModelNameWithAZeroByteIsNotCutShortInABinaryCopy) {
    scratchDir dir;
    std::string path = dir.write("zero.mac", zeroByteNameMac());
    macroClass set;
    set.readMacro(path, false);
    ASSERT_EQ(set.modelNum, 2);
    const std::string name("\x04\0\0\0\0\0\0\0sil", 11);
    EXPECT_EQ(set.models[1].name, name);

    // The binary layout cannot hold the name: the writer refuses it.
    EXPECT_EQ(withoutLine(errorOf([&] { set.writeMacBinary(dir.file("copy.macb")); })),
              "Error: model name \x04 cannot be written to " + dir.file("copy.macb") +
                  ": it holds a zero byte (line N of macro)");

    // The text layout holds it, and reads back the same.
    set.writeMacText(dir.file("copy.mac"));
    macroClass again;
    again.readMacro(dir.file("copy.mac"), false);
    ASSERT_EQ(again.modelNum, 2);
    EXPECT_EQ(again.models[1].name, name);
}

TEST(fuzzRegression, theTextWriterRefusesLinesTheReaderWouldCountAsModels) {
    scratchDir dir;
    macroClass set;
    set.readMacro(dir.write("option.mac", optionLineMac()), false);
    ASSERT_EQ(set.modelNum, 1);
    EXPECT_EQ(set.optionText, std::string(OPTION_TEXT, sizeof OPTION_TEXT - 1));
    const std::string copy = dir.file("copy.mac");
    EXPECT_EQ(withoutLine(errorOf([&] { set.writeMacText(copy); })),
              "Error: the option line ~h cannot be written to " + copy +
                  ": it begins with ~h or spans lines (line N of macro)");

    // A line feed in a model name could start such a line inside the quotes.
    set.optionText = "<VECSIZE> 13<NULLD><MFCC><DIAGC>";
    set.models[0].name = "a\n~h b";
    EXPECT_EQ(withoutLine(errorOf([&] { set.writeMacText(copy); })),
              "Error: model name a\n~h b cannot be written to " + copy + ": it holds a line feed (line N of macro)");

    // The binary layout holds both: it has no option line and counts its models.
    set.writeMacBinary(dir.file("copy.macb"));
    macroClass binary;
    binary.readMacro(dir.file("copy.macb"), false);
    ASSERT_EQ(binary.modelNum, 1);
    EXPECT_EQ(binary.models[0].name, "a\n~h b");
}
