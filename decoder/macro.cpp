#include "decoder/macro.h"

#include "lib/byteReader.h"

#include "run/utility.h"
#include "run/outputSink.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace {

const char* const UNIT = "macro";

// Size of one mixture image in a binary file: weight, mean, variance, gconst.
constexpr size_t MIXTURE_BYTES = 4 * (2 + 2 * MODEL_PARAM_NUM);
static_assert(MIXTURE_BYTES == 112, "mixture image is 112 bytes");
static_assert(sizeof(gaussMixture) == MIXTURE_BYTES, "gaussMixture has no padding");
static_assert(std::is_trivially_copyable<gaussMixture>::value, "gaussMixture is plain data");

// Bytes of a name field in a binary file (49 characters and a zero).
constexpr size_t NAME_BYTES = 50;

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

float gconstFromVariances(const float* variance) {
    const double twoPi = 6.283185307179586;
    double sum = MODEL_PARAM_NUM * std::log(twoPi);
    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) sum += std::log(std::max<double>(variance[d], 1e-30));
    return static_cast<float>(sum);
}

namespace {

// Whitespace-separated tokens of a text model file held in memory. One token
// may be held back (a look-ahead that ended a mixture list); the next read
// returns it first. Every read that hits the end of the file is fatal and
// names the file and the model being read.
class macTokenizer {
public:
    macTokenizer(const std::string& text, const std::string& path) : m_text(text), m_path(path) {}

    int32_t m_modelId = -1;    // model being read; -1 while in the header
    std::string m_modelName;   // its name once known

    std::string_view token() {
        if (m_hasPending) {
            m_hasPending = false;
            return m_pending;
        }
        skipSpace();
        if (m_pos >= m_text.size()) endOfFile();
        size_t start = m_pos;
        while (m_pos < m_text.size() && !isSpace(m_text[m_pos])) ++m_pos;
        return std::string_view(m_text).substr(start, m_pos - start);
    }

    // Gives a token back; the next token() returns it.
    void holdBack(std::string_view tok) {
        m_pending = tok;
        m_hasPending = true;
    }

    int32_t integer() {
        std::string_view tok = token();
        int32_t value = 0;
        if (!parseInt(tok, value)) notANumber(tok);
        return value;
    }

    // The next token as an integer when it is one; otherwise it stays unread.
    bool tryInteger(int32_t& value) {
        std::string_view tok = token();
        if (parseInt(tok, value)) return true;
        holdBack(tok);
        return false;
    }

    float number() {
        std::string_view tok = token();
        std::string_view digits = tok;
        if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
        float value = 0;
        auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (result.ptr != digits.data() + digits.size() || digits.empty()) notANumber(tok);
        if (result.ec == std::errc::result_out_of_range) {
            // Underflow or overflow: take what strtof makes of it (0, a
            // denormal or infinity) rather than refusing the file.
            std::string copy(digits);
            value = std::strtof(copy.c_str(), nullptr);
        } else if (result.ec != std::errc()) {
            notANumber(tok);
        }
        return value;
    }

    // The text between double quotes after optional white space; a name
    // written without quotes is taken as one token.
    std::string quotedName() {
        skipSpace();
        if (m_pos >= m_text.size()) endOfFile();
        if (m_text[m_pos] != '"') return std::string(token());
        size_t close = m_text.find('"', m_pos + 1);
        if (close == std::string::npos) endOfFile();
        std::string name = m_text.substr(m_pos + 1, close - m_pos - 1);
        m_pos = close + 1;
        return name;
    }

    // The rest of the current line after spaces and tabs, without the line end.
    std::string restOfLine() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) ++m_pos;
        size_t end = m_text.find('\n', m_pos);
        if (end == std::string::npos) end = m_text.size();
        std::string rest = m_text.substr(m_pos, end - m_pos);
        if (!rest.empty() && rest.back() == '\r') rest.pop_back();
        m_pos = end;
        return rest;
    }

    [[noreturn]] void endOfFile() const {
        if (m_modelId < 0)
            reportError(formatString("Error: %s ends inside its header (line %d of %s)", m_path.c_str(),
                                     __LINE__, UNIT));
        reportError(formatString("Error: %s ends inside model %d (%s) (line %d of %s)", m_path.c_str(),
                                 m_modelId, m_modelName.c_str(), __LINE__, UNIT));
    }

