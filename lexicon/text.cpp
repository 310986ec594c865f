#include "lexicon/text.h"

#include <algorithm>
#include <cstdio>

#include "run/recogParam.h"
#include "run/utility.h"
#include "run/outputSink.h"

static const char* const UNIT = "text";

void textClass::textsRead(const std::string& txtFile, bool literal) {
    m_txtVs.clear();
    if (!literal && fileExists(txtFile)) {
        m_txtVs = readLines(txtFile, 0);
    } else {
        if (txtFile.empty())
            reportError(formatString("Error: The given recognizable texts (represented as a string delimited by #) "
                                     "has a length of zero. (line %d of %s)",
                                     __LINE__, UNIT));
        splitString(txtFile, '#', m_txtVs);
    }
    if (m_txtVs.empty())
        reportError(formatString("Error: m_txtVs.size()=0 when reading \"%s\". (line %d of %s)", txtFile.c_str(),
                                 __LINE__, UNIT));
}

void textClass::textNormMapRead(const std::string& path, char separator, std::vector<textNormRule>& target) {
    target.clear();
    if (path.empty()) return;
    for (const std::string& line : readLines(path, '%')) {
        std::vector<std::string> fields = splitString(line, separator);
        if (fields.size() < 3)
            reportError(formatString("Error: Parsing error in \"%s\". (line %d of file %s)", path.c_str(), __LINE__,
                                     UNIT));
        textNormRule rule{fields[0], fields[1], fields[2]};
        // Stripping "while the end equals the pattern's first character" needs a character.
        char op = rule.operation.empty() ? '\0' : rule.operation[0];
        if ((op == '$' || op == '^') && rule.pattern.empty())
            reportError(formatString("Error: The rule \"%s\" in \"%s\" has an empty pattern for operation \"%c\". "
                                     "(line %d of file %s)",
                                     line.c_str(), path.c_str(), op, __LINE__, UNIT));
        target.push_back(std::move(rule));
    }
}

void textClass::textsNormalize(const recogParam& param) {
    m_txtVsNormalized.clear();
    for (const std::string& text : m_txtVs) {
        std::string normalized = text.substr(0, text.find('\t'));
        normalizeText(normalized, param);
        m_txtVsNormalized.push_back(std::move(normalized));
    }
}

void textClass::normalizeText(std::string& text, const recogParam& param) const {
    if (param.language == "english") text = toLowerAscii(text);
    for (const textNormRule& rule : m_textNormSp) {
        if (rule.operation.empty()) continue;
        switch (rule.operation[0]) {
            case '$':
                if (rule.pattern.empty()) break;
                while (!text.empty() && text.back() == rule.pattern[0]) text.pop_back();
                break;
            case '^': {
                if (rule.pattern.empty()) break;
                size_t n = 0;
                while (n < text.size() && text[n] == rule.pattern[0]) ++n;
                text.erase(0, n);
                break;
            }
            case 'g': {
                if (rule.pattern.empty()) break;  // an empty pattern changes nothing
                // The length after the replacement, checked before it is built.
                size_t count = 0;
                for (size_t pos = text.find(rule.pattern); pos != std::string::npos;
                     pos = text.find(rule.pattern, pos + rule.pattern.size()))
                    ++count;
                if (rule.replacement.size() > rule.pattern.size() &&
                    count > (MAX_NORMALIZED_TEXT_LEN - std::min(text.size(), MAX_NORMALIZED_TEXT_LEN)) /
                                (rule.replacement.size() - rule.pattern.size()))
                    reportError(formatString("Error: The rule \"%s#%s#%s\" makes a normalized text longer than %d "
                                             "bytes. (line %d of file %s)",
                                             rule.pattern.c_str(), rule.replacement.c_str(), rule.operation.c_str(),
                                             static_cast<int>(MAX_NORMALIZED_TEXT_LEN), __LINE__, UNIT));
                text = replaceAll(text, rule.pattern, rule.replacement);
                break;
            }
            default:
                break;
        }
    }
}

void textClass::splitWords(const std::string& text, const std::string& language, std::vector<std::string>& out) {
    if (language == "chinese") {
        for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(text.substr(i, 2));
    } else if (language == "japanese") {
        out.insert(out.end(), text.size(), "X");
    } else if (language == "english") {
        splitString(text, ' ', out, true);
    }
}

void textClass::sylFileRead(const std::string& path) { m_sylVs = readLines(path, 0); }

