// recognize-tool calibrate: assesses every recording of a scored list,
// pairs the measurements of its phones, words and sentence with human
// scores, and fits the calibration file that maps them onto the human
// scales (run/calibration.h, run/calibrationFit.h).
#include "tools/toolArgs.h"
#include "tools/tools.h"

#include "decoder/measures.h"
#include "run/calibration.h"
#include "run/calibrationFit.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/resources.h"
#include "run/utility.h"
#include "run/utteranceRun.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

using nlohmann::json;

namespace {

const char* const UNIT = "toolCalibrate";
const char* const CACHE_FORMAT = "recognizer measurements";
constexpr int32_t CACHE_VERSION = 1;
constexpr int32_t UTTERANCE_NUMBER_DIGITS = 4;  // speaker = id without its last four characters

const char* const USAGE =
    "Usage: recognize-tool calibrate [-j threads] [-k folds] [-s idPrefixLength] [-m measurementFile]\n"
    "                                recogParamFile scoredList humanScores.json out.cal\n"
    "  scoredList: lines id<TAB>wave<TAB>text ('%' comments); waves relative to the list's folder;\n"
    "              waves the reader cannot read (e.g. .flac) are converted with sox\n"
    "  humanScores.json: per id accuracy, fluency, total and words (accuracy, phones, phones-accuracy)\n"
    "  -j  assessment threads (default: one per core)\n"
    "  -k  speaker folds of the cross-validation (default 5)\n"
    "  -s  speaker = the first N characters of the id (default: the wave's folder, else the id\n"
    "      without its last 4 characters)\n"
    "  -m  measurement cache (default: out.cal.measurements.json); reused for recordings it holds\n";

struct listEntry {
    std::string id, wave, text, speaker;
};

int usageError(const std::string& message) {
    if (!message.empty()) sinkPrintf("%s\n", message.c_str());
    sinkPrintf("%s", USAGE);
    return 2;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string baseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool readableByExtension(const std::string& path) {
    static const std::set<std::string> known = {"wav", "WAV", "wa1", "WA1", "wa2", "WA2", "flv", "FLV", "raw", "RAW"};
    return path.size() >= 3 && known.count(path.substr(path.size() - 3)) > 0;
}

// Runs sox in -> out (16-bit WAVE) without a shell; reports a failure.
void convertWithSox(const std::string& in, const std::string& out) {
    std::vector<std::string> args = {"sox", "-q", in, "-b", "16", out};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "sox", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0)
        reportError(formatString("Error: cannot run sox to convert %s (is sox installed?) (line %d of file %s)",
                                 in.c_str(), __LINE__, UNIT));
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        reportError(formatString("Error: sox could not convert %s (line %d of file %s)", in.c_str(), __LINE__, UNIT));
}

// A private directory for converted waves, removed with its files at the end.
class privateTempDir {
public:
    privateTempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/recog-calibrate-XXXXXX";
        if (!mkdtemp(pattern.data()))
            reportError(formatString("Error: cannot create a temporary directory %s (line %d of file %s)",
                                     pattern.c_str(), __LINE__, UNIT));
        m_path = pattern;
    }
    ~privateTempDir() { rmdir(m_path.c_str()); }
    privateTempDir(const privateTempDir&) = delete;
    privateTempDir& operator=(const privateTempDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::vector<listEntry> readScoredList(const std::string& path, int32_t idPrefix) {
    std::vector<listEntry> entries;
    const std::string folder = folderOf(path);
    int32_t lineNumber = 0;
    for (const std::string& line : readLines(path, '%')) {
        ++lineNumber;
        std::vector<std::string> fields = splitString(line, '\t');
        if (fields.size() < 3)
            reportError(formatString("Error: entry %d of %s has %zu tab-separated fields; id, wave and text are "
                                     "needed (line %d of file %s)",
                                     lineNumber, path.c_str(), fields.size(), __LINE__, UNIT));
        listEntry e;
        e.id = trimSpace(fields[0]);
        e.wave = trimSpace(fields[1]);
        e.text = trimSpace(fields[2]);
        if (!e.wave.empty() && e.wave[0] != '/' && !folder.empty()) e.wave = folder + "/" + e.wave;
        const std::string waveFolder = baseName(folderOf(trimSpace(fields[1])));
        if (idPrefix > 0)
            e.speaker = e.id.substr(0, static_cast<size_t>(idPrefix));
        else if (!waveFolder.empty())
            e.speaker = waveFolder;
        else
            e.speaker = e.id.size() > UTTERANCE_NUMBER_DIGITS ? e.id.substr(0, e.id.size() - UTTERANCE_NUMBER_DIGITS)
                                                              : e.id;
        entries.push_back(e);
    }
    return entries;
}

// The cached measurements of recordings assessed under the same target and parameters.
std::map<std::string, measuredUtterance> readCache(const std::string& path, const json& header) {
    std::map<std::string, measuredUtterance> cache;
    if (!fileExists(path)) return cache;
    json doc = json::parse(readFileBytes(path), nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || doc.value("format", std::string()) != CACHE_FORMAT ||
        doc.value("version", 0) != CACHE_VERSION || doc.value("fittedFor", json()) != header) {
        sinkPrintf("\tThe measurements in %s were taken under other settings; assessing anew\n", path.c_str());
        return cache;
    }
    for (const json& r : doc.at("recordings"))
        cache[r.value("key", std::string())] = measuredUtteranceFromJson(r.at("measured"));
    return cache;
}

std::string cacheKey(const listEntry& e) { return e.id + "\t" + e.wave + "\t" + e.text; }

void writeCache(const std::string& path, const json& header, const std::vector<listEntry>& entries,
                const std::vector<measuredUtterance>& measured, const std::vector<char>& ok) {
    json recordings = json::array();
    for (size_t i = 0; i < entries.size(); ++i)
        if (ok[i]) recordings.push_back({{"key", cacheKey(entries[i])}, {"measured", measuredUtteranceJson(measured[i])}});
    json doc = {{"format", CACHE_FORMAT}, {"version", CACHE_VERSION}, {"fittedFor", header}, {"recordings", recordings}};
    std::string text = doc.dump() + "\n";
    filePtr file = openFileOrFail(path, "w");
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || std::fclose(file.release()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

// Assesses the recordings at the given positions on `threads` threads.
void assessRecordings(const recogResources& resources, const std::vector<listEntry>& entries,
                      const std::vector<size_t>& todo, int32_t threads, std::vector<measuredUtterance>& measured,
                      std::vector<char>& ok, std::vector<std::string>& failures) {
    privateTempDir temp;
    std::atomic<size_t> next{0}, done{0};
    std::mutex failureLock;
    const conditionOptions conditioning = conditionOptionsOf(resources.param);
    auto work = [&]() {
        scopedOutputSilence silence;
        scopedErrorLogOff noLog;
        for (;;) {
            const size_t k = next.fetch_add(1);
            if (k >= todo.size()) break;
            const size_t i = todo[k];
            const listEntry& e = entries[i];
            std::string converted;
            try {
                std::string path = e.wave;
                if (!readableByExtension(path)) {
                    converted = temp.path() + "/" + std::to_string(i) + ".wav";
                    convertWithSox(path, converted);
                    path = converted;
                }
                conditionReport report;
                audioRecord audio = readConditionedWave(path, conditioning, report);
                if (!converted.empty()) std::remove(converted.c_str());
                converted.clear();
                utteranceSettings settings;
                settings.ownTexts = true;
                settings.literalTexts = true;
                settings.txtFile = e.text;
                settings.wavFile = e.wave;
                settings.function = "assess";
                settings.writeMissingWordFile = false;
                settings.spectrallySubtracted = report.spectrallySubtracted;
                settings.measurements = true;
                cmResult result = runUtterance(resources, audio, settings);
                measured[i] = measuredUtteranceOf(result);
                measured[i].id = e.id;
                measured[i].speaker = e.speaker;
                ok[i] = true;
            } catch (const recogError& error) {
                if (!converted.empty()) std::remove(converted.c_str());
                std::lock_guard<std::mutex> lock(failureLock);
                failures.push_back(e.id + ": " + error.what());
            }
            ++done;
        }
    };
    std::vector<std::thread> pool;
    for (int32_t t = 1; t < threads; ++t) pool.emplace_back(work);
    // The calling thread works too, and reports progress between recordings.
    std::thread reporter([&]() {
        int64_t last = clockMs();
        while (done.load() < todo.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (clockMs() - last >= 10000) {
                last = clockMs();
                std::fprintf(stderr, "calibrate: assessed %zu of %zu recordings\n", done.load(), todo.size());
            }
        }
    });
    work();
    for (std::thread& t : pool) t.join();
    reporter.join();
}

void printLevel(int32_t level, const levelFitReport& r) {
    sinkPrintf("%-17s %6zu %8.3f %8.3f   %s (lambda %g", calibrationLevelName(level), r.units, r.enginePearson,
               r.pearson, r.chosen.family.c_str(), r.chosen.lambda);
    if (level == LEVEL_PHONE) sinkPrintf(", offsets %g", r.chosen.offsetLambda);
    sinkPrintf(")\n");
}

}  // namespace

int toolCalibrate(const std::vector<std::string>& args) {
    int32_t threads = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    int32_t idPrefix = 0;
    std::string cachePath;
    calibrationFitOptions options;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-j" && hasValue && parseCount(args[i + 1], threads, 1, 256)) {
            ++i;
        } else if (a == "-k" && hasValue && parseCount(args[i + 1], options.folds, 2, 16)) {
            ++i;
        } else if (a == "-s" && hasValue && parseCount(args[i + 1], idPrefix, 1, 1000)) {
            ++i;
        } else if (a == "-m" && hasValue) {
            cachePath = args[++i];
        } else if (a == "--help" || a == "-h") {
            sinkPrintf("%s", USAGE);
            return 0;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            return usageError("Unknown, incomplete or malformed option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 4) return usageError("");
    const std::string& paramPath = positional[0];
    const std::string& listPath = positional[1];
    const std::string& scoresPath = positional[2];
    const std::string& outPath = positional[3];
    if (cachePath.empty()) cachePath = outPath + ".measurements.json";

    int64_t start = clockMs();
    recogParam param;
    readRecogParam(paramPath, param);
    // A calibration in force would change nothing measured, but the one being
    // fitted must not depend on an earlier one being readable.
    param.calibrationFile.clear();
    param.function = "assess";
    recogResources resources;
    resourceOptions loading;
    loading.buildNet = false;
    {
        scopedOutputSilence silence;
        loadResources(param, loading, resources);
    }
    const calibrationTarget target = calibrationTargetOf(resources.models, param);
    std::vector<listEntry> entries = readScoredList(listPath, idPrefix);
    std::map<std::string, humanUtterance> human = readHumanScores(scoresPath);
    sinkPrintf("%4.3f sec: Read %s (%d models), %zu recordings of %s, scores of %zu recordings\n",
               elapsedSeconds(start), param.macFile.c_str(), resources.models.modelNum, entries.size(),
               listPath.c_str(), human.size());

    const json header = {{"modelDigest", target.modelDigest},
                         {"features", target.featureSettings},
                         {"measures", target.measureSettings},
                         {"parameters", bytesDigest(readFileBytes(paramPath))}};
    std::map<std::string, measuredUtterance> cache = readCache(cachePath, header);
    std::vector<measuredUtterance> measured(entries.size());
    // One byte per recording: workers set their own entries concurrently.
    std::vector<char> ok(entries.size(), 0);
    std::vector<size_t> todo;
    for (size_t i = 0; i < entries.size(); ++i) {
        auto it = cache.find(cacheKey(entries[i]));
        if (it != cache.end()) {
            measured[i] = it->second;
            measured[i].speaker = entries[i].speaker;
            ok[i] = true;
        } else {
            todo.push_back(i);
        }
    }
    std::vector<std::string> failures;
    if (!todo.empty()) {
        int64_t assessStart = clockMs();
        assessRecordings(resources, entries, todo, threads, measured, ok, failures);
        sinkPrintf("%4.3f sec: Assessed %zu recordings on %d threads (%zu from %s)\n", elapsedSeconds(assessStart),
                   todo.size(), threads, entries.size() - todo.size(), cachePath.c_str());
        writeCache(cachePath, header, entries, measured, ok);
        sinkPrintf("\t===> Saved %s\n", cachePath.c_str());
    } else {
        sinkPrintf("\tAll %zu recordings measured in %s\n", entries.size(), cachePath.c_str());
    }
    if (!failures.empty()) {
        sinkPrintf("\t%zu recordings could not be assessed and are left out, e.g.:\n", failures.size());
        for (size_t k = 0; k < failures.size() && k < 3; ++k) sinkPrintf("\t  %s\n", failures[k].c_str());
    }

    std::vector<calibrationSample> samples;
    size_t unscored = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!ok[i]) continue;
        auto it = human.find(entries[i].id);
        if (it == human.end()) {
            ++unscored;
            continue;
        }
        samples.push_back({measured[i], it->second});
    }
    if (unscored > 0) sinkPrintf("\t%zu assessed recordings have no human scores and are left out\n", unscored);

    calibrationClass calibration;
    calibration.target = target;
    calibrationFitReport report = fitCalibration(samples, options, calibration);
    sinkPrintf("%4.3f sec: Fitted %d levels on %zu recordings of %zu speakers\n", report.seconds, LEVEL_NUM,
               report.recordings, report.speakers);
    sinkPrintf("Pearson correlation with the human scores, cross-validated over %d speaker folds:\n", report.folds);
    sinkPrintf("%-17s %6s %8s %8s   %s\n", "level", "units", "engine", "fitted", "mapping");
    for (int32_t level = 0; level < LEVEL_NUM; ++level) printLevel(level, report.levels[level]);
    const levelFitReport& phones = report.levels[LEVEL_PHONE];
    sinkPrintf("Phone class 0/1/2 (rounded) accuracy: engine %.3f (score / 50), fitted %.3f, most frequent class %.3f\n",
               phones.engineClassAccuracy, phones.classAccuracy, phones.majorityClassAccuracy);
    sinkPrintf("Best of each mapping family:\n");
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        sinkPrintf("  %-17s", calibrationLevelName(level));
        for (const familyScore& f : report.levels[level].best) sinkPrintf(" %s %.3f", f.family.c_str(), f.pearson);
        sinkPrintf("\n");
    }
    calibration.save(outPath);
    sinkPrintf("\t===> Saved %s\n", outPath.c_str());
    return 0;
}