private:
    const std::string& m_text;
    const std::string& m_path;
    size_t m_pos = 0;
    std::string_view m_pending;
    bool m_hasPending = false;

    void skipSpace() {
        while (m_pos < m_text.size() && isSpace(m_text[m_pos])) ++m_pos;
    }

    static bool parseInt(std::string_view tok, int32_t& value) {
        if (!tok.empty() && tok[0] == '+') tok.remove_prefix(1);
        if (tok.empty()) return false;
        auto result = std::from_chars(tok.data(), tok.data() + tok.size(), value);
        return result.ec == std::errc() && result.ptr == tok.data() + tok.size();
    }

    [[noreturn]] void notANumber(std::string_view tok) const {
        std::string t(tok);
        if (m_modelId < 0)
            reportError(formatString("Error: \"%s\" is not a number in the header of %s (line %d of %s)",
                                     t.c_str(), m_path.c_str(), __LINE__, UNIT));
        reportError(formatString("Error: \"%s\" is not a number in model %d (%s) of %s (line %d of %s)",
                                 t.c_str(), m_modelId, m_modelName.c_str(), m_path.c_str(), __LINE__, UNIT));
    }
};

// Number of lines beginning with "~h": one per model definition.
int32_t countModelLines(const std::string& text) {
    int64_t count = 0;
    for (size_t pos = 0; pos < text.size();) {
        if (text.compare(pos, 2, "~h") == 0) ++count;
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
}

void checkModelName(const std::string& name, int32_t modelId, const std::string& path) {
    if (name.size() > static_cast<size_t>(MAX_MODEL_NAME_LEN))
        reportError(formatString("Error: model %d of %s has a name longer than %d characters: %s (line %d of %s)",
                                 modelId, path.c_str(), MAX_MODEL_NAME_LEN, name.c_str(), __LINE__, UNIT));
}

void checkStateNum(int32_t stateNum, int32_t modelId, const std::string& name, const std::string& path) {
    if (stateNum < 3 || stateNum > MAX_MODEL_STATE_NUM)
        reportError(formatString("Error: model %d (%s) of %s has %d states; 3 to %d are supported (line %d of %s)",
                                 modelId, name.c_str(), path.c_str(), stateNum, MAX_MODEL_STATE_NUM, __LINE__,
                                 UNIT));
}

void checkStreams(int32_t streamNum, const int32_t* streamWidth, const std::string& path) {
    for (int32_t k = 0; k < streamNum; ++k)
        if (streamWidth[k] != MODEL_PARAM_NUM)
            reportError(formatString("Error: stream %d of %s is %d values wide; every stream must have %d "
                                     "(line %d of %s)",
                                     k + 1, path.c_str(), streamWidth[k], MODEL_PARAM_NUM, __LINE__, UNIT));
}

void checkStreamNum(int32_t streamNum, const std::string& path) {
    if (streamNum < 1 || streamNum > MAX_STREAM_NUM)
        reportError(formatString("Error: %s has %d streams; 1 to %d are supported (line %d of %s)", path.c_str(),
                                 streamNum, MAX_STREAM_NUM, __LINE__, UNIT));
}

// A set can be written only as it was read (unconverted) and with streams the
// readers accept.
void checkWritableSet(bool isConverted, int32_t streamNum, const int32_t* streamWidth, const std::string& path) {
    if (isConverted)
        reportError(formatString("Error: a converted model set cannot be written to %s (line %d of %s)",
                                 path.c_str(), __LINE__, UNIT));
    checkStreamNum(streamNum, path);
    checkStreams(streamNum, streamWidth, path);
}

// Little-endian reading of a binary model file held in memory; a short read
// names the header or the model being read.
class binaryReader {
public:
    binaryReader(const std::string& bytes, const std::string& path)
        : m_in(bytes, [this](size_t, size_t) { truncated(); }), m_path(path) {}
    binaryReader(const binaryReader&) = delete;
    binaryReader& operator=(const binaryReader&) = delete;

    int32_t m_modelId = -1;  // model being read; -1 while in the header

    size_t left() const { return m_in.left(); }
    void need(size_t n) const { m_in.need(n); }
    uint32_t word() { return m_in.u32(); }
    int32_t integer() { return m_in.i32(); }
    float number() { return m_in.f32(); }
    void floats(float* out, size_t n) {
        need(4 * n);
        for (size_t i = 0; i < n; ++i) out[i] = number();
    }
    std::string_view raw(size_t n) { return m_in.take(n); }

private:
    [[noreturn]] void truncated() const {
        if (m_modelId < 0)
            reportError(formatString("Error: %s is truncated in its header (line %d of %s)", m_path.c_str(),
                                     __LINE__, UNIT));
        reportError(formatString("Error: %s is truncated in model %d (line %d of %s)", m_path.c_str(), m_modelId,
                                 __LINE__, UNIT));
    }

    byteReaderClass m_in;
    const std::string& m_path;
};

// Little-endian writing into a byte string.
void putWord(std::string& out, uint32_t w) {
    char b[4] = {static_cast<char>(w & 0xff), static_cast<char>((w >> 8) & 0xff),
                 static_cast<char>((w >> 16) & 0xff), static_cast<char>((w >> 24) & 0xff)};
    out.append(b, 4);
}
void putInt(std::string& out, int32_t v) { putWord(out, static_cast<uint32_t>(v)); }
void putFloat(std::string& out, float f) {
    uint32_t w;
    std::memcpy(&w, &f, 4);
    putWord(out, w);
}

// Appends a float that reads back to the same bits.
void appendFloat(std::string& out, float f) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, " %.9g", static_cast<double>(f));
    out.append(buf, static_cast<size_t>(n));
}

