// Exact statistics of a training pass and their accumulator file.
//
// The accumulator file, little-endian throughout:
//
//   magic "RECOGACC" (8 bytes), version (u32, = 1),
//   pass, shard index, shard count (u32 each), settings key, model key (u64 each),
//   dim, stream count, model count (u32 each),
//   frames, all frames (i64 each), utterances, skipped (i32 each), log likelihood (i128),
//   emitting states of each model (u32 each),
//   components of each model, state and stream (u32 each),
//   frame sums and frame squares (dim i128 each),
//   the values (i128 each; their count follows from the sizes above),
//   FNV-1a 64 checksum of every byte before it (u64).
//
// Each i128 is written as its low, then its high 64 bits.
#include "tools/train.h"

#include "lib/byteReader.h"
#include "run/utility.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char* const UNIT = "trainStats";

const char MAGIC[8] = {'R', 'E', 'C', 'O', 'G', 'A', 'C', 'C'};
constexpr uint32_t FILE_VERSION = 1;
// Bytes before the per-model sizes.
constexpr size_t FIXED_HEADER_BYTES = 8 + 4 + 3 * 4 + 2 * 8 + 3 * 4 + 2 * 8 + 2 * 4 + 16;
constexpr size_t CHECKSUM_BYTES = 8;
constexpr size_t VALUES_PER_COMPONENT = 1 + 2 * MODEL_PARAM_NUM;

constexpr uint64_t FNV_OFFSET = 14695981039346656037ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;

uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * FNV_PRIME;
    return h;
}

template <typename T>
uint64_t fnvValue(uint64_t h, T v) {
    return fnv(h, &v, sizeof v);
}

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void putU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void putExact(std::string& out, exactSum v) {
    __extension__ typedef unsigned __int128 wide;
    const wide u = static_cast<wide>(v);
    putU64(out, static_cast<uint64_t>(u));
    putU64(out, static_cast<uint64_t>(u >> 64));
}

// Reads the fields of an accumulator file in order, never past its end; a
// short read names the field.
class statsReader {
public:
    // Reads bytes[pos .. size - 1].
    statsReader(const std::string& bytes, const std::string& path, size_t pos)
        : m_in(bytes, [this](size_t wanted, size_t left) { truncated(wanted, left); }, pos), m_path(path) {}
    statsReader(const statsReader&) = delete;
    statsReader& operator=(const statsReader&) = delete;

    size_t left() const { return m_in.left(); }
    void setEnd(size_t end) { m_in.setEnd(end); }

    void need(size_t n, const char* what) {
        m_what = what;
        m_in.need(n);
    }
    uint64_t u64(const char* what) {
        m_what = what;
        return m_in.u64();
    }
    uint32_t u32(const char* what) {
        m_what = what;
        return m_in.u32();
    }
    int32_t i32(const char* what) { return static_cast<int32_t>(u32(what)); }
    int64_t i64(const char* what) { return static_cast<int64_t>(u64(what)); }
    exactSum exact(const char* what) {
        __extension__ typedef unsigned __int128 wide;
        need(16, what);
        const uint64_t low = m_in.u64();
        const uint64_t high = m_in.u64();
        return static_cast<exactSum>((static_cast<wide>(high) << 64) | low);
    }
    // A count of at most `limit`, reported as malformed otherwise.
    uint32_t count(const char* what, uint32_t low, uint32_t limit) {
        const uint32_t v = u32(what);
        if (v < low || v > limit)
            reportError(formatString("Error: the accumulator file %s is malformed: %s is %u, not %u to %u "
                                     "(line %d of %s)",
                                     m_path.c_str(), what, v, low, limit, __LINE__, UNIT));
        return v;
    }

private:
    [[noreturn]] void truncated(size_t wanted, size_t left) const {
        reportError(formatString("Error: the accumulator file %s is truncated: %s needs %zu bytes, %zu are left "
                                 "(line %d of %s)",
                                 m_path.c_str(), m_what, wanted, left, __LINE__, UNIT));
    }

    byteReaderClass m_in;
    const std::string& m_path;
    const char* m_what = "";
};

}  // namespace

exactSum toExact(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= 0x1p70)
        reportError(formatString("Error: the statistic %g cannot be summed exactly: it is not finite or too large "
                                 "(line %d of %s)",
                                 v, __LINE__, UNIT));
    // Scaling by a power of two is exact; the rounded value is an integer
    // below 2^118 and converts exactly.
    return static_cast<exactSum>(std::nearbyint(std::ldexp(v, EXACT_FRACTION_BITS)));
}

