// Whole-process figures of the programs on real recordings (skipped when the
// shared reference data is absent):
//
//   bench_processBench pizza RECOGNIZE [minCandidateNum [pizza.macb|pizza.mac]]
//       recognize, one process per recording, on the 30 pizza test
//       recordings among the 30 prompts with the monophones given every right
//       context: CPU per recording (median, min, max) and recognized prompts.
//   bench_processBench bulk BINDIR [N]
//       N (default 200) scored English recordings, each with its own text,
//       over the 1,562-model right-context set: recordings per second of a
//       loop of recognize processes, of bulk -j 1 and of bulk -j 2, and the
//       peak resident memory of each.
//   bench_processBench loaded BINDIR [N]
//       the same recordings in process: resources loaded once and 20
//       utterances run over them, against resources loaded per utterance.
#include "decoder/macro.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/utility.h"
#include "run/utteranceRun.h"
#include "tests/run/pizzaFixtures.h"

#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string SHARED = std::string(RECOG_SOURCE_DIR) + "/../shared/anchors";

struct processFigures {
    double cpuSeconds = 0;   // user + system
    double wallSeconds = 0;
    long maxRssKb = 0;
    int status = -1;
    std::string output;
};

// Runs argv in dir with standard output (and error) into a file; figures from wait4.
processFigures runProcess(const std::vector<std::string>& argv, const std::string& dir, const std::string& outFile) {
    processFigures f;
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        FILE* out = std::fopen(outFile.c_str(), "w");
        if (out) {
            dup2(fileno(out), 1);
            dup2(fileno(out), 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    f.maxRssKb = usage.ru_maxrss;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outFile);
    f.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return f;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int pizza(const std::string& recognize, int minCandidates, const std::string& modelFile) {
    const std::string dir = SHARED + "/htk-pizza";
    if (!std::filesystem::exists(dir)) {
        std::printf("no %s: skipped\n", dir.c_str());
        return 0;
    }
    std::string work = std::filesystem::temp_directory_path() / "pizza-bench";
    std::filesystem::create_directories(work);
    pizzaFixtures::writeContextSet(dir + "/mac/hmm9.mac", work + "/pizza.mac", work + "/pizza.macb");
    std::ofstream(work + "/pizza.wpa") << pizzaFixtures::wpaOfDictionary(dir + "/lexicon/dict");
    std::vector<std::string> prompts = pizzaFixtures::promptsOf(dir + "/lexicon/testprompts");
    std::ofstream texts(work + "/prompts.txt");
    for (const std::string& p : prompts) texts << p << "\n";
    texts.close();
    std::ofstream(work + "/pizza.tnm").close();
    std::ofstream(work + "/rank.prm") << "0.1 1 0\n";
    std::ofstream(work + "/discount.prm") << "0.9 0.9 0.9 0.9 0.9 0.9 0.9\n";
    std::ofstream prm(work + "/pizza.prm");
    prm << "language=english\nfunction=recog\nmacFile=" << modelFile << "\nwpaFile=pizza.wpa\ntnmFile=pizza.tnm\n"
        << "featureConfigFile=" << dir << "/config/wav_config\ntxtFile=prompts.txt\n"
        << "phoneRank2scoreParamFile=rank.prm\nscoreDiscountParamFile=discount.prm\ncomparisonMode=1\n"
        << "maxCandidateNum=5000\nprobTh=100000\n";
    if (minCandidates > 0) prm << "minCandidateNum=" << minCandidates << "\n";
    prm.close();

    std::vector<double> cpu, wall;
    int correct = 0;
    for (int round = 0; round < 3; ++round)
        for (int i = 1; i <= 30; ++i) {
            processFigures f = runProcess({recognize, "pizza.prm", dir + "/test/test" + std::to_string(i) + ".wav"},
                                          work, work + "/out.txt");
            cpu.push_back(f.cpuSeconds);
            wall.push_back(f.wallSeconds);
            std::string label = "\nText = ";
            size_t at = f.output.find(label);
            std::string said = at == std::string::npos ? "" : f.output.substr(at + label.size());
            said = said.substr(0, said.find('\n'));
            if (round == 0 && said == prompts[static_cast<size_t>(i - 1)]) ++correct;
        }
    std::printf("%s, %s, minCandidateNum=%d: %d/30 prompts recognized; CPU per recording median %.1f ms "
                "(min %.1f, max %.1f), wall median %.1f ms, over %zu runs\n",
                recognize.c_str(), modelFile.c_str(), minCandidates, correct, 1000 * median(cpu),
                1000 * *std::min_element(cpu.begin(), cpu.end()), 1000 * *std::max_element(cpu.begin(), cpu.end()),
                1000 * median(wall), cpu.size());
    if (!std::getenv("BENCH_KEEP")) std::filesystem::remove_all(work);
    return 0;
}

struct scoredRecording {
    std::string id, wav, text;
};

// The first n recordings of the scored English set, as WAV files in work.
std::vector<scoredRecording> scoredRecordings(const std::string& work, int n) {
    const std::string dir = SHARED + "/so762";
    std::vector<scoredRecording> list;
    std::ifstream tsv(dir + "/train.tsv");
    std::string line;
    while (static_cast<int>(list.size()) < n && std::getline(tsv, line)) {
        if (line.empty() || line[0] == '%') continue;
        std::vector<std::string> f = splitString(line, '\t');
        if (f.size() < 3) continue;
        scoredRecording r{f[0], work + "/" + f[0] + ".wav", f[2]};
        std::string convert = "sox " + dir + "/" + f[1] + " " + r.wav;
        if (!std::filesystem::exists(r.wav) && std::system(convert.c_str()) != 0) continue;
        list.push_back(r);
    }
    return list;
}

int bulk(const std::string& bin, int n) {
    const std::string dir = SHARED + "/so762";
    if (!std::filesystem::exists(dir)) {
        std::printf("no %s: skipped\n", dir.c_str());
        return 0;
    }
    std::string work = std::filesystem::temp_directory_path() / "bulk-bench";
    std::filesystem::create_directories(work);
    std::vector<scoredRecording> list = scoredRecordings(work, n);
    std::ofstream listFile(work + "/list.tsv");
    for (const scoredRecording& r : list) listFile << r.id << "\t" << r.wav << "\t" << r.text << "\n";
    listFile.close();
    std::printf("%zu recordings of different texts, 1,562-model right-context set\n", list.size());

    double loopWall = 0;
    long loopRss = 0;
    int loopOk = 0;
    for (const scoredRecording& r : list) {
        processFigures f = runProcess({bin + "/recognize", "assess.prm", r.wav, r.text, "0"}, dir, work + "/out.txt");
        loopWall += f.wallSeconds;
        loopRss = std::max(loopRss, f.maxRssKb);
        if (f.output.find("\nScore = ") != std::string::npos) ++loopOk;
    }
    std::printf("recognize per recording: %.2f recordings/s (%d ok), peak RSS %.1f MB\n", list.size() / loopWall,
                loopOk, loopRss / 1024.0);
    double rate1 = 0;
    for (int jobs : {1, 2}) {
        std::string results = work + "/results-" + std::to_string(jobs) + ".jsonl";
        std::filesystem::remove(results);
        processFigures f = runProcess({bin + "/recognize-tool", "bulk", "--quiet", "-j", std::to_string(jobs),
                                       "assess.prm", work + "/list.tsv", results},
                                      dir, work + "/out.txt");
        double rate = list.size() / f.wallSeconds;
        if (jobs == 1) rate1 = rate;
        std::printf("bulk -j %d: %.2f recordings/s (exit %d), %.1fx the per-process loop%s, peak RSS %.1f MB\n", jobs,
                    rate, f.status, rate / (list.size() / loopWall),
                    jobs == 2 ? formatString(", %.2fx -j 1", rate / rate1).c_str() : "", f.maxRssKb / 1024.0);
    }
    // Searches widened after an incomplete path, from the -j 1 results.
    {
        std::ifstream in(work + "/results-1.jsonl");
        std::string text;
        int widened = 0, ok = 0, incomplete = 0;
        double widenedSearch = 0, plainSearch = 0;
        while (std::getline(in, text)) {
            nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
            if (line.is_discarded() || line.value("status", "") != "ok") continue;
            const nlohmann::json& r = line["result"];
            ++ok;
            double search = r["seconds"].value("search", 0.0);
            if (r["search"]["tries"].get<int>() > 1) {
                ++widened;
                widenedSearch += search;
            } else {
                plainSearch += search;
            }
            if (!r["complete"].get<bool>()) ++incomplete;
        }
        std::printf("%d ok; %d searched again after an incomplete path (search %.1f ms each on average, against "
                    "%.1f ms for the others); %d still incomplete\n",
                    ok, widened, widened ? 1000 * widenedSearch / widened : 0.0,
                    ok > widened ? 1000 * plainSearch / (ok - widened) : 0.0, incomplete);
    }
    // The resources alone: a bulk run of no recordings.
    std::ofstream(work + "/empty.tsv").close();
    processFigures empty = runProcess({bin + "/recognize-tool", "bulk", "--quiet", "assess.prm", work + "/empty.tsv",
                                       work + "/empty.jsonl"},
                                      dir, work + "/out.txt");
    std::printf("resources alone (bulk of an empty list): peak RSS %.1f MB\n", empty.maxRssKb / 1024.0);
    std::filesystem::remove_all(work);
    return 0;
}

int loaded(int n) {
    const std::string dir = SHARED + "/so762";
    if (!std::filesystem::exists(dir)) {
        std::printf("no %s: skipped\n", dir.c_str());
        return 0;
    }
    std::string work = std::filesystem::temp_directory_path() / "loaded-bench";
    std::filesystem::create_directories(work);
    std::vector<scoredRecording> list = scoredRecordings(work, n);
    std::filesystem::current_path(dir);
    recogParam param;
    readRecogParam("assess.prm", param);
    scopedOutputSilence quiet;
    resourceOptions options;
    options.buildNet = false;
    std::vector<audioRecord> audio;
    for (const scoredRecording& r : list) {
        conditionReport report;
        audio.push_back(readConditionedWave(r.wav, conditionOptionsOf(param), report));
    }
    auto settingsOf = [&](const recogResources& resources, const scoredRecording& r) {
        utteranceSettings s = sharedNetSettings(resources);
        s.ownTexts = true;
        s.literalTexts = true;
        s.writeMissingWordFile = false;
        s.txtFile = r.text;
        return s;
    };
    auto t0 = std::chrono::steady_clock::now();
    recogResources once;
    loadResources(param, options, once);
    auto t1 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < list.size(); ++i) runUtterance(once, audio[i], settingsOf(once, list[i]));
    auto t2 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < list.size(); ++i) {
        recogResources each;
        loadResources(param, options, each);
        runUtterance(each, audio[i], settingsOf(each, list[i]));
    }
    auto t3 = std::chrono::steady_clock::now();
    auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
    std::fprintf(stderr,
                 "%zu utterances of different texts, %d models: loading %.1f ms once; per utterance %.2f ms with the "
                 "resources loaded once, %.2f ms loading them per utterance (%.1fx)\n",
                 list.size(), once.models.modelNum, ms(t0, t1), ms(t1, t2) / list.size(), ms(t2, t3) / list.size(),
                 ms(t2, t3) / ms(t1, t2));
    std::filesystem::remove_all(work);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pizza" && argc > 2)
        return pizza(argv[2], argc > 3 ? std::atoi(argv[3]) : 0, argc > 4 ? argv[4] : "pizza.macb");
    if (mode == "bulk" && argc > 2) return bulk(argv[2], argc > 3 ? std::atoi(argv[3]) : 200);
    if (mode == "loaded") return loaded(argc > 2 ? std::atoi(argv[2]) : 20);
    std::fprintf(stderr, "usage: %s pizza RECOGNIZE [minCandidateNum [pizza.macb|pizza.mac]] | bulk BINDIR [N] | loaded [N]\n", argv[0]);
    return 2;
}