// A stream that the readers would refuse is not written.
void checkWritableStream(const hmmStream& stream, const std::string& name, const std::string& path) {
    if (stream.mixture.empty() || stream.mixture.size() > static_cast<size_t>(MAX_MIXTURE_NUM))
        reportError(formatString("Error: model %s has a stream of %zu mixtures; %s would hold 1 to %d (line %d of %s)",
                                 name.c_str(), stream.mixture.size(), path.c_str(), MAX_MIXTURE_NUM, __LINE__, UNIT));
}

void writeWholeFile(const std::string& path, const std::string& bytes) {
    filePtr f = openFileOrFail(path, "wb");
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() || std::fflush(f.get()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of %s)", path.c_str(), __LINE__, UNIT));
}

}  // namespace

void macroClass::readMacro(const std::string& path, bool convert) {
    models.clear();
    modelNum = 0;
    isConverted = false;
    std::string ext = fileExtension(path);
    macroClass loaded;
    if (ext == "macb" || ext == "MACB") {
        loaded.readMacBinary(path);
    } else if (ext == "mac" || ext == "MAC") {
        loaded.readMacText(path);
    } else {
        reportError(formatString("Error in reading \"%s\": The only allowed extension are \"mac\" and \"macb\" "
                                 "(line %d of %s) \n",
                                 path.c_str(), __LINE__, UNIT));
    }
    if (convert) {
        loaded.sortModels();
        loaded.convertModels();
    }
    *this = std::move(loaded);
}