double fromExact(exactSum v) { return std::ldexp(static_cast<double>(v), -EXACT_FRACTION_BITS); }

void trainStatsClass::shape(const macroClass& models, int32_t dim) {
    m_dim = dim;
    m_streamNum = models.models.empty() ? 0 : models.streamNum;
    m_modelKey = models.models.empty() ? 0 : modelSetKey(models);
    m_emitting.clear();
    m_mixtures.clear();
    m_mixtureStart.clear();
    m_valueStart.clear();
    size_t at = 0;
    for (const hmmModel& model : models.models) {
        const int32_t emitting = model.stateNum - 2;
        m_emitting.push_back(emitting);
        m_mixtureStart.push_back(m_mixtures.size());
        m_valueStart.push_back(at);
        at += 1 + 2 * static_cast<size_t>(emitting);
        for (int32_t s = 0; s < emitting; ++s)
            for (int32_t k = 0; k < m_streamNum; ++k) {
                const size_t n = model.state[s].stream[k].mixture.size();
                m_mixtures.push_back(static_cast<int32_t>(n));
                at += n * VALUES_PER_COMPONENT;
            }
    }
    m_mixtureStart.push_back(m_mixtures.size());
    m_valueStart.push_back(at);
    m_values.assign(at, 0);
    m_logLike = 0;
    m_frames = 0;
    m_utterances = 0;
    m_skipped = 0;
    m_allFrames = 0;
    m_frameSum.assign(static_cast<size_t>(dim), 0);
    m_frameSq.assign(static_cast<size_t>(dim), 0);
}

void trainStatsClass::appendExactModel(const trainAccumClass& acc, int32_t m, std::vector<exactSum>& out) const {
    const size_t mi = static_cast<size_t>(m);
    out.push_back(toExact(acc.m_entries[mi]));
    const int32_t emitting = m_emitting[mi];
    for (int32_t r = 1; r <= emitting; ++r) {
        out.push_back(toExact(acc.m_trans[mi][static_cast<size_t>(r)][static_cast<size_t>(r)]));
        out.push_back(toExact(acc.m_trans[mi][static_cast<size_t>(r)][static_cast<size_t>(r) + 1]));
    }
    const int32_t* mixtures = &m_mixtures[m_mixtureStart[mi]];
    for (int32_t s = 0; s < emitting; ++s)
        for (int32_t k = 0; k < m_streamNum; ++k) {
            const std::vector<mixtureAccum>& stats = acc.m_mix[mi][static_cast<size_t>(s)][static_cast<size_t>(k)];
            if (stats.size() != static_cast<size_t>(*mixtures))
                reportError(formatString("Error: statistics of %d components for %d in model %d (line %d of %s)",
                                         static_cast<int32_t>(stats.size()), *mixtures, m, __LINE__, UNIT));
            ++mixtures;
            for (const mixtureAccum& ma : stats) {
                out.push_back(toExact(ma.occ));
                for (double x : ma.sum) out.push_back(toExact(x));
                for (double x : ma.sq) out.push_back(toExact(x));
            }
        }
}

const exactSum* trainStatsClass::addExactModel(int32_t m, const exactSum* values) {
    const size_t mi = static_cast<size_t>(m);
    for (size_t i = m_valueStart[mi]; i < m_valueStart[mi + 1]; ++i) m_values[i] += *values++;
    return values;
}

void trainStatsClass::addModel(const trainAccumClass& acc, int32_t m) {
    std::vector<exactSum> values;
    appendExactModel(acc, m, values);
    addExactModel(m, values.data());
}

void exactFrameSums(const float* features, int32_t frameNum, int32_t dim, std::vector<exactSum>& sum,
                    std::vector<exactSum>& sq) {
    std::vector<double> s(static_cast<size_t>(std::max(dim, 0)), 0.0), q(s.size(), 0.0);
    for (int32_t t = 0; t < frameNum; ++t) {
        const float* frame = features + static_cast<size_t>(t) * static_cast<size_t>(dim);
        for (int32_t d = 0; d < dim; ++d) {
            const double x = frame[d];
            s[static_cast<size_t>(d)] += x;
            q[static_cast<size_t>(d)] += x * x;
        }
    }
    sum.resize(s.size());
    sq.resize(s.size());
    for (size_t d = 0; d < s.size(); ++d) {
        sum[d] = toExact(s[d]);
        sq[d] = toExact(q[d]);
    }
}

