// The programs do not link libavcodec or libavutil (the FLV reader opens them
// at run time), and a run on a WAV file never loads them.
//
// This test program itself links libavcodec (its FLV fixtures encode with it),
// so the loading is watched in the programs' own processes, through the
// dynamic loader's log (LD_DEBUG=files), rather than in this one.
#include "../frontend/flvFixtures.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char* const PROGRAMS[] = {"recognize", "recognize-batch", "recognize-tool"};

// The DT_NEEDED entries of a 64-bit ELF file, read from its dynamic section
// and the string table that section links to. False, with the reason, when
// the file is not such an ELF file or its tables run outside it.
bool neededLibraries(const std::string& path, std::vector<std::string>& needed, std::string& error) {
    std::string bytes = readWholeFile(path);
    auto inside = [&](uint64_t offset, uint64_t size) { return offset <= bytes.size() && size <= bytes.size() - offset; };
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64) {
        error = "not a 64-bit ELF file";
        return false;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.e_shentsize != sizeof(Elf64_Shdr) || !inside(header.e_shoff, uint64_t(header.e_shnum) * sizeof(Elf64_Shdr))) {
        error = "section headers outside the file";
        return false;
    }
    auto section = [&](size_t index) {
        Elf64_Shdr s;
        std::memcpy(&s, bytes.data() + header.e_shoff + index * sizeof s, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr dynamic = section(i);
        if (dynamic.sh_type != SHT_DYNAMIC) continue;
        if (dynamic.sh_link >= header.e_shnum || !inside(dynamic.sh_offset, dynamic.sh_size)) {
            error = "dynamic section outside the file";
            return false;
        }
        Elf64_Shdr strings = section(dynamic.sh_link);
        if (!inside(strings.sh_offset, strings.sh_size)) {
            error = "string table outside the file";
            return false;
        }
        for (uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size; at += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            std::memcpy(&entry, bytes.data() + dynamic.sh_offset + at, sizeof entry);
            if (entry.d_tag == DT_NULL) break;
            if (entry.d_tag != DT_NEEDED) continue;
            if (entry.d_un.d_val >= strings.sh_size) {
                error = "library name outside the string table";
                return false;
            }
            const char* name = bytes.data() + strings.sh_offset + entry.d_un.d_val;
            needed.emplace_back(name, strnlen(name, strings.sh_size - entry.d_un.d_val));
        }
        return true;
    }
    error = "no dynamic section";
    return false;
}

bool namesCodecLibrary(const std::string& text) {
    return text.find("libavcodec") != std::string::npos || text.find("libavutil") != std::string::npos;
}

struct loaderRun {
    commandResult result;
    std::string log;  // the dynamic loader's log of the libraries it loaded
};

// Runs recognize-tool features on one audio file with the dynamic loader
// logging every library it loads, at start and through dlopen.
loaderRun featuresWithLoaderLog(const scratchDir& dir, const std::string& audio, const std::string& tag) {
    std::string logBase = dir.file(tag + "-ld");
    loaderRun run;
    run.result = runCommand("LD_DEBUG=files LD_DEBUG_OUTPUT=" + shellQuote(logBase) + " " +
                            shellQuote(programPath("recognize-tool")) + " features -C " +
                            shellQuote(std::string(RECOG_SOURCE_DIR) + "/examples/mfcc.cfg") + " " + shellQuote(audio) +
                            " " + shellQuote(dir.file(tag + ".mfc")) + " 2>&1");
    // The loader appends the process identifier to the name.
    for (const auto& entry : std::filesystem::directory_iterator(dir.m_path))
        if (entry.path().filename().string().rfind(tag + "-ld.", 0) == 0) run.log += readWholeFile(entry.path().string());
    return run;
}

}  // namespace

TEST(ProgramLinkage, NoProgramNeedsLibavcodecOrLibavutil) {
    int checked = 0;
    for (const char* program : PROGRAMS) {
        std::string path = programPath(program);
        if (!std::filesystem::exists(path)) continue;
        std::vector<std::string> needed;
        std::string error;
        ASSERT_TRUE(neededLibraries(path, needed, error)) << path << ": " << error;
        // The reader sees the entries that are there: every program needs the C library.
        EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end()) << path;
        for (const std::string& library : needed) EXPECT_FALSE(namesCodecLibrary(library)) << path << " needs " << library;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no program built in " << RECOG_BINARY_DIR;
}

TEST(ProgramLinkage, WaveRunsNeverLoadLibavcodecAndFlvRunsDo) {
    if (!std::filesystem::exists(programPath("recognize-tool"))) GTEST_SKIP() << "recognize-tool not built";
    scratchDir dir;
    loaderRun wave =
        featuresWithLoaderLog(dir, std::string(RECOG_SOURCE_DIR) + "/examples/waves/digits-8095439.wav", "wave");
    ASSERT_EQ(wave.result.status, 0) << wave.result.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("wave.mfc")));
    // The log lists the libraries loaded at start.
    ASSERT_NE(wave.log.find("file=libfftw3f"), std::string::npos) << wave.log;
    EXPECT_FALSE(namesCodecLibrary(wave.log)) << wave.log;

    // The same run on FLV audio opens both libraries through dlopen.
    std::string flv = dir.write("speech.flv", flvFixture::file({flvFixture::audioTag(0x52, flvFixture::nellyBlocks(60))}));
    loaderRun flvRun = featuresWithLoaderLog(dir, flv, "flv");
    ASSERT_EQ(flvRun.result.status, 0) << flvRun.result.output;
    EXPECT_TRUE(std::filesystem::exists(dir.file("flv.mfc")));
    for (const char* library : {"file=libavcodec.so", "file=libavutil.so"}) {
        size_t at = flvRun.log.find(library);
        ASSERT_NE(at, std::string::npos) << library << "\n" << flvRun.log;
        std::string line = flvRun.log.substr(at, flvRun.log.find('\n', at) - at);
        EXPECT_NE(line.find("dynamically loaded"), std::string::npos) << line;
    }
}
