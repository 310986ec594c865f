#include "tools/bulk.h"

#include "decoder/xmlWriter.h"
#include "run/conditionWave.h"
#include "run/outputSink.h"
#include "run/recogParam.h"
#include "run/resources.h"
#include "run/resultJson.h"
#include "run/utility.h"
#include "run/utteranceRun.h"
#include "service/uploadCheck.h"
#include "tools/toolArgs.h"
#include "tools/tools.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

using nlohmann::json;

namespace {

const char* const UNIT = "bulk";

const char* const USAGE =
    "Usage: recognize-tool bulk [-j N] [--resume] [--shard K/N] [--xml-dir DIR] [--quiet]\n"
    "                           recogParamFile listFile resultsFile\n"
    "  listFile      one recording a line: id<TAB>wave[<TAB>text]; \"%\" lines are comments.\n"
    "                With a text the line is assessed against it (function=assess) or\n"
    "                recognized among its \"#\"-separated candidates (function=recog);\n"
    "                without one it uses the net of the parameter file's texts.\n"
    "  resultsFile   JSON Lines, one object per recording, appended as they finish.\n"
    "  -j N          worker threads (default: one per core)\n"
    "  --resume      skip ids that already have an \"ok\" line; retry the others\n"
    "  --shard K/N   take only list positions p with p mod N = K-1\n"
    "  --xml-dir DIR also write DIR/<id>.xml\n"
    "  --quiet       no progress on standard error\n";

// The fields of a line.
std::vector<std::string> tabFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// Recordings done, failed and to do; shown on standard error.
class bulkProgress {
public:
    bulkProgress(int32_t total, bool quiet) : m_total(total), m_quiet(quiet), m_terminal(isatty(2) == 1) {
        m_start = m_shown = std::chrono::steady_clock::now();
    }
    void finished(bool ok) {
        ++m_done;
        if (!ok) ++m_failed;
    }
    // Called by one thread: in place on a terminal, else a line every few seconds.
    void show(bool final) {
        if (m_quiet) return;
        auto now = std::chrono::steady_clock::now();
        double sinceShown = std::chrono::duration<double>(now - m_shown).count();
        if (!final && sinceShown < (m_terminal ? 0.25 : 5.0)) return;
        m_shown = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const int32_t done = m_done, failed = m_failed;
        const double rate = elapsed > 0 ? done / elapsed : 0;
        std::string eta = rate > 0 ? formatString("%.0f s", (m_total - done) / rate) : std::string("-");
        std::string line = formatString("%d/%d recordings, %.1f/s, ETA %s, %d failed", done, m_total, rate,
                                        eta.c_str(), failed);
        if (m_terminal)
            std::fprintf(stderr, "\r%s\033[K%s", line.c_str(), final ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    int32_t failed() const { return m_failed; }

private:
    int32_t m_total;
    bool m_quiet, m_terminal;
    std::atomic<int32_t> m_done{0}, m_failed{0};
    std::chrono::steady_clock::time_point m_start, m_shown;
};

// The results file: whole lines, appended under a lock and flushed one by one.
class resultsWriter {
public:
    explicit resultsWriter(const std::string& path) : m_path(path), m_file(openFileOrFail(path, "a")) {}
    void append(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string whole = line + "\n";
        if (std::fwrite(whole.data(), 1, whole.size(), m_file.get()) != whole.size() || std::fflush(m_file.get()) != 0)
            reportError(formatString("Error: cannot append to %s (line %d of %s)", m_path.c_str(), __LINE__, UNIT));
    }

private:
    std::string m_path;
    filePtr m_file;
    std::mutex m_mutex;
};

// Everything one bulk run shares between its workers; only read by them.
struct bulkRun {
    const recogResources& resources;
    const bulkOptions& options;
    conditionOptions conditioning;
};

// Assesses or recognizes one recording and returns its results line; ok
// tells whether it succeeded.
std::string processEntry(const bulkRun& run, const bulkEntry& entry, bool& ok) {
    ok = false;
    const auto start = std::chrono::steady_clock::now();
    json line;
    line["id"] = entry.id;
    line["line"] = entry.line;
    bool replaced = false;
    line["wave"] = toUtf8(entry.wave, false, replaced);
    try {
        scopedOutputCapture capture;
        // The FLV reader ends the process on a corrupt container: an FLV file
        // is walked first, and one the reader would not read through is refused.
        const std::string extension = entry.wave.size() >= 3 ? entry.wave.substr(entry.wave.size() - 3) : "";
        if (extension == "flv" || extension == "FLV") {
            double seconds = 0;
            bool unsupported = false;
            std::string problem = flvContainerProblem(readFileBytes(entry.wave), seconds, unsupported);
            if (!problem.empty())
                reportError(formatString("Error: the FLV file %s cannot be read: %s (line %d of %s)",
                                         entry.wave.c_str(), problem.c_str(), __LINE__, UNIT));
        }
        conditionReport report;
        audioRecord audio = readConditionedWave(entry.wave, run.conditioning, report);
        utteranceSettings settings = sharedNetSettings(run.resources);
        settings.wavFile = entry.wave;
        settings.outputDir.clear();
        settings.writeMissingWordFile = false;
        settings.spectrallySubtracted = report.spectrallySubtracted;
        if (entry.hasText) {
            settings.ownTexts = true;
            settings.literalTexts = true;
            settings.txtFile = entry.text;
            settings.sylFile.clear();
            settings.netFile.clear();
        }
        cmResult result;
        result.warningMessages = report.warnings;
        runUtterance(run.resources, audio, settings, result);
        resultJsonContext context = resultJsonContextOf(run.resources.param);
        context.wavePath = entry.wave;
        context.extraWarnings = warningLinesOf(capture.text());
        context.totalSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        json document = resultDocument(result, run.resources.models, context);
        if (!run.options.xmlDir.empty())
            writeXml(result, run.resources.models, run.options.xmlDir + "/" + entry.id + ".xml",
                     run.resources.param.language);
        line["status"] = "ok";
        ok = true;
        line["seconds"] = context.totalSeconds;
        line["result"] = std::move(document);
    } catch (const std::exception& e) {
        // A recording's fault (recogError) or a failure while handling it
        // (memory): the line carries the message and the run goes on.
        line["status"] = "error";
        line["error"] = toUtf8(e.what(), false, replaced);
        line["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return line.dump();
}

// Parses the command line; false after printing the usage.
bool parseArguments(const std::vector<std::string>& args, bulkOptions& options, std::vector<std::string>& files) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-j" && i + 1 < args.size()) {
            if (!parseCount(args[++i], options.jobs, 1, 1000000)) return false;
        } else if (a == "--resume") {
            options.resume = true;
        } else if (a == "--shard" && i + 1 < args.size()) {
            if (!parseShard(args[++i], options.shardIndex, options.shardCount)) return false;
        } else if (a == "--xml-dir" && i + 1 < args.size()) {
            options.xmlDir = args[++i];
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else {
            files.push_back(a);
        }
    }
    return files.size() == 3;
}

}  // namespace

std::vector<bulkEntry> readBulkList(const std::string& path) {
    std::vector<bulkEntry> entries;
    std::map<std::string, int32_t> firstLine;
    std::string bytes = readFileBytes(path);
    int32_t lineNumber = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '%') continue;
        std::vector<std::string> fields = tabFields(line);
        if (fields.size() < 2 || fields.size() > 3)
            reportError(formatString("Error: line %d of %s has %d field(s); id<TAB>wave[<TAB>text] is needed "
                                     "(line %d of %s)",
                                     lineNumber, path.c_str(), static_cast<int>(fields.size()), __LINE__, UNIT));
        bulkEntry entry;
        entry.id = fields[0];
        entry.wave = fields[1];
        entry.hasText = fields.size() == 3;
        if (entry.hasText) entry.text = fields[2];
        entry.line = lineNumber;
        if (entry.id.empty() || entry.wave.empty())
            reportError(formatString("Error: line %d of %s has an empty id or wave (line %d of %s)", lineNumber,
                                     path.c_str(), __LINE__, UNIT));
        auto inserted = firstLine.emplace(entry.id, lineNumber);
        if (!inserted.second)
            reportError(formatString("Error: id \"%s\" is used at lines %d and %d of %s (line %d of %s)",
                                     entry.id.c_str(), inserted.first->second, lineNumber, path.c_str(), __LINE__,
                                     UNIT));
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isSafeFileId(const std::string& id) {
    return !id.empty() && id != "." && id != ".." && id.find('/') == std::string::npos &&
           id.find('\0') == std::string::npos;
}

std::set<std::string> okIdsOfResults(const std::string& path) {
    std::set<std::string> ids;
    if (!fileExists(path)) return ids;
    std::string bytes = readFileBytes(path);
    size_t whole = bytes.rfind('\n');
    whole = whole == std::string::npos ? 0 : whole + 1;
    if (whole < bytes.size() && truncate(path.c_str(), static_cast<off_t>(whole)) != 0)
        reportError(formatString("Error: cannot cut the torn last line of %s (line %d of %s)", path.c_str(),
                                 __LINE__, UNIT));
    size_t start = 0;
    while (start < whole) {
        size_t end = bytes.find('\n', start);
        json line = json::parse(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                bytes.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        start = end + 1;
        if (line.is_discarded() || !line.is_object()) continue;
        if (line.value("status", "") == "ok" && line.contains("id") && line["id"].is_string())
            ids.insert(line["id"].get<std::string>());
    }
    return ids;
}

int toolBulk(const std::vector<std::string>& args) {
    bulkOptions options;
    std::vector<std::string> files;
    if (!parseArguments(args, options, files)) {
        std::fprintf(stderr, "%s", USAGE);
        return 2;
    }
    const std::string &paramPath = files[0], &listPath = files[1], &resultsPath = files[2];

    // Everything that can stop the run before its first recording: status 2.
    recogResources resources;
    std::vector<bulkEntry> todo;
    int32_t skipped = 0;
    std::unique_ptr<resultsWriter> writer;
    try {
        recogParam param;
        readRecogParam(paramPath, param);
        std::vector<bulkEntry> entries = readBulkList(listPath);
        if (!options.xmlDir.empty())
            for (const bulkEntry& e : entries)
                if (!isSafeFileId(e.id))
                    reportError(formatString("Error: id \"%s\" at line %d of %s cannot name an XML file "
                                             "(line %d of %s)",
                                             e.id.c_str(), e.line, listPath.c_str(), __LINE__, UNIT));
        bool needNet = false;
        for (size_t p = 0; p < entries.size(); ++p) {
            if (static_cast<int32_t>(p % static_cast<size_t>(options.shardCount)) != options.shardIndex - 1) continue;
            needNet = needNet || !entries[p].hasText;
            todo.push_back(entries[p]);
        }
        if (options.resume) {
            std::set<std::string> done = okIdsOfResults(resultsPath);
            size_t before = todo.size();
            todo.erase(std::remove_if(todo.begin(), todo.end(),
                                      [&](const bulkEntry& e) { return done.count(e.id) != 0; }),
                       todo.end());
            skipped = static_cast<int32_t>(before - todo.size());
        }
        resourceOptions load;
        load.buildNet = needNet && (!param.txtFile.empty() || !param.sylFile.empty() || !param.netFile.empty());
        {
            scopedOutputSilence quiet;
            loadResources(param, load, resources);
        }
        writer = std::make_unique<resultsWriter>(resultsPath);
    } catch (const recogError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }

    // A recording's errors are its results line; no error log per recording.
    configureErrorLog(false, true);
    bulkRun run{resources, options, conditionOptionsOf(resources.param)};
    const int32_t total = static_cast<int32_t>(todo.size());
    int32_t threads = options.jobs > 0 ? options.jobs : static_cast<int32_t>(std::thread::hardware_concurrency());
    threads = std::max(1, std::min(threads, std::max(total, 1)));
    if (!options.quiet && skipped > 0)
        std::fprintf(stderr, "%d recordings already have results; %d to do\n", skipped, total);

    bulkProgress progress(total, options.quiet);
    std::atomic<int32_t> next{0};
    std::atomic<int32_t> running{threads};
    std::mutex waitMutex;
    std::condition_variable wake;
    std::string writeError;
    std::mutex writeErrorMutex;
    auto work = [&] {
        scopedOutputSilence quiet;
        for (;;) {
            int32_t k = next++;
            if (k >= total) break;
            bool ok = false;
            std::string line = processEntry(run, todo[static_cast<size_t>(k)], ok);
            try {
                writer->append(line);
            } catch (const recogError& e) {
                // Nothing more can be kept: the others stop too.
                std::lock_guard<std::mutex> lock(writeErrorMutex);
                writeError = e.what();
                next = total;
            }
            progress.finished(ok);
            wake.notify_one();
        }
        --running;
        wake.notify_one();
    };
    std::vector<std::thread> pool;
    for (int32_t t = 0; t < threads; ++t) pool.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(waitMutex);
        while (running > 0) {
            wake.wait_for(lock, std::chrono::milliseconds(250));
            progress.show(false);
        }
    }
    for (std::thread& t : pool) t.join();
    progress.show(true);

    if (!writeError.empty()) {
        std::fprintf(stderr, "%s\n", writeError.c_str());
        return 1;
    }
    if (progress.failed() > 0) {
        std::fprintf(stderr, "%d of %d recordings failed: their lines in %s have \"status\":\"error\"\n",
                     progress.failed(), total, resultsPath.c_str());
        return 1;
    }
    return 0;
}