void macroClass::readMacText(const std::string& path) {
    const std::string text = readFileBytes(path);

    const int32_t count = countModelLines(text);
    if (count < 1)
        reportError(formatString("Error: no model definition (~h) in %s (line %d of %s)", path.c_str(), __LINE__,
                                 UNIT));

    macTokenizer in(text, path);
    // Header: option marker, stream count with its widths, option line.
    in.token();
    in.token();
    const int32_t streams = in.integer();
    checkStreamNum(streams, path);
    int32_t widths[MAX_STREAM_NUM] = {0, 0, 0};
    for (int32_t k = 0; k < streams; ++k) widths[k] = in.integer();
    checkStreams(streams, widths, path);
    std::string optionTag(in.token());
    std::string option = optionTag + " " + in.restOfLine();

    // Records are added as models are read: a file of bare "~h" lines must
    // fail on its first model, not allocate a record for every line first.
    std::vector<hmmModel> read;
    read.reserve(static_cast<size_t>(std::min(count, 4096)));
    bool gconstWarned = false;
    for (int32_t m = 0; m < count; ++m) {
        read.emplace_back();
        hmmModel& model = read.back();
        in.m_modelId = m;
        in.m_modelName.clear();
        in.token();  // "~h"
        model.name = in.quotedName();
        in.m_modelName = model.name;
        checkModelName(model.name, m, path);

        std::string_view tok = in.token();
        if (tok != "<BEGINHMM>")
            reportError(formatString("modelId=%d, str1=%s, Cannot find \"<BEGINHMM>\" (line %d of %s)", m,
                                     std::string(tok).c_str(), __LINE__, UNIT));
        in.token();  // "<NUMSTATES>"
        model.stateNum = in.integer();
        checkStateNum(model.stateNum, m, model.name, path);

        for (int32_t s = 2; s <= model.stateNum - 1; ++s) {
            hmmState& state = model.state[s - 2];
            in.token();  // "<STATE>"; the number is not used either
            in.integer();

            tok = in.token();
            if (tok == "<NUMMIXES>") {
                for (int32_t k = 0; k < streams; ++k) {
                    int32_t n = in.integer();
                    if (n > MAX_MIXTURE_NUM) {
                        sinkPrintf("modelId=%d (%s), stateId=%d, file=%s\n", m, model.name.c_str(), s,
                                    path.c_str());
                        reportError(formatString("Error: mixtureNum=%d exceeds MAX_MIXTURE_NUM=%d (line %d of %s)",
                                                 n, MAX_MIXTURE_NUM, __LINE__, UNIT));
                    }
                    if (n < 1)
                        reportError(formatString("Error: mixtureNum=%d in state %d of model %d (%s) of %s; "
                                                 "a stream needs at least one mixture (line %d of %s)",
                                                 n, s, m, model.name.c_str(), path.c_str(), __LINE__, UNIT));
                    state.stream[k].mixture.resize(static_cast<size_t>(n));
                }
                in.token();  // "<SWEIGHTS>"
                in.integer();
            } else if (tok == "<SWEIGHTS>") {
                for (int32_t k = 0; k < streams; ++k) state.stream[k].mixture.resize(1);
                in.integer();
            } else {
                reportError(formatString("ERROR: fail to read <NUMMIXES> or <SWEIGHTS> at modelId = %d, "
                                         "stateId = %d (line %d of %s)",
                                         m, s, __LINE__, UNIT));
            }
            for (int32_t k = 0; k < streams; ++k) state.streamWeight[k] = in.number();

            for (int32_t k = 0; k < streams; ++k) {
                hmmStream& stream = state.stream[k];
                if (streams > 1) {
                    tok = in.token();
                    if (tok != "<STREAM>") {
                        std::string tag(tok);
                        int32_t number = 0;
                        in.tryInteger(number);
                        sinkPrintf("modelId=%d (%s), stateId=%d\n", m, model.name.c_str(), s);
                        reportError(formatString("str1=%s, temp=%d, Cannot find \"<STREAM>\" (line %d of %s)",
                                                 tag.c_str(), number, __LINE__, UNIT));
                    }
                    in.integer();
                }
                const size_t mixtureNum = stream.mixture.size();
                for (size_t j = 0; j < mixtureNum; ++j) {
                    gaussMixture& mix = stream.mixture[j];
                    if (mixtureNum <= 1) {
                        mix.weight = 1.0f;
                    } else {
                        tok = in.token();
                        if (tok != "<MIXTURE>") {
                            // The list ended early: the remaining slots stay
                            // empty and the token belongs to what follows.
                            in.holdBack(tok);
                            break;
                        }
                        in.integer();
                        mix.weight = in.number();
                    }
                    tok = in.token();
                    int32_t size = in.integer();
                    if (tok == "<RCLASS>") {
                        tok = in.token();
                        size = in.integer();
                    }
                    if (tok != "<MEAN>")
                        reportError(formatString("Error: Cannot find \"<MEAN>\" (line %d of %s)", __LINE__, UNIT));
                    if (size != MODEL_PARAM_NUM)
                        reportError(formatString("Error: MAX_PARAM_NUM = %d != %d! (line %d of %s)", MODEL_PARAM_NUM,
                                                 size, __LINE__, UNIT));
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) mix.mean[d] = in.number();

                    tok = in.token();
                    size = in.integer();
                    if (size != MODEL_PARAM_NUM)
                        reportError(formatString("Error: MAX_PARAM_NUM = %d != %d! (line %d of %s)", MODEL_PARAM_NUM,
                                                 size, __LINE__, UNIT));
                    if (tok != "<VARIANCE>")
                        reportError(formatString("Cannot find \"<VARIANCE>\" (line %d of %s)", __LINE__, UNIT));
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) mix.variance[d] = in.number();

                    tok = in.token();
                    if (tok == "<GCONST>") {
                        mix.gconst = in.number();
                    } else {
                        in.holdBack(tok);
                        mix.gconst = gconstFromVariances(mix.variance);
                        if (!gconstWarned) {
                            sinkPrintf("Warning: mixtures without <GCONST> in %s (first in model %d, %s); "
                                        "their constants are computed from the variances (line %d of %s)\n",
                                        path.c_str(), m, model.name.c_str(), __LINE__, UNIT);
                            gconstWarned = true;
                        }
                    }
                }
            }
        }

        tok = in.token();
        if (tok != "<TRANSP>")
            reportError(formatString("Error: Cannot find \"<TRANSP>\" (line %d of %s)", __LINE__, UNIT));
        in.integer();
        for (int32_t i = 0; i < model.stateNum; ++i)
            for (int32_t j = 0; j < model.stateNum; ++j) model.transP[i][j] = in.number();

        tok = in.token();
        if (tok != "<ENDHMM>")
            reportError(formatString("Error: Not reading <ENDHMM>, modelId=%d (line %d of %s)", m, __LINE__, UNIT));
    }

    models = std::move(read);
    modelNum = count;
    streamNum = streams;
    std::copy(widths, widths + MAX_STREAM_NUM, streamWidth);
    optionText = std::move(option);
    isConverted = false;
}

