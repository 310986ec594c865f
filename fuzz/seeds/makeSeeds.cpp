// Writes the seed corpus of every fuzz target: valid files of each format,
// built with the same fixtures the tests use, plus a few variants that reach
// the optional parts of a format (mu-law, extra chunks, several mixtures,
// null nodes, comments).
//
//   fuzz_makeSeeds OUTDIR    writes OUTDIR/<target>/<seed>
#include "decoder/macro.h"
#include "decoder/modelFixtures.h"
#include "frontend/flvFixtures.h"
#include "frontend/waveFixtures.h"
#include "lexicon/lexiconFixtures.h"
#include "lexicon/net.h"
#include "lexicon/text.h"
#include "fuzzFixtures.h"
#include "run/recogParam.h"
#include "run/utility.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string g_outDir;
int g_count = 0;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(g_outDir + "/" + target);
    std::ofstream out(g_outDir + "/" + target + "/" + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ++g_count;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string NI = "\xA7\x41";   // Big5 characters of the lexicon tests
const std::string HAO = "\xA6\x6E";

std::vector<int32_t> tone(int count, double freq, double rate, double amplitude) {
    std::vector<int32_t> s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[static_cast<size_t>(i)] = static_cast<int32_t>(amplitude * std::sin(2 * M_PI * freq * i / rate));
    return s;
}

void parameterSeeds() {
    seed("recogParamFile", "pipeline.txt",
         "macFile=models.mac\ntnmFile=map.tnm\nfeatureConfigFile=mfcc.cfg\nwpaFile=words.wpa\n"
         "wpaAddendaFile=addenda.wpa\ndicFile=syllables.pam\nphoneRank2scoreParamFile=rank.prm\n"
         "scoreDiscountParamFile=discount.prm\nmaxCandidateNum=300\nprobTh=2000\nuseDescCandidateNum=0\n"
         "language=english\nfunction=recog\ntxtFile=one#two#three\nwavFile=utt.wav\n");
    seed("recogParamFile", "trimmed.txt",
         "   outputDir =  my results dir   % where results go\ntxtFile=a=b\nmacFile=models/100%done.mac\n"
         "probTh=0.5\nmaxCandidateNum = 3abc\nnodePenalty=-20\nlanguage=english\nlanguage=chinese\n"
         "function=assess\r\n");
    std::string all;
    const char* textKeys[] = {"function", "language", "macFile", "modelCountFile", "pinyinType", "dicFile", "wpaFile",
                              "wpaAddendaFile", "pyTableFile", "qiYinFile", "tnmFile", "featureConfigFile", "wavFile",
                              "wavFileList", "txtFile", "sylFile", "netFile", "outputDir", "outWavDir",
                              "outputXmlFile", "phoneRank2scoreParamFile", "scoreDiscountParamFile", "cmParamFile",
                              "epsFile", "inputLabFile", "ptParamFile", "volCheckPrmFile", "fillerType"};
    for (const char* key : textKeys) all += std::string(key) + "=v\n";
    const char* numberKeys[] = {"useAllModelAsCompetingModel", "usePaddedHardSp", "usePaddedSoftSil",
                                "useLeadingTrailingSil", "getUvScore", "getPitch", "useEpd", "netType",
                                "maxCandidateNum", "probTh", "comparisonMode", "wordPenalty", "nodePenalty",
                                "useWaveReject", "useDescCandidateNum", "useSpecSubtraction", "addLink4stopAnywhere",
                                "addLink4startAnywhere", "addLink4forwardJump", "addLink4skippableTrailingSil",
                                "addLink4skippableLeadingSil"};
    for (const char* key : numberKeys) all += std::string(key) + "=1\n";
    seed("recogParamFile", "everyKey.txt", all);

    seed("featureConfig", "default.cfg", "TARGETKIND = MFCC_E_D_A\n");
    seed("featureConfig", "full.cfg",
         "SOURCEFORMAT = WAV\nSOURCERATE = 625\nTARGETKIND = MFCC_0_D_A_Z\nTARGETRATE = 100000.0\n"
         "WINDOWSIZE = 250000.0\nUSEHAMMING = T\nPREEMCOEF = 0.97\nNUMCHANS = 24\nCEPLIFTER = 22\nNUMCEPS = 12\n"
         "ENORMALISE = F\nLOFREQ = 100\nHIFREQ = 7000\nZMEANSOURCE = T\nUSEPOWER = T\nESCALE = 1.0\n"
         "SILFLOOR = 40.0\nDELTAWINDOW = 3\nACCWINDOW = 1\n");
    seed("featureConfig", "band.cfg", "LOFREQ=300\r\nHIFREQ=3400\r\nTARGETKIND=MFCC_E_D\r\nUSEHAMMING=F\r\n");

    seed("volCheckParam", "thresholds.prm",
         "% thresholds\n  maxVolTh = 12.5  % louder\nsatAmpRatio=0.5\nno equals sign here\nmaxVolTh=99\n");
    seed("volCheckParam", "all.prm", "maxVolTh=140\nminVolTh=30\nsatAmpRatio=0.95\nsatSampleCountRatioTh=0.005\n");

    seed("pitchParam", "test.prm",
         "% pitch settings\nframeSize = 200   % shorter frames\ndpUseLocalOptim=0.9\nclarityRatio=0.25\n"
         "medianFilterOrder=3\nnbits=8\n");
    seed("pitchParam", "all.prm",
         "fs=16000\nnbits=16\npfType=0\nframeSize=512\noverlap=256\npfLen=256\nppcNum=10\nminPitch=30\n"
         "maxPitch=84\npitchRangeMax=24\npitchDiffMax=5\nmaxMedianPitchDiff=20\ndpMethod=2\ndpPosDiffOrder=1\n"
         "dpUseLocalOptim=1\npfWeight=1\nindexDiffWeight=6\nuseVolThreshold=0\nuseClarityThreshold=1\n"
         "clarityRatio=0.6\nmedianFilterOrder=5\ncutLeadingTrailingZero=1\n");
}

void audioSeeds() {
    using namespace waveFixtures;
    seed("waveFile", "pcm16.wav", pcmWave(tone(400, 440, 16000, 8000), 16000, 16));
    seed("waveFile", "pcm8.wav", pcmWave(tone(300, 300, 8000, 100), 8000, 8));
    seed("waveFile", "stereo.wav", pcmWave(tone(200, 500, 22050, 3000), 22050, 16, 2));
    std::string muLaw;
    for (int i = 0; i < 301; ++i) muLaw.push_back(static_cast<char>(i * 37));
    seed("waveFile", "mulaw.wav", riffWave(chunk("fmt ", fmtData(7, 1, 8000, 8)) + chunk("data", muLaw)));
    // An 18-byte format record, a list chunk between format and data.
    seed("waveFile", "extended.wav",
         riffWave(chunk("fmt ", fmtData(1, 1, 11025, 16) + le16(0)) + chunk("LIST", "INFOISFT\x03\0\0\0abc") +
                  chunk("data", pcm16(tone(100, 1000, 11025, 20000)))));

    std::string raw = pcm16(tone(500, 250, 16000, 12000));
    seed("rawAudioFile", "tone.raw", raw);
    seed("rawAudioFile", "odd.raw", raw.substr(0, 33));

    using namespace flvFixture;
    std::string blocks = nellyBlocks(3);
    seed("flvFile", "nelly8k.flv", flvFixture::file({audioTag(0x52, blocks)}));
    seed("flvFile", "videoAndAudio.flv",
         flvFixture::file({videoTag(20), audioTag(0x6E, blocks.substr(0, 128)), audioTag(0x6E, blocks.substr(128) + "xy")}));
    seed("flvFile", "header.flv", header() + bigEndian(0, 4));
}

macroClass multiMixtureSet() {
    macroClass set = namedFixtureModels({"a+b", "b+sil", "sp"}, 3);
    setFixtureMixtures(set.models[0], 1, 2, {0.25f, 0.75f}, {0.0f, 1.0f}, {1.0f, 2.0f});
    return set;
}

void modelSeeds(const std::string& work) {
    seed("macText", "tiny.mac", tinyMacText({"a+b", "sil", "sp"}));
    std::string noGconst = tinyMacText({"c+a"});
    noGconst.replace(noGconst.find("<GCONST> 2.389e+01\n"), 19, "");
    noGconst.replace(noGconst.find("<MEAN>"), 0, "<RCLASS> 1\n");
    seed("macText", "noGconst.mac", noGconst);
    multiMixtureSet().writeMacText(work + "/multi.mac");
    seed("macText", "multi.mac", fileBytes(work + "/multi.mac"));
    namedFixtureModels({"a+b", "sil"}, 1).writeMacText(work + "/one.mac");
    seed("macText", "oneStream.mac", fileBytes(work + "/one.mac"));

    multiMixtureSet().writeMacBinary(work + "/multi.macb");
    seed("macBinary", "multi.macb", fileBytes(work + "/multi.macb"));
    namedFixtureModels({"a+b", "sil", "sp"}, 1).writeMacBinary(work + "/one.macb");
    seed("macBinary", "oneStream.macb", fileBytes(work + "/one.macb"));

    seed("modelCountFile", "counts.txt", "a+b\t10\nb+sil\t5\nc+a\t0\nsil\t100\nsp\t7\n");
    seed("modelCountFile", "mismatch.txt", "% counts\nb+sil\t3\nx\n\t\t\n");
}

void lexiconSeeds() {
    seed("pamFile", "syllables.pam", "ab\ta+b b+sil\nba\tb+sil c+a\nsil\tsil\nsp\tsp\nx\tq+r\n");
    seed("pamFile", "spaces.pam", "% comment\n  ab   a+b  c+a \r\nlonely\n\tsil\n");

    seed("wpaText", "english.wpa", "% comment\nhello\th_e_l_o#h_ax_l_o\r\n\nworld\tw_er_l_d\n");
    seed("wpaText", "chinese.wpa", NI + "\t1\tx\t3\ty\n" + HAO + "\t2,1\tx\t3,4\ty\n");

    seed("wpabFile", "two.wpab", le32(2) + wpabEntry("b", {"p"}) + wpabEntry("hello", {"h_e_l_o", "h_ax_l_o"}));
    seed("wpabFile", "empty.wpab", le32(0));

    seed("pinyinTable", "test.txt", "ni\tni\tni\tni3x\nhao\thau\thao\thao\nshort\tx\n");
    seed("pinyinTable", "wide.txt", "a\tni\tnyi\tni3\tx\ny\thao\thau\thao3\t\nsp\tsp\tsp\tsp\n");

    seed("textNormMap", "map.tnm", "%pattern#replacement#operation\n,##g\n.#x#$\n #x#^\nhello#hi#g\n!##g#extra\n");

    seed("textsFile", "english.txt", "hello world\nthe a world\tcomment\na\n");
    seed("textsFile", "chinese.txt", NI + HAO + "\n" + HAO + NI + NI + "\tx\n");
    seed("textsFile", "joined.txt", "hello world#the world#a");

    seed("sylFile", "chinese.syl", "ni-hao\t0\nni-sil-hao\t1\na-b-c\nsp\n");
    seed("sylFile", "japanese.syl", "sil-ka_n-ts_-e_i-#-su(s)-sil\t0\nA-o_u-yu_yu-#-#-b\n");
}

void netSeeds(const std::string& work) {
    recogParam param;
    param.language = "chinese";
    param.usePaddedSoftSil = 0;
    textClass text;
    text.m_sylVs = {"ni-hao\t0", "ni-a\t1", "b-c"};
    buildTreeNet(text, param, false, false, true);
    writeLines(work + "/tree.net", text.netVs);
    seed("netText", "tree.net", fileBytes(work + "/tree.net"));

    textClass keyword;
    keyword.m_sylVs = {"ni-hao\t0", "a\t1"};
    param.function = "recog";
    param.addLink4stopAnywhere = 1;
    param.addLink4skippableTrailingSil = 1;
    buildTreeNet(keyword, param, true, true, false);
    writeLines(work + "/keyword.net", keyword.netVs);
    seed("netText", "keyword.net", fileBytes(work + "/keyword.net"));

    seed("netText", "nulls.net",
         "VERSION=1.0\nN=6\tL=6\nI=0\tW=!NULL\nI=1\tW=!NULL\nI=2\tW=!Null@-1@\nI=3\tW=a@0@word\n"
         "I=4\tW=x@9@a@b\nI=5\tW=sil\nJ=0\tS=0\tE=2\nJ=1\tS=2\tE=3\nJ=2\tS=2\tE=4\nJ=3\tS=3\tE=5\n"
         "J=4\tS=4\tE=5\nJ=5\tS=5\tE=1\n");

    dictClass dict = fuzzFixtures::netDictionary();
    for (const char* name : {"tree.net", "keyword.net"}) {
        netClass net;
        net.netRead(work + "/" + name, dict);
        std::string binary = work + "/" + std::string(name) + "b";
        net.netbWrite(binary);
        seed("netBinary", std::string(name) + "b", fileBytes(binary));
    }
}

void scoringSeeds() {
    seed("labelFile", "utt.lab",
         "% a comment\n0 1200000 a+b -12.5 ni\n1200000 1500000 c+a -20.25\n\n"
         "1500000 2000000 sil+a -31 sil extra fields\n2000000 2500000 b+sil -40.5\n2500000 3000000 sp -41 sp\n");
    seed("labelFile", "odd.lab", "x y a+b z w\n99999 199999 c+a 1e2\n2147483647 99999999999 b+sil -1\n");

    seed("cmParamFile", "cm.txt",
         "% model parameters\na+b\t1\t2\t3\t4\t[0.05 0.5 0]\nc+b\t1\t2\t3\t4\t[0.1 1 0]\nd+b\t1\t2\t3\t4\t[0.05 0.5 0]\n");

    seed("epsFile", "eps.txt", "c+b\ta+b\td+b\n% comment\na+b\tc+b\nd+b\n");

    seed("scoreFloatFiles", "rank.prm", "0.1 1 0\n");
    seed("scoreFloatFiles", "discount.prm", "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n");
    seed("scoreFloatFiles", "mixed.prm", "1 1 1 1 1 1 0.5 1e-3 -2.5e+2 inf nan 0x1p3 x 4\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 1;
    }
    g_outDir = argv[1];
    const std::string work = g_outDir + "/.work";
    std::filesystem::create_directories(work);
    try {
        parameterSeeds();
        audioSeeds();
        modelSeeds(work);
        lexiconSeeds();
        netSeeds(work);
        scoringSeeds();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "makeSeeds: %s\n", e.what());
        return 1;
    }
    std::filesystem::remove_all(work);
    std::printf("%d seeds written to %s\n", g_count, g_outDir.c_str());
    return 0;
}