void textClass::japaneseSyllableRules(const recogParam& param) {
    if (param.language != "japanese") return;
    static const char* const rules[][2] = {
        {"_n-", "-n-"},       {"-tsu(ts)", "-tsu"}, {"-su(s)", "-su"}, {"-ts_", "-tsu-"}, {"e_i-", "e-"},
        {"o_u-", "o-"},       {"a_a-", "a-"},       {"i_i-", "i-"},    {"u_u-", "u-"},    {"e_e_e-", "e-"},
        {"e_e-", "e-"},       {"o_o-", "o-"},       {"yu_yu-", "yu-"}, {"u_i-", "u-"},    {"a_u-", "a-"},
        {"-s_u", "-su"},      {"-ts_u", "-tsu"},    {"-#-#-#-", "-sil-"}, {"-#-#-", "-sil-"}, {"-#-", "-sil-"},
    };
    for (std::string& entry : m_sylVs) {
        std::vector<std::string> fields = splitString(entry, '\t');
        bool hasIndex = fields.size() == 2;
        std::string s = toLowerAscii(hasIndex ? fields[0] : entry);
        if (s.size() > 3 && s.compare(0, 4, "sil-") == 0) s.erase(0, 4);
        if (s.size() > 3 && s.compare(s.size() - 4, 4, "-sil") == 0) s.erase(s.size() - 4);
        s = "-" + s + "-";
        for (const auto& rule : rules) s = replaceAll(s, rule[0], rule[1]);
        s = s.substr(1, s.size() - 2);
        if (hasIndex) s += "\t" + fields[1];
        entry = std::move(s);
    }
    if (!param.outputDir.empty()) {
        std::string path = formatString("%s/output.syl", param.outputDir.c_str());
        writeLines(path, m_sylVs);
        sinkPrintf("\t===> Saved %s for Japanese!\n", path.c_str());
    }
}

// Refuses a listing of more than MAX_LISTING_NUM sequences before building it.
static void checkListingSize(const std::vector<std::vector<std::string>>& alternatives, size_t textIndex,
                             const std::string& text) {
    for (const auto& list : alternatives)
        if (list.empty()) return;  // no sequence at all
    uint64_t count = 1;
    for (const auto& list : alternatives) {
        count *= list.size();
        if (count > MAX_LISTING_NUM) {
            // Report the full product, saturated so that it cannot wrap.
            double total = 1;
            for (const auto& l : alternatives) total *= static_cast<double>(l.size());
            reportError(formatString("Error: Text %d \"%s\" would be listed as %.0f phonetic alphabet sequences, "
                                     "more than %llu. (line %d of %s)",
                                     static_cast<int>(textIndex), text.c_str(), total,
                                     static_cast<unsigned long long>(MAX_LISTING_NUM), __LINE__, UNIT));
        }
    }
}

void textClass::chineseListing(const std::vector<wpaEntry>& wpa, const std::vector<std::vector<std::string>>&,
                               const std::string&) {
    m_sylVs.clear();
    m_sylVsNotation.clear();
    for (size_t i = 0; i < m_txtVsNormalized.size(); ++i) {
        const std::string& text = m_txtVsNormalized[i];
        std::vector<std::vector<std::string>> syllables, tones;
        for (size_t c = 0; c + 1 < text.size(); c += 2) {
            std::string character = text.substr(c, 2);
            int32_t index = wpaListFind(wpa, character);
            if (index < 0 || wpa[index].pa.empty()) {
                // The character adds nothing; the others are still listed.
                sinkPrintf("Warning: Found no syllable for \"%s\"!\n", character.c_str());
                continue;
            }
            const wpaEntry& entry = wpa[index];
            std::vector<std::string> pas = entry.pa;
            std::sort(pas.begin(), pas.end());
            pas.erase(std::unique(pas.begin(), pas.end()), pas.end());
            std::vector<std::string> paTones;
            for (const std::string& pa : pas) {
                size_t first = std::find(entry.pa.begin(), entry.pa.end(), pa) - entry.pa.begin();
                paTones.push_back(first < entry.paNotation.size() ? entry.paNotation[first] : std::string());
            }
            syllables.push_back(std::move(pas));
            tones.push_back(std::move(paTones));
        }
        checkListingSize(syllables, i, text);
        std::vector<std::string> sequences = expandCombinations(syllables);
        std::vector<std::string> toneSequences = expandCombinations(tones);
        for (size_t k = 0; k < sequences.size(); ++k) {
            m_sylVs.push_back(sequences[k] + formatString("\t%d", static_cast<int>(i)));
            m_sylVsNotation.push_back(toneSequences[k]);
        }
    }
}

void textClass::englishListing(const std::vector<wpaEntry>& wpa) {
    if (wpa.empty()) reportError(formatString("Error: wpa.size()==0 at line %d of file %s!", __LINE__, UNIT));
    m_sylVs.clear();
    for (size_t i = 0; i < m_txtVsNormalized.size(); ++i) {
        const std::string& text = m_txtVsNormalized[i];
        std::vector<std::vector<std::string>> alternatives;
        for (const std::string& word : splitString(text, ' ')) {
            int32_t index = wpaListFind(wpa, word);
            // An entry without any PA would silently drop the whole text from the listing.
            if (index < 0 || wpa[index].pa.empty())
                reportError(formatString("Error: Found no pronunciation entry for \"%s\". Please add the "
                                         "pronunciation to wpaAddendaFile. (line %d of file %s)",
                                         word.c_str(), __LINE__, UNIT));
            alternatives.push_back(wpa[index].pa);
        }
        checkListingSize(alternatives, i, text);
        for (const std::string& sequence : expandCombinations(alternatives))
            m_sylVs.push_back(sequence + formatString("\t%d", static_cast<int>(i)));
    }
}

void textClass::addBetweenSyllables(const std::string& separator) {
    sinkPrintf("\tAdding %s between syllables...\n", separator.c_str());
    for (std::string& entry : m_sylVs) entry = replaceAll(entry, "-", separator);
}