void macroClass::readMacBinary(const std::string& path) {
    const std::string bytes = readFileBytes(path);
    binaryReader in(bytes, path);

    const int32_t count = in.integer();
    const int32_t streams = in.integer();
    checkStreamNum(streams, path);
    int32_t widths[MAX_STREAM_NUM] = {0, 0, 0};
    for (int32_t k = 0; k < streams; ++k) widths[k] = in.integer();
    checkStreams(streams, widths, path);

    // The smallest model (three states, one mixture per stream) bounds the
    // count the file can hold before anything is allocated for it.
    const size_t smallestModel =
        NAME_BYTES + 4 + static_cast<size_t>(streams) * (4 + 4 + MIXTURE_BYTES) + 9 * 4;
    if (count < 1)
        reportError(formatString("Error: %s gives a model count of %d (line %d of %s)", path.c_str(), count,
                                 __LINE__, UNIT));
    if (static_cast<size_t>(count) > in.left() / smallestModel)
        reportError(formatString("Error: %s is truncated or corrupt: %d models cannot fit in its %zu bytes "
                                 "(line %d of %s)",
                                 path.c_str(), count, bytes.size(), __LINE__, UNIT));

    std::vector<hmmModel> read(static_cast<size_t>(count), hmmModel{});
    for (int32_t m = 0; m < count; ++m) {
        hmmModel& model = read[static_cast<size_t>(m)];
        in.m_modelId = m;
        std::string_view field = in.raw(NAME_BYTES);
        size_t zero = field.find('\0');
        if (zero == std::string_view::npos)
            reportError(formatString("Error: model %d of %s has a name longer than %d characters (line %d of %s)",
                                     m, path.c_str(), MAX_MODEL_NAME_LEN, __LINE__, UNIT));
        model.name = std::string(field.substr(0, zero));
        model.stateNum = in.integer();
        checkStateNum(model.stateNum, m, model.name, path);
        for (int32_t s = 0; s < model.stateNum - 2; ++s) {
            hmmState& state = model.state[s];
            in.floats(state.streamWeight, static_cast<size_t>(streams));
            for (int32_t k = 0; k < streams; ++k) {
                hmmStream& stream = state.stream[k];
                const int32_t mixtureNum = in.integer();
                if (mixtureNum < 1 || mixtureNum > MAX_MIXTURE_NUM)
                    reportError(formatString("Error: model %d (%s) of %s has %d mixtures in state %d, stream %d; "
                                             "1 to %d are supported (line %d of %s)",
                                             m, model.name.c_str(), path.c_str(), mixtureNum, s + 2, k + 1,
                                             MAX_MIXTURE_NUM, __LINE__, UNIT));
                in.need(MIXTURE_BYTES * static_cast<size_t>(mixtureNum));
                stream.mixture.resize(static_cast<size_t>(mixtureNum));
                for (gaussMixture& mix : stream.mixture) {
                    mix.weight = in.number();
                    in.floats(mix.mean, MODEL_PARAM_NUM);
                    in.floats(mix.variance, MODEL_PARAM_NUM);
                    mix.gconst = in.number();
                }
            }
        }
        // stateNum x stateNum floats, row by row; entry (i, j) goes to its
        // place in the 5 x 5 matrix whatever the model's size.
        in.need(4 * static_cast<size_t>(model.stateNum) * static_cast<size_t>(model.stateNum));
        for (int32_t i = 0; i < model.stateNum; ++i)
            for (int32_t j = 0; j < model.stateNum; ++j) model.transP[i][j] = in.number();
    }

    models = std::move(read);
    modelNum = count;
    streamNum = streams;
    std::copy(widths, widths + MAX_STREAM_NUM, streamWidth);
    optionText.clear();
    isConverted = false;
}