void trainStatsClass::addFrameSums(const std::vector<exactSum>& sum, const std::vector<exactSum>& sq,
                                   int32_t frameNum) {
    if (frameNum <= 0) return;
    if (sum.size() != m_frameSum.size() || sq.size() != m_frameSq.size())
        reportError(formatString("Error: frames of %d values for statistics of %d (line %d of %s)",
                                 static_cast<int32_t>(sum.size()), m_dim, __LINE__, UNIT));
    for (size_t d = 0; d < sum.size(); ++d) {
        m_frameSum[d] += sum[d];
        m_frameSq[d] += sq[d];
    }
    m_allFrames += frameNum;
}

void trainStatsClass::addFrames(const float* features, int32_t frameNum, int32_t dim) {
    if (frameNum <= 0) return;
    if (dim != m_dim)
        reportError(formatString("Error: frames of %d values for statistics of %d (line %d of %s)", dim, m_dim,
                                 __LINE__, UNIT));
    std::vector<exactSum> sum, sq;
    exactFrameSums(features, frameNum, dim, sum, sq);
    addFrameSums(sum, sq, frameNum);
}

void trainStatsClass::add(const trainStatsClass& other) {
    if (other.m_pass != m_pass || other.m_settingsKey != m_settingsKey || other.m_modelKey != m_modelKey ||
        other.m_streamNum != m_streamNum || other.m_mixtures != m_mixtures || other.m_emitting != m_emitting)
        reportError(formatString("Error: statistics of pass %d cannot be added to those of pass %d: they belong to "
                                 "another training or model set (line %d of %s)",
                                 other.m_pass, m_pass, __LINE__, UNIT));
    // A shard without frames knows no dimension; it adds none.
    if (other.m_dim != 0) {
        if (m_dim == 0) {
            m_dim = other.m_dim;
            m_frameSum.assign(static_cast<size_t>(m_dim), 0);
            m_frameSq.assign(static_cast<size_t>(m_dim), 0);
        }
        if (other.m_dim != m_dim)
            reportError(formatString("Error: statistics of %d feature values cannot be added to those of %d "
                                     "(line %d of %s)",
                                     other.m_dim, m_dim, __LINE__, UNIT));
        for (size_t d = 0; d < m_frameSum.size(); ++d) {
            m_frameSum[d] += other.m_frameSum[d];
            m_frameSq[d] += other.m_frameSq[d];
        }
    }
    for (size_t i = 0; i < m_values.size(); ++i) m_values[i] += other.m_values[i];
    m_logLike += other.m_logLike;
    m_frames += other.m_frames;
    m_utterances += other.m_utterances;
    m_skipped += other.m_skipped;
    m_allFrames += other.m_allFrames;
}

trainAccumClass trainStatsClass::toAccum() const {
    trainAccumClass acc;
    const size_t n = m_emitting.size();
    acc.m_mix.assign(n, {});
    acc.m_trans.assign(n, {});
    acc.m_entries.assign(n, 0.0);
    for (size_t m = 0; m < n; ++m) {
        const exactSum* v = &m_values[m_valueStart[m]];
        acc.m_entries[m] = fromExact(*v++);
        for (int32_t r = 1; r <= m_emitting[m]; ++r) {
            acc.m_trans[m][static_cast<size_t>(r)][static_cast<size_t>(r)] = fromExact(*v++);
            acc.m_trans[m][static_cast<size_t>(r)][static_cast<size_t>(r) + 1] = fromExact(*v++);
        }
        const int32_t* mixtures = &m_mixtures[m_mixtureStart[m]];
        for (int32_t s = 0; s < m_emitting[m]; ++s)
            for (int32_t k = 0; k < m_streamNum; ++k) {
                std::vector<mixtureAccum>& stats = acc.m_mix[m][static_cast<size_t>(s)][static_cast<size_t>(k)];
                stats.resize(static_cast<size_t>(*mixtures++));
                for (mixtureAccum& ma : stats) {
                    ma.occ = fromExact(*v++);
                    for (double& x : ma.sum) x = fromExact(*v++);
                    for (double& x : ma.sq) x = fromExact(*v++);
                }
            }
    }
    acc.m_logLike = fromExact(m_logLike);
    acc.m_frames = m_frames;
    acc.m_utterances = m_utterances;
    acc.m_skipped = m_skipped;
    return acc;
}

