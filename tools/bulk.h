// Bulk assessment: every recording of a list, each with its own text, over
// one set of resources on several threads; one JSON line per recording,
// appended as it finishes, so that an interrupted run can be resumed.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// One recording of a bulk list: "id<TAB>wave[<TAB>text]".
struct bulkEntry {
    std::string id;
    std::string wave;
    std::string text;      // "" = the shared net of the parameter file
    bool hasText = false;  // the line has a third field
    int32_t line = 0;      // line number in the list, from 1
};

// Reads a bulk list: empty lines and lines beginning with "%" are skipped; a
// line without a tab, an empty id or wave, or an id used twice (naming both
// lines) is reported.
std::vector<bulkEntry> readBulkList(const std::string& path);

// True for an id that can name a file of its own: not empty, not "." or "..",
// no "/" and no zero byte.
bool isSafeFileId(const std::string& id);

// The ids with an "ok" line in a results file. A last line without its line
// end (a line torn by an interruption) is cut off the file, so that appended
// lines start on a line of their own. A missing file holds no ids.
std::set<std::string> okIdsOfResults(const std::string& path);

// The settings of a bulk run; the defaults are those of the command line.
struct bulkOptions {
    int32_t jobs = 0;           // worker threads; 0 = the number of cores
    bool resume = false;        // skip ids that already have an "ok" line
    int32_t shardIndex = 1;     // take list positions p with p mod shardCount = shardIndex - 1
    int32_t shardCount = 1;
    std::string xmlDir;         // also write <xmlDir>/<id>.xml; "" = none
    bool quiet = false;         // no progress on standard error
};

// recognize-tool bulk: parses the arguments and runs the list. Exit status 0
// when every recording is ok, 1 when some failed, 2 when the run could not start.
int toolBulk(const std::vector<std::string>& args);