void macroClass::sortModels() {
    // std::string compares its bytes as unsigned values.
    std::stable_sort(models.begin(), models.end(),
                     [](const hmmModel& a, const hmmModel& b) { return a.name < b.name; });
}

void macroClass::convertModels() {
    if (isConverted) return;
    for (hmmModel& model : models) {
        for (int32_t s = 0; s < model.stateNum - 2; ++s) {
            for (int32_t k = 0; k < streamNum; ++k) {
                hmmStream& stream = model.state[s].stream[k];
                for (gaussMixture& mix : stream.mixture) {
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) {
                        float v = std::max(mix.variance[d], 1e-30f);
                        mix.variance[d] = std::max(1.0f / v, 1e-30f);
                    }
                    mix.weight = mix.weight == 0.0f ? -1e10f : std::log(mix.weight);
                }
            }
        }
        // A zero transition probability becomes log zero, so that a search
        // reading it can never take that transition.
        for (int32_t i = 0; i < model.stateNum; ++i)
            for (int32_t j = 0; j < model.stateNum; ++j)
                model.transP[i][j] = model.transP[i][j] == 0.0f ? -1e10f : std::log(model.transP[i][j]);
    }
    isConverted = true;
}

void macroClass::readModelCountFile(const std::string& path) {
    for (hmmModel& model : models) model.logCount = 0;
    if (!fileExists(path)) return;
    std::vector<std::string> lines = readLines(path, '%');
    std::vector<std::string> fields;
    const size_t n = std::min(lines.size(), models.size());
    for (size_t i = 0; i < n; ++i) {
        splitString(lines[i], '\t', fields);
        if (fields.empty() || fields[0] != models[i].name)
            sinkPrintf("Warning: Mismatched model count file %s! (line %d of %s)\n", path.c_str(), __LINE__, UNIT);
        int32_t count = fields.size() > 1 ? atoiLike(fields[1]) : 0;
        if (count > 0) models[i].logCount = static_cast<float>(std::log(static_cast<double>(count)));
    }
}

