#include "lexicon/dict.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "decoder/macro.h"
#include "lexicon/text.h"
#include "lib/byteReader.h"
#include "run/utility.h"
#include "run/outputSink.h"

static const char* const UNIT = "dict";

// Binary search over entries [0, size) of a list sorted by word.
template <typename Entry>
static int32_t binarySearchWord(const std::vector<Entry>& list, size_t size, const std::string& word) {
    int64_t low = 0, high = static_cast<int64_t>(size) - 1;
    while (low <= high) {
        int64_t middle = (low + high) / 2;
        int c = word.compare(list[middle].word);
        if (c == 0) return static_cast<int32_t>(middle);
        if (c < 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return -1;
}

int32_t wpaListFind(const std::vector<wpaEntry>& list, const std::string& word) {
    return binarySearchWord(list, list.size(), word);
}

int32_t dictClass::pronDictFind(const std::string& word) const {
    return binarySearchWord(m_pronDict, m_pronDict.size(), word);
}

int32_t dictClass::wpaFind(const std::string& word) const { return wpaListFind(m_wpa, word); }

// Splits file bytes into lines; the line feed (and a CR before it) is removed.
static std::vector<std::string> splitTextLines(const std::string& data) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        size_t next = end == std::string::npos ? data.size() : end + 1;
        if (end == std::string::npos) end = data.size();
        size_t stop = end;
        if (end < data.size() && stop > start && data[stop - 1] == '\r') --stop;
        lines.push_back(data.substr(start, stop - start));
        start = next;
    }
    return lines;
}

