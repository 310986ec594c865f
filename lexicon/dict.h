// The lexical tables of a run: the pronunciation dictionary (unit -> HMM model
// indices), the word-to-phonetic-alphabet table ("wpa": word -> alternative
// phonetic alphabet strings, "PA"), its addenda and the Chinese pinyin table.
// Words are byte strings compared in unsigned byte order (Big5 stays Big5).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class macroClass;
class textClass;

// Longest word and PA of a .wpab file.
constexpr int32_t MAX_WPAB_WORD_LEN = 999;
constexpr int32_t MAX_WPAB_PA_LEN = 99;
// Longest word and pronunciation of a pam line.
constexpr size_t MAX_PAM_FIELD_LEN = 999;

// One pronunciation unit and the models the decoder chains for it.
struct pronEntry {
    std::string word;                   // unit named on search-net nodes (syllable or word PA)
    std::vector<int32_t> modelIndices;  // model indices in chaining order; negative = no model
};

// One word and its alternative pronunciations.
struct wpaEntry {
    std::string word;                     // the word (English) or the two-byte character (Chinese)
    std::vector<std::string> pa;          // alternative PAs, in file order
    std::vector<std::string> paNotation;  // Chinese: tone of each PA, parallel to pa; else empty
};

// Binary search of a word in a wpa list held in ascending byte order; -1 when absent.
int32_t wpaListFind(const std::vector<wpaEntry>& list, const std::string& word);

class dictClass {
public:
    std::vector<pronEntry> m_pronDict;                  // ascending byte order of word
    std::vector<wpaEntry> m_wpa;                        // ascending byte order of word
    std::vector<wpaEntry> m_wpaAddenda;                 // emptied by wpaMerge
    std::vector<std::vector<std::string>> m_pinyinTable;  // rows of tab-separated fields

    // Replaces m_pronDict by the entries of a pam file ("word<white>model model ...").
    // Needs a model set of at least two models. Lines without a word or without a
    // pronunciation are skipped. Entries keep file order (the file must be sorted).
    void pronDictRead(const std::string& path, const macroClass& models);

    // Replaces m_pinyinTable by the rows of a tab-separated file.
    void pinyinTableRead(const std::string& path);

    // Fills m_wpa from a .wpa or .wpab file, or, when no such file exists, from
    // the argument itself as inline wpa text (lines joined by "@").
    void wpaRead(const std::string& pathOrText, const std::string& language);

    // Replaces target by the entries of a .wpa text file. English lines are
    // "word<TAB>pa#pa..."; Chinese lines hold five tab-separated fields whose second
    // lists 1-based rows of m_pinyinTable and whose fourth lists the tones.
    // An empty path leaves target empty; a wrong line is reported.
    void wpaReadText(const std::string& path, const std::string& language, std::vector<wpaEntry>& target);

    // Replaces target by inline English wpa lines "word pa#pa..." joined by "@".
    void wpaReadString(const std::string& text, const std::string& language, std::vector<wpaEntry>& target);

    // Replaces m_wpa by the entries of a little-endian .wpab file.
    void wpabRead(const std::string& path);

    // Merges m_wpaAddenda into m_wpa (an existing word gets the addenda's PAs,
    // a new word is appended), then empties m_wpaAddenda. Call wpaSort afterwards.
    void wpaMerge();

    // Shuffles m_wpa with rand(), then sorts it in ascending byte order of word.
    void wpaSort();

    // Binary searches; -1 when absent.
    int32_t pronDictFind(const std::string& word) const;
    int32_t wpaFind(const std::string& word) const;

    // English: rebuilds m_pronDict from the PAs of all words of the texts (each
    // cut at its first tab), plus "sil" and "sp", with right-context models
    // "a+b". Missing words are written to "missingWord.txt" and reported.
    void pronDictFromTexts(const std::vector<std::string>& texts, const macroClass& models);
    // The entries pronDictFromTexts makes, leaving the table unchanged. Without
    // writeMissingWordFile, missing words are named in the message instead of
    // being written to "missingWord.txt".
    std::vector<pronEntry> pronEntriesForTexts(const std::vector<std::string>& texts, const macroClass& models,
                                               bool writeMissingWordFile) const;

    // Writes m_pronDict as "word<TAB>model model ...", "???" for a missing model.
    void pronDictWrite(const std::string& path, const macroClass& models) const;

    // Writes the wpa entries of every word of the normalized texts, in table order.
    void wpaWriteForTexts(const std::string& path, const textClass& text, const std::string& language) const;
};