int32_t macroClass::findModelIndex(const std::string& name) const {
    auto it = std::lower_bound(models.begin(), models.end(), name,
                               [](const hmmModel& model, const std::string& key) { return model.name < key; });
    if (it != models.end() && it->name == name) return static_cast<int32_t>(it - models.begin());
    return findSubstituteModel(name);
}

int32_t macroClass::findSubstituteModel(const std::string& name) const {
    if (name == "sp" || name == "sil" || name == "filler" || name == "fillerC" || name == "fillerV") return -1;
    size_t plus = name.find('+');
    if (plus == std::string::npos)
        reportError(formatString("Error in macroClass::findSubstituteModel(): Cannot find '+' sign, modelStr=%s "
                                 "(line %d of %s) \n",
                                 name.c_str(), __LINE__, UNIT));
    if (models.empty())
        reportError(formatString("Error in macroClass::findSubstituteModel(): no model to replace %s with "
                                 "(line %d of %s)",
                                 name.c_str(), __LINE__, UNIT));
    const std::string left = name.substr(0, plus + 1);
    const std::string leftSil = left + "sil";
    int32_t found = -1;
    for (size_t i = 0; i < models.size() && found < 0; ++i)
        if (models[i].name.compare(0, leftSil.size(), leftSil) == 0) found = static_cast<int32_t>(i);
    for (size_t i = 0; i < models.size() && found < 0; ++i)
        if (models[i].name.compare(0, left.size(), left) == 0) found = static_cast<int32_t>(i);
    if (found < 0) found = 0;
    sinkPrintf("Warning of model substitution: %s is replaced by %s\n", name.c_str(),
                models[static_cast<size_t>(found)].name.c_str());
    return found;
}

void macroClass::getModelNames(std::vector<std::string>& list) const {
    list.clear();
    list.reserve(models.size());
    for (const hmmModel& model : models) list.push_back(model.name);
}

void macroClass::writeMacText(const std::string& path) const {
    checkWritableSet(isConverted, streamNum, streamWidth, path);
    std::string out;
    out += "~o\n<STREAMINFO> " + std::to_string(streamNum);
    int32_t vecSize = 0;
    for (int32_t k = 0; k < streamNum; ++k) {
        out += " " + std::to_string(streamWidth[k]);
        vecSize += streamWidth[k];
    }
    out += "\n";
    // The reader counts the models by the lines that begin with "~h": the
    // option line must be one line that does not begin so.
    if (optionText.compare(0, 2, "~h") == 0 || optionText.find('\n') != std::string::npos)
        reportError(formatString("Error: the option line %s cannot be written to %s: it begins with ~h or spans "
                                 "lines (line %d of %s)",
                                 optionText.c_str(), path.c_str(), __LINE__, UNIT));
    out += optionText.empty() ? "<VECSIZE> " + std::to_string(vecSize) : optionText;
    out += "\n";
    for (const hmmModel& model : models) {
        checkModelName(model.name, static_cast<int32_t>(&model - models.data()), path);
        checkStateNum(model.stateNum, static_cast<int32_t>(&model - models.data()), model.name, path);
        if (model.name.find('"') != std::string::npos)
            reportError(formatString("Error: model name %s cannot be written to %s: it holds a double quote "
                                     "(line %d of %s)",
                                     model.name.c_str(), path.c_str(), __LINE__, UNIT));
        // A line feed in the name could start a line with "~h" inside the quotes.
        if (model.name.find('\n') != std::string::npos)
            reportError(formatString("Error: model name %s cannot be written to %s: it holds a line feed "
                                     "(line %d of %s)",
                                     model.name.c_str(), path.c_str(), __LINE__, UNIT));
        out += "~h \"" + model.name + "\"\n<BEGINHMM>\n<NUMSTATES> " + std::to_string(model.stateNum) + "\n";
        for (int32_t s = 0; s < model.stateNum - 2; ++s) {
            const hmmState& state = model.state[s];
            out += "<STATE> " + std::to_string(s + 2) + "\n";
            bool single = true;
            for (int32_t k = 0; k < streamNum; ++k) single = single && state.stream[k].mixture.size() <= 1;
            if (!single) {
                out += "<NUMMIXES>";
                for (int32_t k = 0; k < streamNum; ++k) out += " " + std::to_string(state.stream[k].mixture.size());
                out += "\n";
            }
            out += "<SWEIGHTS> " + std::to_string(streamNum) + "\n";
            for (int32_t k = 0; k < streamNum; ++k) appendFloat(out, state.streamWeight[k]);
            out += "\n";
            for (int32_t k = 0; k < streamNum; ++k) {
                const hmmStream& stream = state.stream[k];
                if (streamNum > 1) out += "<STREAM> " + std::to_string(k + 1) + "\n";
                checkWritableStream(stream, model.name, path);
                for (size_t j = 0; j < stream.mixture.size(); ++j) {
                    const gaussMixture& mix = stream.mixture[j];
                    if (stream.mixture.size() > 1) {
                        out += "<MIXTURE> " + std::to_string(j + 1);
                        appendFloat(out, mix.weight);
                        out += "\n";
                    }
                    out += "<MEAN> " + std::to_string(MODEL_PARAM_NUM) + "\n";
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) appendFloat(out, mix.mean[d]);
                    out += "\n<VARIANCE> " + std::to_string(MODEL_PARAM_NUM) + "\n";
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) appendFloat(out, mix.variance[d]);
                    out += "\n<GCONST>";
                    appendFloat(out, mix.gconst);
                    out += "\n";
                }
            }
        }
        out += "<TRANSP> " + std::to_string(model.stateNum) + "\n";
        for (int32_t i = 0; i < model.stateNum; ++i) {
            for (int32_t j = 0; j < model.stateNum; ++j) appendFloat(out, model.transP[i][j]);
            out += "\n";
        }
        out += "<ENDHMM>\n";
    }
    writeWholeFile(path, out);
}