static bool isWhite(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void dictClass::pronDictRead(const std::string& path, const macroClass& models) {
    if (models.modelNum <= 1)
        reportError(formatString("Error in dictClass::pronDictRead when reading %s: Macro is too small (line %d in of %s)",
                                 path.c_str(), __LINE__, UNIT));
    filePtr f(path.empty() ? nullptr : std::fopen(path.c_str(), "rb"));
    if (!f) reportError(formatString("Unable to open %s (line %d in %s)", path.c_str(), __LINE__, UNIT));
    std::string data = readAllBytes(f.get());
    f.reset();

    m_pronDict.clear();
    std::vector<std::string> lines = splitTextLines(data);
    for (size_t lineNo = 0; lineNo < lines.size(); ++lineNo) {
        const std::string& line = lines[lineNo];
        if (!line.empty() && line[0] == '%') continue;
        // The word is the first run of non-white bytes; the pronunciation is the
        // rest of the line after the white space that follows it.
        size_t p = 0;
        while (p < line.size() && isWhite(line[p])) ++p;
        size_t wordBegin = p;
        while (p < line.size() && !isWhite(line[p])) ++p;
        std::string word = line.substr(wordBegin, p - wordBegin);
        while (p < line.size() && isWhite(line[p])) ++p;
        std::string pron = line.substr(p);
        while (!pron.empty() && (pron.back() == '\t' || pron.back() == '\n' || pron.back() == '\r' || pron.back() == ' '))
            pron.pop_back();
        if (word.empty() || pron.empty()) continue;
        if (word.size() > MAX_PAM_FIELD_LEN || pron.size() > MAX_PAM_FIELD_LEN)
            reportError(formatString("Error in dictClass::pronDictRead when reading %s: line %d is longer than %d "
                                     "bytes per field (line %d in %s)",
                                     path.c_str(), static_cast<int>(lineNo + 1), static_cast<int>(MAX_PAM_FIELD_LEN),
                                     __LINE__, UNIT));
        pronEntry entry;
        entry.word = word;
        for (const std::string& name : splitString(pron, ' ')) entry.modelIndices.push_back(models.findModelIndex(name));
        m_pronDict.push_back(std::move(entry));
    }
}

void dictClass::pinyinTableRead(const std::string& path) { m_pinyinTable = readTsvFile(path); }

void dictClass::wpaRead(const std::string& pathOrText, const std::string& language) {
    if (!fileExists(pathOrText)) {
        sinkPrintf("Read WPA from the given string (line %d in %s)...\n", __LINE__, UNIT);
        wpaReadString(pathOrText, language, m_wpa);
        return;
    }
    std::string extension = fileExtension(pathOrText);
    if (extension == "wpab" || extension == "WPAB")
        wpabRead(pathOrText);
    else if (extension == "wpa" || extension == "WPA")
        wpaReadText(pathOrText, language, m_wpa);
    else
        reportError(formatString("Error in reading \"%s\": The only allowed extension are \"wpa\" and \"wpab\" "
                                 "(line %d of %s) \n",
                                 pathOrText.c_str(), __LINE__, UNIT));
}

// The two diagnostic lines printed before a wpa format error.
static void printFormatDiagnostics(const std::string& line, size_t fieldCount, int sourceLine) {
    sinkPrintf("line=%s (line=%d, file=%s)\n", line.c_str(), sourceLine, UNIT);
    sinkPrintf("token1.size()=%d (line=%d, file=%s)\n", static_cast<int>(fieldCount), sourceLine, UNIT);
}

void dictClass::wpaReadText(const std::string& path, const std::string& language, std::vector<wpaEntry>& target) {
    target.clear();
    if (path.empty()) return;
    if (language != "english" && language != "chinese") {
        openFileOrFail(path, "r");  // an unreadable file is still reported; no line is read
        return;
    }
    std::string data = readFileBytes(path);

    for (const std::string& line : splitTextLines(data)) {
        if (line.empty() || line[0] == '%') continue;
        std::vector<std::string> fields = splitString(line, '\t');
        wpaEntry entry;
        if (language == "english") {
            if (fields.size() != 2) {
                printFormatDiagnostics(line, fields.size(), __LINE__);
                reportError(formatString("Wrong format of %s (line %d in %s)", path.c_str(), __LINE__, UNIT));
            }
            entry.word = fields[0];
            splitString(fields[1], '#', entry.pa);
        } else {
            if (fields.size() != 5) {
                printFormatDiagnostics(line, fields.size(), __LINE__);
                reportError(formatString("Wrong format of %s (line %d in %s)", path.c_str(), __LINE__, UNIT));
            }
            entry.word = fields[0];
            for (const std::string& number : splitString(fields[1], ',')) {
                int32_t row = atoiLike(number);
                if (row < 1 || static_cast<size_t>(row) > m_pinyinTable.size())
                    reportError(formatString("Error in reading \"%s\": row \"%s\" of the entry \"%s\" is outside the "
                                             "pinyin table of %d rows (line %d in %s)",
                                             path.c_str(), number.c_str(), entry.word.c_str(),
                                             static_cast<int>(m_pinyinTable.size()), __LINE__, UNIT));
                const std::vector<std::string>& tableRow = m_pinyinTable[row - 1];
                if (tableRow.size() < 4)
                    reportError(formatString("Error in reading \"%s\": pinyin table row %d used by the entry \"%s\" "
                                             "has %d fields, fewer than 4 (line %d in %s)",
                                             path.c_str(), static_cast<int>(row), entry.word.c_str(),
                                             static_cast<int>(tableRow.size()), __LINE__, UNIT));
                entry.pa.push_back(tableRow[3]);
            }
            splitString(fields[3], ',', entry.paNotation);
        }
        target.push_back(std::move(entry));
    }
}

void dictClass::wpaReadString(const std::string& text, const std::string& language, std::vector<wpaEntry>& target) {
    target.clear();
    if (text.empty()) return;
    if (language != "english")
        reportError(formatString("Unsupported language %s (line %d in %s)", language.c_str(), __LINE__, UNIT));
    for (const std::string& line : splitString(text, '@')) {
        if (line.empty() || line[0] == '%') continue;
        std::vector<std::string> fields = splitString(line, ' ');
        if (fields.size() != 2) {
            printFormatDiagnostics(line, fields.size(), __LINE__);
            reportError(formatString("Wrong format of %s (line %d in %s)", line.c_str(), __LINE__, UNIT));
        }
        wpaEntry entry;
        entry.word = fields[0];
        splitString(fields[1], '#', entry.pa);
        target.push_back(std::move(entry));
    }
}

// Reads the little-endian fields of a .wpab file, refusing anything that runs
// past the end of the bytes read.
class wpabCursorClass {
public:
    wpabCursorClass(const std::string& data, const std::string& path)
        : m_in(data, [this](size_t, size_t) { truncated(); }), m_path(path) {}
    wpabCursorClass(const wpabCursorClass&) = delete;
    wpabCursorClass& operator=(const wpabCursorClass&) = delete;

    int32_t readInt(const char* what, int32_t entry) {
        m_what = what;
        m_entry = entry;
        return m_in.i32();
    }
    std::string readString(int32_t length, const char* what, int32_t entry) {
        m_what = what;
        m_entry = entry;
        return std::string(m_in.take(static_cast<size_t>(length)));
    }
    size_t remaining() const { return m_in.left(); }

private:
    [[noreturn]] void truncated() const {
        reportError(formatString("Error in reading \"%s\": the file ends inside the %s of entry %d (line %d in %s)",
                                 m_path.c_str(), m_what, static_cast<int>(m_entry), __LINE__, UNIT));
    }
    byteReaderClass m_in;
    const std::string& m_path;
    const char* m_what = "";
    int32_t m_entry = 0;
};

void dictClass::wpabRead(const std::string& path) {
    m_wpa.clear();
    std::string data = readFileBytes(path);
    wpabCursorClass in(data, path);
    int32_t entryCount = in.readInt("entry count", 0);
    // Every entry holds at least its word length and PA count.
    if (entryCount < 0 || static_cast<uint64_t>(entryCount) * 8 > in.remaining())
        reportError(formatString("Error in reading \"%s\": entry count %d does not fit a file of %d bytes (line %d in %s)",
                                 path.c_str(), static_cast<int>(entryCount), static_cast<int>(data.size()), __LINE__,
                                 UNIT));
    m_wpa.reserve(static_cast<size_t>(entryCount));
    for (int32_t e = 0; e < entryCount; ++e) {
        wpaEntry entry;
        int32_t wordLength = in.readInt("word length", e);
        if (wordLength < 0 || wordLength > MAX_WPAB_WORD_LEN)
            reportError(formatString("Error in reading \"%s\": entry %d has a word length of %d, outside 0 to %d "
                                     "(line %d in %s)",
                                     path.c_str(), static_cast<int>(e), static_cast<int>(wordLength),
                                     static_cast<int>(MAX_WPAB_WORD_LEN), __LINE__, UNIT));
        entry.word = in.readString(wordLength, "word", e);
        int32_t paCount = in.readInt("PA count", e);
        if (paCount < 0 || static_cast<uint64_t>(paCount) * 4 > in.remaining())
            reportError(formatString("Error in reading \"%s\": entry %d (\"%s\") has a PA count of %d that does not "
                                     "fit the file (line %d in %s)",
                                     path.c_str(), static_cast<int>(e), entry.word.c_str(), static_cast<int>(paCount),
                                     __LINE__, UNIT));
        entry.pa.reserve(static_cast<size_t>(paCount));
        for (int32_t k = 0; k < paCount; ++k) {
            int32_t paLength = in.readInt("PA length", e);
            if (paLength < 0 || paLength > MAX_WPAB_PA_LEN)
                reportError(formatString("Error in reading \"%s\": PA %d of entry %d (\"%s\") has a length of %d, "
                                         "outside 0 to %d (line %d in %s)",
                                         path.c_str(), static_cast<int>(k), static_cast<int>(e), entry.word.c_str(),
                                         static_cast<int>(paLength), static_cast<int>(MAX_WPAB_PA_LEN), __LINE__, UNIT));
            entry.pa.push_back(in.readString(paLength, "PA", e));
        }
        m_wpa.push_back(std::move(entry));
    }
}

void dictClass::wpaMerge() {
    // Words already in the table are found by binary search over its sorted
    // part; words appended by this merge are remembered so that a later addenda
    // entry for the same word replaces the appended one instead of adding twice.
    const size_t sortedSize = m_wpa.size();
    std::unordered_map<std::string, size_t> appended;
    for (const wpaEntry& addendum : m_wpaAddenda) {
        int64_t index = binarySearchWord(m_wpa, sortedSize, addendum.word);
        if (index < 0) {
            auto it = appended.find(addendum.word);
            if (it != appended.end()) index = static_cast<int64_t>(it->second);
        }
        if (index < 0) {
            appended[addendum.word] = m_wpa.size();
            m_wpa.push_back(addendum);
            continue;
        }
        wpaEntry& stored = m_wpa[static_cast<size_t>(index)];
        sinkPrintf("\tOld entry: word=%s, pa=%s\n", stored.word.c_str(), joinStrings(stored.pa, "#").c_str());
        sinkPrintf("\tNew entry: word=%s, pa=%s\n", addendum.word.c_str(), joinStrings(addendum.pa, "#").c_str());
        stored.word = addendum.word;
        stored.pa = addendum.pa;
        stored.paNotation = addendum.paNotation;
    }
    m_wpaAddenda.clear();
}

void dictClass::wpaSort() {
    for (size_t i = 1; i < m_wpa.size(); ++i) {
        size_t j = static_cast<size_t>(std::rand()) % (i + 1);
        if (j != i) std::swap(m_wpa[i], m_wpa[j]);
    }
    std::sort(m_wpa.begin(), m_wpa.end(), [](const wpaEntry& a, const wpaEntry& b) { return a.word < b.word; });
}

void dictClass::pronDictFromTexts(const std::vector<std::string>& texts, const macroClass& models) {
    m_pronDict = pronEntriesForTexts(texts, models, true);
}

std::vector<pronEntry> dictClass::pronEntriesForTexts(const std::vector<std::string>& texts, const macroClass& models,
                                                      bool writeMissingWordFile) const {
    std::vector<pronEntry> entries;
    std::vector<std::string> pas;
    for (const std::string& fullText : texts) {
        std::string text = fullText.substr(0, fullText.find('\t'));
        std::vector<std::string> missing;
        for (const std::string& word : splitString(text, ' ')) {
            int32_t index = wpaFind(word);
            if (index < 0) {
                sinkPrintf("Error: Found no pronunciation entry for \"%s\". (line %d of file %s)\n", word.c_str(),
                            __LINE__, "text");
                missing.push_back(word);
                continue;
            }
            const std::vector<std::string>& entryPas = m_wpa[index].pa;
            pas.insert(pas.end(), entryPas.begin(), entryPas.end());
        }
        if (!missing.empty()) {
            std::sort(missing.begin(), missing.end());
            missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
            if (!writeMissingWordFile)
                reportError(formatString("Error: %d words (%s) cannot be found in the pronunciation dictionary! "
                                         "Please add the pronunciation to wpaAddendaFile. (line %d of file %s)",
                                         static_cast<int>(missing.size()), joinStrings(missing, " ").c_str(),
                                         __LINE__, "text"));
            writeLines("missingWord.txt", missing);
            reportError(formatString("Error: %d words (recorded at \"missingWord.txt\") cannot be found in the "
                                     "pronunciation dictionary! Please add the pronunciation to wpaAddendaFile. "
                                     "(line %d of file %s)",
                                     static_cast<int>(missing.size()), __LINE__, "text"));
        }
    }
    pas.push_back("sil");
    pas.push_back("sp");
    std::sort(pas.begin(), pas.end());
    pas.erase(std::unique(pas.begin(), pas.end()), pas.end());

    for (const std::string& pa : pas) {
        pronEntry entry;
        entry.word = pa;
        std::vector<std::string> phones = splitString(pa, '_');
        for (size_t i = 0; i < phones.size(); ++i) {
            std::string name;
            if (phones[i] == "sil" || phones[i] == "sp")
                name = phones[i];
            else
                name = phones[i] + "+" + (i + 1 < phones.size() ? phones[i + 1] : std::string("sil"));
            entry.modelIndices.push_back(models.findModelIndex(name));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

void dictClass::pronDictWrite(const std::string& path, const macroClass& models) const {
    std::vector<std::string> names;
    models.getModelNames(names);
    filePtr f = openFileOrFail(path, "w");
    for (const pronEntry& entry : m_pronDict) {
        std::string line = entry.word + "\t";
        for (size_t i = 0; i < entry.modelIndices.size(); ++i) {
            int32_t index = entry.modelIndices[i];
            if (i) line += " ";
            line += index >= 0 && static_cast<size_t>(index) < names.size() ? names[index] : std::string("???");
        }
        line += "\n";
        std::fwrite(line.data(), 1, line.size(), f.get());
    }
}

void dictClass::wpaWriteForTexts(const std::string& path, const textClass& text, const std::string& language) const {
    std::vector<std::string> words;
    for (const std::string& normalized : text.m_txtVsNormalized) textClass::splitWords(normalized, language, words);
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());

    std::vector<int32_t> indices;
    for (const std::string& word : words) {
        int32_t index = wpaFind(word);
        if (index < 0) {
            sinkPrintf("Warning: Found no PA for \"%s\" in %s! (line %d in %s)\n", word.c_str(), path.c_str(),
                        __LINE__, UNIT);
            continue;
        }
        indices.push_back(index);
    }
    std::sort(indices.begin(), indices.end());
    std::vector<std::string> lines;
    for (int32_t index : indices) lines.push_back(m_wpa[index].word + "\t" + joinStrings(m_wpa[index].pa, "#"));
    writeLines(path, lines);
}