uint64_t modelSetKey(const macroClass& models) {
    uint64_t h = FNV_OFFSET;
    h = fnvValue(h, models.streamNum);
    h = fnvValue(h, static_cast<uint64_t>(models.models.size()));
    for (const hmmModel& model : models.models) {
        h = fnvValue(h, static_cast<uint64_t>(model.name.size()));
        h = fnv(h, model.name.data(), model.name.size());
        h = fnvValue(h, model.stateNum);
        for (int32_t s = 0; s < model.stateNum - 2 && s < MAX_EMIT_STATE_NUM; ++s)
            for (int32_t k = 0; k < models.streamNum && k < MAX_STREAM_NUM; ++k) {
                const std::vector<gaussMixture>& mixture = model.state[s].stream[k].mixture;
                h = fnvValue(h, static_cast<uint64_t>(mixture.size()));
                if (!mixture.empty()) h = fnv(h, mixture.data(), mixture.size() * sizeof(gaussMixture));
                h = fnvValue(h, model.state[s].streamWeight[k]);
            }
        h = fnv(h, model.transP, sizeof model.transP);
    }
    return h;
}

void writeTrainStats(const std::string& path, const trainStatsClass& stats) {
    std::string out(MAGIC, sizeof MAGIC);
    putU32(out, FILE_VERSION);
    putU32(out, static_cast<uint32_t>(stats.m_pass));
    putU32(out, static_cast<uint32_t>(stats.m_shardIndex));
    putU32(out, static_cast<uint32_t>(stats.m_shardCount));
    putU64(out, stats.m_settingsKey);
    putU64(out, stats.m_modelKey);
    putU32(out, static_cast<uint32_t>(stats.m_dim));
    putU32(out, static_cast<uint32_t>(stats.m_streamNum));
    putU32(out, static_cast<uint32_t>(stats.m_emitting.size()));
    putU64(out, static_cast<uint64_t>(stats.m_frames));
    putU64(out, static_cast<uint64_t>(stats.m_allFrames));
    putU32(out, static_cast<uint32_t>(stats.m_utterances));
    putU32(out, static_cast<uint32_t>(stats.m_skipped));
    putExact(out, stats.m_logLike);
    for (int32_t e : stats.m_emitting) putU32(out, static_cast<uint32_t>(e));
    for (int32_t n : stats.m_mixtures) putU32(out, static_cast<uint32_t>(n));
    for (exactSum v : stats.m_frameSum) putExact(out, v);
    for (exactSum v : stats.m_frameSq) putExact(out, v);
    for (exactSum v : stats.m_values) putExact(out, v);
    putU64(out, fnv(FNV_OFFSET, out.data(), out.size()));

    filePtr f = openFileOrFail(path, "wb");
    bool ok = std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok)
        reportError(formatString("Error: cannot write the accumulator file %s (line %d of %s)", path.c_str(),
                                 __LINE__, UNIT));
}