void macroClass::writeMacBinary(const std::string& path) const {
    checkWritableSet(isConverted, streamNum, streamWidth, path);
    std::string out;
    putInt(out, static_cast<int32_t>(models.size()));
    putInt(out, streamNum);
    for (int32_t k = 0; k < streamNum; ++k) putInt(out, streamWidth[k]);
    for (const hmmModel& model : models) {
        checkModelName(model.name, static_cast<int32_t>(&model - models.data()), path);
        checkStateNum(model.stateNum, static_cast<int32_t>(&model - models.data()), model.name, path);
        // The name field ends at its first zero byte; a name holding one would
        // come back cut short.
        if (model.name.find('\0') != std::string::npos)
            reportError(formatString("Error: model name %s cannot be written to %s: it holds a zero byte "
                                     "(line %d of %s)",
                                     model.name.c_str(), path.c_str(), __LINE__, UNIT));
        std::string name = model.name;
        name.resize(NAME_BYTES, '\0');
        out += name;
        putInt(out, model.stateNum);
        for (int32_t s = 0; s < model.stateNum - 2; ++s) {
            const hmmState& state = model.state[s];
            for (int32_t k = 0; k < streamNum; ++k) putFloat(out, state.streamWeight[k]);
            for (int32_t k = 0; k < streamNum; ++k) {
                const hmmStream& stream = state.stream[k];
                checkWritableStream(stream, model.name, path);
                putInt(out, static_cast<int32_t>(stream.mixture.size()));
                for (const gaussMixture& mix : stream.mixture) {
                    putFloat(out, mix.weight);
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) putFloat(out, mix.mean[d]);
                    for (int32_t d = 0; d < MODEL_PARAM_NUM; ++d) putFloat(out, mix.variance[d]);
                    putFloat(out, mix.gconst);
                }
            }
        }
        for (int32_t i = 0; i < model.stateNum; ++i)
            for (int32_t j = 0; j < model.stateNum; ++j) putFloat(out, model.transP[i][j]);
    }
    writeWholeFile(path, out);
}