trainStatsClass readTrainStats(const std::string& path) {
    const std::string bytes = readFileBytes(path);
    if (bytes.size() < sizeof MAGIC || std::memcmp(bytes.data(), MAGIC, sizeof MAGIC) != 0)
        reportError(formatString("Error: %s is not an accumulator file of recognize-tool train (line %d of %s)",
                                 path.c_str(), __LINE__, UNIT));
    statsReader in(bytes, path, sizeof MAGIC);
    const uint32_t version = in.u32("the version");
    if (version != FILE_VERSION)
        reportError(formatString("Error: the accumulator file %s has version %u; this program reads version %u "
                                 "(line %d of %s)",
                                 path.c_str(), version, FILE_VERSION, __LINE__, UNIT));
    if (bytes.size() < FIXED_HEADER_BYTES + CHECKSUM_BYTES)
        reportError(formatString("Error: the accumulator file %s is truncated: %zu bytes, fewer than its header "
                                 "(line %d of %s)",
                                 path.c_str(), bytes.size(), __LINE__, UNIT));
    // The checksum first: a damaged file is named as such, not by the first
    // field that happens to look wrong.
    const size_t body = bytes.size() - CHECKSUM_BYTES;
    statsReader tail(bytes, path, body);
    if (tail.u64("the checksum") != fnv(FNV_OFFSET, bytes.data(), body))
        reportError(formatString("Error: the accumulator file %s is corrupt or truncated: its checksum does not "
                                 "match (line %d of %s)",
                                 path.c_str(), __LINE__, UNIT));
    in.setEnd(body);

    trainStatsClass stats;
    stats.m_pass = static_cast<int32_t>(in.count("the pass", 0, INT32_MAX));
    const uint32_t shardIndex = in.count("the shard index", 1, INT32_MAX);
    const uint32_t shardCount = in.count("the shard count", shardIndex, INT32_MAX);
    stats.m_shardIndex = static_cast<int32_t>(shardIndex);
    stats.m_shardCount = static_cast<int32_t>(shardCount);
    stats.m_settingsKey = in.u64("the settings key");
    stats.m_modelKey = in.u64("the model key");
    const uint32_t dim = in.count("the feature dimension", 0, MAX_STREAM_NUM * MODEL_PARAM_NUM);
    const uint32_t streams = in.count("the stream count", 0, MAX_STREAM_NUM);
    const uint32_t modelNum = in.u32("the model count");
    stats.m_dim = static_cast<int32_t>(dim);
    stats.m_streamNum = static_cast<int32_t>(streams);
    stats.m_frames = in.i64("the frame count");
    stats.m_allFrames = in.i64("the frame count");
    stats.m_utterances = in.i32("the utterance count");
    stats.m_skipped = in.i32("the skipped count");
    stats.m_logLike = in.exact("the log likelihood");
    if (stats.m_frames < 0 || stats.m_allFrames < 0 || stats.m_utterances < 0 || stats.m_skipped < 0 ||
        (dim == 0 && stats.m_allFrames > 0) || (modelNum > 0 && streams == 0))
        reportError(formatString("Error: the accumulator file %s is malformed: its counts contradict each other "
                                 "(line %d of %s)",
                                 path.c_str(), __LINE__, UNIT));
    // Every model takes at least four bytes of sizes: the count is bounded by
    // the bytes before anything is allocated for it.
    in.need(static_cast<size_t>(modelNum) * 4, "the model sizes");
    stats.m_emitting.resize(modelNum);
    size_t mixtureEntries = 0;
    for (int32_t& e : stats.m_emitting) {
        e = static_cast<int32_t>(in.count("the emitting states of a model", 1, MAX_EMIT_STATE_NUM));
        mixtureEntries += static_cast<size_t>(e) * streams;
    }
    in.need(mixtureEntries * 4, "the component counts");
    stats.m_mixtures.resize(mixtureEntries);
    size_t values = 0, at = 0;
    for (size_t m = 0; m < modelNum; ++m) {
        stats.m_mixtureStart.push_back(at);
        stats.m_valueStart.push_back(values);
        values += 1 + 2 * static_cast<size_t>(stats.m_emitting[m]);
        for (size_t j = 0; j < static_cast<size_t>(stats.m_emitting[m]) * streams; ++j, ++at) {
            stats.m_mixtures[at] = static_cast<int32_t>(in.count("the components of a stream", 1, MAX_MIXTURE_NUM));
            values += static_cast<size_t>(stats.m_mixtures[at]) * VALUES_PER_COMPONENT;
        }
    }
    stats.m_mixtureStart.push_back(at);
    stats.m_valueStart.push_back(values);
    // The statistics must fill the rest of the file exactly; only then are
    // they allocated.
    const size_t expected = (2 * static_cast<size_t>(dim) + values) * 16;
    if (in.left() != expected)
        reportError(formatString("Error: the accumulator file %s is malformed or truncated: its sizes call for %zu "
                                 "bytes of statistics, it holds %zu (line %d of %s)",
                                 path.c_str(), expected, in.left(), __LINE__, UNIT));
    stats.m_frameSum.resize(dim);
    stats.m_frameSq.resize(dim);
    for (exactSum& v : stats.m_frameSum) v = in.exact("the frame sums");
    for (exactSum& v : stats.m_frameSq) v = in.exact("the frame squares");
    stats.m_values.resize(values);
    for (exactSum& v : stats.m_values) v = in.exact("the statistics");
    return stats;
}
