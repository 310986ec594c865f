#include "run/calibrationFit.h"

#include "run/utility.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <set>
#include <tuple>

using nlohmann::json;

namespace {

const char* const UNIT = "calibrationFit";
const double NONE = std::numeric_limits<double>::quiet_NaN();

std::string lowerLetters(const std::string& text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A family of mappings: which input groups it reads and whether each input
// also gets hinge terms.
struct familySpec {
    std::string name;
    bool groups[3];
    bool hinge;
};

std::vector<familySpec> familiesOf(int32_t level) {
    if (level == LEVEL_PHONE)
        return {{"ridge", {true, false, false}, false},
                {"ridge+context", {true, true, false}, false},
                {"hinge+context", {true, true, false}, true}};
    if (level == LEVEL_WORD)
        return {{"ridge", {true, false, false}, false},
                {"ridge+context", {true, true, false}, false},
                {"hinge+context", {true, true, false}, true},
                {"hinge+context+phones", {true, true, true}, true}};
    return {{"ridge", {true, false, false}, false},
            {"hinge", {true, false, false}, true},
            {"ridge+lower", {true, false, true}, false},
            {"hinge+lower", {true, false, true}, true}};
}

bool usesLower(const familySpec& f) { return f.groups[2]; }

// Per-fold sums and design of a mapping whose inputs do not depend on the folds.
struct foldCache {
    bool filled = false;
    std::vector<Eigen::MatrixXd> design;  // per fold: all its rows
    std::vector<Eigen::MatrixXd> gram;    // per fold: labelled rows, with the column of ones
    std::vector<Eigen::VectorXd> xty;
};

// A mapping of one level: its family, its standardized terms and offsets, penalties.
struct levelChoice {
    familySpec family{};
    std::vector<calibrationTerm> terms;
    std::vector<double> center, spread;
    std::vector<std::string> offsetPhones;
    std::map<std::string, int32_t> offsetIndex;
    double lambda = 1, offsetLambda = 1;
    foldCache cache;
    int32_t columns() const { return static_cast<int32_t>(terms.size() + offsetPhones.size()); }
};

// The units of one level (phones, words or sentences) over all samples.
struct levelRows {
    std::vector<int32_t> utt, word, phone, fold;
    std::vector<double> engine;
    std::vector<double> label[3];             // phones and words: label[0]; sentences: accuracy, fluency, total
    std::vector<std::vector<int32_t>> ofFold;  // rows per fold, in row order
    std::vector<int32_t> positionInFold;      // per row its position in ofFold[fold]
};

double clipToScale(int32_t level, double y) {
    float low, high;
    calibrationLevelScale(level, low, high);
    return std::min<double>(high, std::max<double>(low, y));
}

int32_t roundedClass(double score) { return std::max(0, std::min(2, roundToInt(score))); }

class calibrationFitter {
public:
    calibrationFitter(const std::vector<calibrationSample>& samples, const calibrationFitOptions& options)
        : m_samples(samples), m_options(options), m_folds(options.folds) {}

    calibrationFitReport run(calibrationClass& calibration);

private:
    const std::vector<calibrationSample>& m_samples;
    const calibrationFitOptions& m_options;
    int32_t m_folds;
    std::vector<int32_t> m_uttFold;
    std::vector<std::vector<int32_t>> m_uttOfFold;
    levelRows m_rows[3];
    levelChoice m_choice[LEVEL_NUM];
    std::map<std::tuple<int32_t, unsigned, int32_t>, std::vector<double>> m_memo;

    static int32_t kindOf(int32_t level) { return std::min(level, 2); }
    const levelRows& rowsOf(int32_t level) const { return m_rows[kindOf(level)]; }
    const std::vector<double>& labelsOf(int32_t level) const {
        return rowsOf(level).label[level >= LEVEL_SENTENCE ? level - LEVEL_SENTENCE : 0];
    }

    void buildRows();
    void inputsOfFold(int32_t level, const familySpec& family, int32_t fold, unsigned mask,
                      std::vector<std::vector<float>>& inputs);
    levelChoice prepareChoice(int32_t level, const familySpec& family);
    Eigen::MatrixXd design(int32_t level, levelChoice& choice, int32_t fold, unsigned mask);
    void foldSums(int32_t level, levelChoice& choice, int32_t fold, unsigned mask, Eigen::MatrixXd& gram,
                  Eigen::VectorXd& xty, const Eigen::MatrixXd* ready = nullptr);
    void trainingSums(int32_t level, levelChoice& choice, unsigned excluded, Eigen::MatrixXd& gram,
                      Eigen::VectorXd& xty);
    Eigen::VectorXd penalties(const levelChoice& choice, double lambda, double offsetLambda) const;
    const std::vector<double>& predictFold(int32_t level, unsigned mask, int32_t fold);
    std::vector<double> predictRows(int32_t level, const Eigen::MatrixXd& d, const ridgeSolution& s) const;
    double pooledPearson(int32_t level, const std::vector<std::vector<double>>& perFold) const;
    void chooseLevel(int32_t level, levelFitReport& report);
    void finalModel(int32_t level, levelModel& model);
};

void calibrationFitter::buildRows() {
    std::vector<std::string> speakers;
    for (const calibrationSample& s : m_samples) speakers.push_back(s.measured.speaker);
    m_uttFold = speakerFolds(speakers, m_folds);
    m_uttOfFold.assign(static_cast<size_t>(m_folds), {});
    for (size_t u = 0; u < m_samples.size(); ++u) m_uttOfFold[static_cast<size_t>(m_uttFold[u])].push_back(static_cast<int32_t>(u));

    for (levelRows& r : m_rows) r = levelRows();
    for (size_t u = 0; u < m_samples.size(); ++u) {
        const measuredUtterance& m = m_samples[u].measured;
        const humanUtterance& h = m_samples[u].human;
        const utterancePairing pairing = pairUtterance(m, h);
        const int32_t fold = m_uttFold[u];
        for (size_t w = 0; w < m.words.size(); ++w) {
            const int32_t hw = pairing.humanWord[w];
            for (size_t p = 0; p < m.words[w].phones.size(); ++p) {
                levelRows& r = m_rows[0];
                r.utt.push_back(static_cast<int32_t>(u));
                r.word.push_back(static_cast<int32_t>(w));
                r.phone.push_back(static_cast<int32_t>(p));
                r.fold.push_back(fold);
                r.engine.push_back(m.words[w].phones[p].engineScore);
                const int32_t hp = pairing.humanPhone[w][p];
                r.label[0].push_back(hw >= 0 && hp >= 0
                                         ? h.words[static_cast<size_t>(hw)].phoneAccuracy[static_cast<size_t>(hp)]
                                         : NONE);
            }
            levelRows& r = m_rows[1];
            r.utt.push_back(static_cast<int32_t>(u));
            r.word.push_back(static_cast<int32_t>(w));
            r.phone.push_back(-1);
            r.fold.push_back(fold);
            r.engine.push_back(m.words[w].engineScore);
            r.label[0].push_back(hw >= 0 && h.words[static_cast<size_t>(hw)].accuracy >= 0
                                     ? h.words[static_cast<size_t>(hw)].accuracy
                                     : NONE);
        }
        if (m.words.empty()) continue;
        levelRows& r = m_rows[2];
        r.utt.push_back(static_cast<int32_t>(u));
        r.word.push_back(-1);
        r.phone.push_back(-1);
        r.fold.push_back(fold);
        r.engine.push_back(m.engineScore);
        r.label[0].push_back(h.accuracy >= 0 ? h.accuracy : NONE);
        r.label[1].push_back(h.fluency >= 0 ? h.fluency : NONE);
        r.label[2].push_back(h.total >= 0 ? h.total : NONE);
    }
    for (levelRows& r : m_rows) {
        r.ofFold.assign(static_cast<size_t>(m_folds), {});
        r.positionInFold.resize(r.utt.size());
        for (size_t i = 0; i < r.utt.size(); ++i) {
            auto& list = r.ofFold[static_cast<size_t>(r.fold[i])];
            r.positionInFold[i] = static_cast<int32_t>(list.size());
            list.push_back(static_cast<int32_t>(i));
        }
    }
}

// The inputs of every row of a fold; the lower levels' predictions, where the
// family reads them, from the models that exclude the folds of mask.
void calibrationFitter::inputsOfFold(int32_t level, const familySpec& family, int32_t fold, unsigned mask,
                                     std::vector<std::vector<float>>& inputs) {
    const levelRows& rows = rowsOf(level);
    const std::vector<int32_t>& list = rows.ofFold[static_cast<size_t>(fold)];
    inputs.assign(list.size(), {});
    const std::vector<double>* phonePred = nullptr;
    const std::vector<double>* wordPred = nullptr;
    if (usesLower(family) && level >= LEVEL_WORD) phonePred = &predictFold(LEVEL_PHONE, mask, fold);
    if (usesLower(family) && level >= LEVEL_SENTENCE) wordPred = &predictFold(LEVEL_WORD, mask, fold);

    // Rows of an utterance lie together; its lower predictions are gathered once.
    lowerPredictions lower;
    int32_t current = -1;
    size_t phoneCursor = 0, wordCursor = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const int32_t row = list[i];
        const int32_t u = rows.utt[static_cast<size_t>(row)];
        const measuredUtterance& m = m_samples[static_cast<size_t>(u)].measured;
        if (u != current) {
            current = u;
            lower = lowerPredictions();
            if (phonePred) {
                // The phone rows of this utterance, in the fold's order.
                const levelRows& pr = m_rows[0];
                const auto& plist = pr.ofFold[static_cast<size_t>(fold)];
                while (phoneCursor < plist.size() && pr.utt[static_cast<size_t>(plist[phoneCursor])] < u) ++phoneCursor;
                lower.phone.resize(m.words.size());
                for (size_t w = 0; w < m.words.size(); ++w)
                    for (size_t p = 0; p < m.words[w].phones.size(); ++p)
                        lower.phone[w].push_back(static_cast<float>((*phonePred)[phoneCursor++]));
            }
            if (wordPred) {
                const levelRows& wr = m_rows[1];
                const auto& wlist = wr.ofFold[static_cast<size_t>(fold)];
                while (wordCursor < wlist.size() && wr.utt[static_cast<size_t>(wlist[wordCursor])] < u) ++wordCursor;
                for (size_t w = 0; w < m.words.size(); ++w)
                    lower.word.push_back(static_cast<float>((*wordPred)[wordCursor++]));
            }
        }
        calibrationInputs(m, level, rows.word[static_cast<size_t>(row)], rows.phone[static_cast<size_t>(row)], lower,
                          inputs[i]);
    }
}

// The terms of a family: every input of its groups, with hinge knots at the
// quantiles of the labelled rows; centres and spreads over those rows (the
// lower levels' predictions from the models that exclude only their own fold).
levelChoice calibrationFitter::prepareChoice(int32_t level, const familySpec& family) {
    levelChoice choice;
    choice.family = family;
    const std::vector<double>& labels = labelsOf(level);
    const levelRows& rows = rowsOf(level);
    std::vector<std::vector<float>> all;
    for (int32_t f = 0; f < m_folds; ++f) {
        std::vector<std::vector<float>> inputs;
        inputsOfFold(level, family, f, 0, inputs);
        const auto& list = rows.ofFold[static_cast<size_t>(f)];
        for (size_t i = 0; i < list.size(); ++i)
            if (!std::isnan(labels[static_cast<size_t>(list[i])])) all.push_back(std::move(inputs[i]));
    }
    const int32_t inputNum = static_cast<int32_t>(calibrationInputNames(level).size());
    std::vector<calibrationTerm> candidates;
    for (int32_t k = 0; k < inputNum; ++k) {
        if (!family.groups[calibrationInputGroup(level, k)]) continue;
        candidates.push_back({k, false, 0.0f});
        if (!family.hinge || all.empty()) continue;
        std::vector<float> values;
        for (const auto& in : all) values.push_back(in[static_cast<size_t>(k)]);
        std::sort(values.begin(), values.end());
        float last = std::numeric_limits<float>::quiet_NaN();
        for (double q : m_options.knotQuantiles) {
            float knot = values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
            if (knot == last || knot == values.back()) continue;
            last = knot;
            candidates.push_back({k, true, knot});
        }
    }
    for (const calibrationTerm& t : candidates) {
        double sum = 0, sum2 = 0;
        for (const auto& in : all) {
            double x = in[static_cast<size_t>(t.input)];
            double v = t.hinge ? std::max(0.0, x - static_cast<double>(t.knot)) : x;
            sum += v;
            sum2 += v * v;
        }
        const double n = std::max<double>(1.0, static_cast<double>(all.size()));
        const double mean = sum / n;
        const double sd = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
        if (!(sd > 1e-6 * std::max(1.0, std::fabs(mean)))) continue;
        choice.terms.push_back(t);
        // Stored as float in the file: the fit uses the rounded values.
        choice.center.push_back(static_cast<float>(mean));
        choice.spread.push_back(static_cast<float>(sd));
    }
    if (level == LEVEL_PHONE) {
        std::set<std::string> phones;
        for (size_t i = 0; i < rows.utt.size(); ++i) {
            if (std::isnan(labels[i])) continue;
            const measuredUtterance& m = m_samples[static_cast<size_t>(rows.utt[i])].measured;
            phones.insert(m.words[static_cast<size_t>(rows.word[i])].phones[static_cast<size_t>(rows.phone[i])].phone);
        }
        for (const std::string& p : phones) {
            choice.offsetIndex[p] = static_cast<int32_t>(choice.offsetPhones.size());
            choice.offsetPhones.push_back(p);
        }
    }
    return choice;
}

Eigen::MatrixXd calibrationFitter::design(int32_t level, levelChoice& choice, int32_t fold, unsigned mask) {
    if (choice.cache.filled) return choice.cache.design[static_cast<size_t>(fold)];
    std::vector<std::vector<float>> inputs;
    inputsOfFold(level, choice.family, fold, mask, inputs);
    const levelRows& rows = rowsOf(level);
    const auto& list = rows.ofFold[static_cast<size_t>(fold)];
    const size_t termNum = choice.terms.size();
    Eigen::MatrixXd d = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(list.size()), choice.columns());
    for (size_t i = 0; i < list.size(); ++i) {
        const std::vector<float>& in = inputs[i];
        for (size_t t = 0; t < termNum; ++t) {
            const calibrationTerm& term = choice.terms[t];
            double x = in[static_cast<size_t>(term.input)];
            double v = term.hinge ? std::max(0.0, x - static_cast<double>(term.knot)) : x;
            d(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(t)) = (v - choice.center[t]) / choice.spread[t];
        }
        if (level == LEVEL_PHONE) {
            const int32_t row = list[i];
            const measuredUtterance& m = m_samples[static_cast<size_t>(rows.utt[static_cast<size_t>(row)])].measured;
            const std::string& phone = m.words[static_cast<size_t>(rows.word[static_cast<size_t>(row)])]
                                           .phones[static_cast<size_t>(rows.phone[static_cast<size_t>(row)])]
                                           .phone;
            auto it = choice.offsetIndex.find(phone);
            if (it != choice.offsetIndex.end())
                d(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(termNum) + it->second) = 1.0;
        }
    }
    return d;
}

// Sums of the labelled rows of one fold: [D 1]^T [D 1] and [D 1]^T y.
void calibrationFitter::foldSums(int32_t level, levelChoice& choice, int32_t fold, unsigned mask,
                                 Eigen::MatrixXd& gram, Eigen::VectorXd& xty, const Eigen::MatrixXd* ready) {
    Eigen::MatrixXd d = ready ? *ready : design(level, choice, fold, mask);
    const std::vector<double>& labels = labelsOf(level);
    const auto& list = rowsOf(level).ofFold[static_cast<size_t>(fold)];
    std::vector<Eigen::Index> labelled;
    for (size_t i = 0; i < list.size(); ++i)
        if (!std::isnan(labels[static_cast<size_t>(list[i])])) labelled.push_back(static_cast<Eigen::Index>(i));
    const Eigen::Index cols = d.cols() + 1;
    Eigen::MatrixXd a(static_cast<Eigen::Index>(labelled.size()), cols);
    Eigen::VectorXd y(static_cast<Eigen::Index>(labelled.size()));
    for (size_t k = 0; k < labelled.size(); ++k) {
        a.row(static_cast<Eigen::Index>(k)).head(d.cols()) = d.row(labelled[k]);
        a(static_cast<Eigen::Index>(k), cols - 1) = 1.0;
        y(static_cast<Eigen::Index>(k)) = labels[static_cast<size_t>(list[static_cast<size_t>(labelled[k])])];
    }
    gram = Eigen::MatrixXd::Zero(cols, cols);
    gram.selfadjointView<Eigen::Lower>().rankUpdate(a.transpose());
    gram.triangularView<Eigen::StrictlyUpper>() = gram.transpose();
    xty = a.transpose() * y;
}

// Sums of the labelled rows of every fold outside excluded, the lower
// predictions of a fold g from the models that exclude excluded and g.
void calibrationFitter::trainingSums(int32_t level, levelChoice& choice, unsigned excluded, Eigen::MatrixXd& gram,
                                     Eigen::VectorXd& xty) {
    const Eigen::Index cols = choice.columns() + 1;
    gram = Eigen::MatrixXd::Zero(cols, cols);
    xty = Eigen::VectorXd::Zero(cols);
    for (int32_t g = 0; g < m_folds; ++g) {
        if (excluded & (1u << g)) continue;
        if (choice.cache.filled) {
            gram += choice.cache.gram[static_cast<size_t>(g)];
            xty += choice.cache.xty[static_cast<size_t>(g)];
            continue;
        }
        Eigen::MatrixXd gg;
        Eigen::VectorXd gy;
        foldSums(level, choice, g, excluded, gg, gy);
        gram += gg;
        xty += gy;
    }
}

Eigen::VectorXd calibrationFitter::penalties(const levelChoice& choice, double lambda, double offsetLambda) const {
    Eigen::VectorXd pen(choice.columns());
    for (Eigen::Index k = 0; k < pen.size(); ++k)
        pen(k) = static_cast<size_t>(k) < choice.terms.size() ? lambda : offsetLambda;
    return pen;
}

std::vector<double> calibrationFitter::predictRows(int32_t level, const Eigen::MatrixXd& d,
                                                   const ridgeSolution& s) const {
    Eigen::VectorXd y = d * s.weights;
    std::vector<double> out(static_cast<size_t>(y.size()));
    for (Eigen::Index i = 0; i < y.size(); ++i) out[static_cast<size_t>(i)] = clipToScale(level, y(i) + s.intercept);
    return out;
}

// Predictions of a level's chosen mapping for the rows of a fold, from the
// model fitted on every fold outside mask and the fold itself.
const std::vector<double>& calibrationFitter::predictFold(int32_t level, unsigned mask, int32_t fold) {
    auto key = std::make_tuple(level, mask, fold);
    auto it = m_memo.find(key);
    if (it != m_memo.end()) return it->second;
    levelChoice& choice = m_choice[level];
    Eigen::MatrixXd gram;
    Eigen::VectorXd xty;
    trainingSums(level, choice, mask | (1u << fold), gram, xty);
    ridgeSolution s = solveRidge(gram, xty, penalties(choice, choice.lambda, choice.offsetLambda));
    std::vector<double> pred = predictRows(level, design(level, choice, fold, mask), s);
    return m_memo.emplace(key, std::move(pred)).first->second;
}

double calibrationFitter::pooledPearson(int32_t level, const std::vector<std::vector<double>>& perFold) const {
    const levelRows& rows = rowsOf(level);
    const std::vector<double>& labels = labelsOf(level);
    std::vector<double> a, b;
    for (int32_t f = 0; f < m_folds; ++f) {
        const auto& list = rows.ofFold[static_cast<size_t>(f)];
        for (size_t i = 0; i < list.size(); ++i) {
            double y = labels[static_cast<size_t>(list[i])];
            if (std::isnan(y)) continue;
            a.push_back(perFold[static_cast<size_t>(f)][i]);
            b.push_back(y);
        }
    }
    return pearsonCorrelation(a, b);
}

// Cross-validates every family and penalty of a level and keeps the best.
void calibrationFitter::chooseLevel(int32_t level, levelFitReport& report) {
    const levelRows& rows = rowsOf(level);
    const std::vector<double>& labels = labelsOf(level);
    std::vector<double> engine, human;
    for (size_t i = 0; i < labels.size(); ++i) {
        if (std::isnan(labels[i])) continue;
        engine.push_back(rows.engine[i]);
        human.push_back(labels[i]);
    }
    report.units = human.size();
    report.enginePearson = pearsonCorrelation(engine, human);
    if (human.size() < 3)
        reportError(formatString("Error: %zu units of level %s carry human scores; too few to fit (line %d of file %s)",
                                 human.size(), calibrationLevelName(level), __LINE__, UNIT));

    const std::vector<double> noOffsets = {0.0};
    const std::vector<double>& offsetLambdas = level == LEVEL_PHONE ? m_options.offsetLambdas : noOffsets;
    double bestPearson = -2;
    levelChoice best;
    std::vector<std::vector<double>> bestPredictions;
    for (const familySpec& family : familiesOf(level)) {
        levelChoice choice = prepareChoice(level, family);
        if (!usesLower(family)) {
            // Inputs that do not depend on the folds: designs and sums once per fold.
            for (int32_t f = 0; f < m_folds; ++f) {
                choice.cache.design.push_back(design(level, choice, f, 0));
                Eigen::MatrixXd g;
                Eigen::VectorXd y;
                foldSums(level, choice, f, 0, g, y, &choice.cache.design.back());
                choice.cache.gram.push_back(g);
                choice.cache.xty.push_back(y);
            }
            choice.cache.filled = true;
        }
        const size_t combos = m_options.lambdas.size() * offsetLambdas.size();
        std::vector<std::vector<std::vector<double>>> predictions(combos,
                                                                  std::vector<std::vector<double>>(static_cast<size_t>(m_folds)));
        for (int32_t f = 0; f < m_folds; ++f) {
            Eigen::MatrixXd gram;
            Eigen::VectorXd xty;
            trainingSums(level, choice, 1u << f, gram, xty);
            Eigen::MatrixXd held = design(level, choice, f, 0);
            size_t c = 0;
            for (double lambda : m_options.lambdas)
                for (double offsetLambda : offsetLambdas) {
                    ridgeSolution s = solveRidge(gram, xty, penalties(choice, lambda, offsetLambda));
                    predictions[c++][static_cast<size_t>(f)] = predictRows(level, held, s);
                }
        }
        familyScore familyBest;
        familyBest.family = family.name;
        familyBest.pearson = -2;
        size_t c = 0, bestCombo = 0;
        for (double lambda : m_options.lambdas)
            for (double offsetLambda : offsetLambdas) {
                double r = pooledPearson(level, predictions[c]);
                if (r > familyBest.pearson) {
                    familyBest.pearson = r;
                    familyBest.lambda = lambda;
                    familyBest.offsetLambda = offsetLambda;
                    bestCombo = c;
                }
                ++c;
            }
        report.best.push_back(familyBest);
        if (familyBest.pearson > bestPearson) {
            bestPearson = familyBest.pearson;
            choice.lambda = familyBest.lambda;
            choice.offsetLambda = familyBest.offsetLambda;
            best = std::move(choice);
            bestPredictions = std::move(predictions[bestCombo]);
        }
    }
    m_choice[level] = best;
    report.pearson = bestPearson;
    report.chosen = {best.family.name, best.lambda, best.offsetLambda, bestPearson};
    // The outer predictions are those of the choice with no fold excluded
    // but its own; keep them for the levels above.
    for (int32_t f = 0; f < m_folds; ++f) m_memo[std::make_tuple(level, 0u, f)] = bestPredictions[static_cast<size_t>(f)];

    if (level == LEVEL_PHONE) {
        size_t right = 0, engineRight = 0, n = 0;
        std::map<int32_t, size_t> classCount;
        for (int32_t f = 0; f < m_folds; ++f) {
            const auto& list = rows.ofFold[static_cast<size_t>(f)];
            for (size_t i = 0; i < list.size(); ++i) {
                double y = labels[static_cast<size_t>(list[i])];
                if (std::isnan(y)) continue;
                const int32_t truth = roundedClass(y);
                right += roundedClass(bestPredictions[static_cast<size_t>(f)][i]) == truth;
                engineRight += roundedClass(rows.engine[static_cast<size_t>(list[i])] / 50.0) == truth;
                ++classCount[truth];
                ++n;
            }
        }
        size_t majority = 0;
        for (const auto& entry : classCount) majority = std::max(majority, entry.second);
        report.classAccuracy = n ? static_cast<double>(right) / static_cast<double>(n) : 0;
        report.engineClassAccuracy = n ? static_cast<double>(engineRight) / static_cast<double>(n) : 0;
        report.majorityClassAccuracy = n ? static_cast<double>(majority) / static_cast<double>(n) : 0;
    }
}

// The chosen mapping fitted on every fold.
void calibrationFitter::finalModel(int32_t level, levelModel& model) {
    levelChoice& choice = m_choice[level];
    Eigen::MatrixXd gram;
    Eigen::VectorXd xty;
    trainingSums(level, choice, 0u, gram, xty);
    ridgeSolution s = solveRidge(gram, xty, penalties(choice, choice.lambda, choice.offsetLambda));
    model = levelModel();
    model.fitted = true;
    model.family = choice.family.name;
    model.lambda = static_cast<float>(choice.lambda);
    model.offsetLambda = static_cast<float>(choice.offsetLambda);
    model.terms = choice.terms;
    for (size_t t = 0; t < choice.terms.size(); ++t) {
        model.center.push_back(static_cast<float>(choice.center[t]));
        model.spread.push_back(static_cast<float>(choice.spread[t]));
        model.weights.push_back(static_cast<float>(s.weights(static_cast<Eigen::Index>(t))));
    }
    model.intercept = static_cast<float>(s.intercept);
    for (size_t k = 0; k < choice.offsetPhones.size(); ++k)
        model.offsets[choice.offsetPhones[k]] =
            static_cast<float>(s.weights(static_cast<Eigen::Index>(choice.terms.size() + k)));
}

calibrationFitReport calibrationFitter::run(calibrationClass& calibration) {
    int64_t start = clockMs();
    calibrationFitReport report;
    std::set<std::string> speakers;
    for (const calibrationSample& s : m_samples) speakers.insert(s.measured.speaker);
    if (m_folds < 2 || m_folds > 16)
        reportError(formatString("Error: %d folds; the cross-validation takes 2 to 16 (line %d of file %s)", m_folds,
                                 __LINE__, UNIT));
    if (static_cast<int32_t>(speakers.size()) < m_folds)
        reportError(formatString("Error: %zu speakers for %d folds; every fold needs a speaker of its own "
                                 "(line %d of file %s)",
                                 speakers.size(), m_folds, __LINE__, UNIT));
    report.recordings = m_samples.size();
    report.speakers = speakers.size();
    report.folds = m_folds;
    buildRows();
    for (int32_t level = 0; level < LEVEL_NUM; ++level) {
        chooseLevel(level, report.levels[level]);
        finalModel(level, calibration.levels[level]);
        calibration.levels[level].enginePearson = static_cast<float>(report.levels[level].enginePearson);
        calibration.levels[level].pearson = static_cast<float>(report.levels[level].pearson);
    }
    calibration.training = {{"recordings", report.recordings},
                            {"speakers", report.speakers},
                            {"folds", report.folds},
                            {"phones", report.levels[LEVEL_PHONE].units},
                            {"words", report.levels[LEVEL_WORD].units}};
    report.seconds = elapsedSeconds(start);
    return report;
}

}  // namespace

std::string engineSpellingOfPhone(const std::string& phone) {
    std::string out;
    for (char c : phone)
        if (!std::isdigit(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::map<std::string, humanUtterance> readHumanScores(const std::string& path) {
    json doc = json::parse(readFileBytes(path), nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        reportError(formatString("Error: human scores %s are not a JSON object (line %d of file %s)", path.c_str(),
                                 __LINE__, UNIT));
    std::map<std::string, humanUtterance> scores;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const json& r = it.value();
        humanUtterance h;
        try {
            h.accuracy = r.at("accuracy").get<float>();
            h.fluency = r.at("fluency").get<float>();
            h.total = r.at("total").get<float>();
            h.completeness = r.value("completeness", -1.0f);
            h.prosodic = r.value("prosodic", -1.0f);
            for (const json& jw : r.value("words", json::array())) {
                humanWord w;
                w.text = jw.value("text", std::string());
                w.accuracy = jw.value("accuracy", -1.0f);
                for (const json& p : jw.value("phones", json::array()))
                    w.phones.push_back(engineSpellingOfPhone(p.get<std::string>()));
                for (const json& a : jw.value("phones-accuracy", json::array())) w.phoneAccuracy.push_back(a.get<float>());
                if (w.phones.size() != w.phoneAccuracy.size())
                    reportError(formatString("Error: word \"%s\" of %s in %s has %zu phones and %zu phone scores "
                                             "(line %d of file %s)",
                                             w.text.c_str(), it.key().c_str(), path.c_str(), w.phones.size(),
                                             w.phoneAccuracy.size(), __LINE__, UNIT));
                h.words.push_back(std::move(w));
            }
        } catch (const json::exception& e) {
            reportError(formatString("Error: the scores of %s in %s do not parse: %s (line %d of file %s)",
                                     it.key().c_str(), path.c_str(), e.what(), __LINE__, UNIT));
        }
        scores[it.key()] = std::move(h);
    }
    return scores;
}

std::vector<std::pair<int32_t, int32_t>> alignSequences(const std::vector<std::string>& a,
                                                        const std::vector<std::string>& b) {
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<int32_t>> cost(n + 1, std::vector<int32_t>(m + 1, 0));
    for (size_t i = 0; i <= n; ++i) cost[i][0] = static_cast<int32_t>(i);
    for (size_t j = 0; j <= m; ++j) cost[0][j] = static_cast<int32_t>(j);
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j)
            cost[i][j] = std::min({cost[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1), cost[i - 1][j] + 1,
                                   cost[i][j - 1] + 1});
    std::vector<std::pair<int32_t, int32_t>> pairs;
    size_t i = n, j = m;
    while (i > 0 && j > 0) {
        if (cost[i][j] == cost[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)) {
            pairs.emplace_back(static_cast<int32_t>(i - 1), static_cast<int32_t>(j - 1));
            --i;
            --j;
        } else if (cost[i][j] == cost[i - 1][j] + 1) {
            --i;
        } else {
            --j;
        }
    }
    std::reverse(pairs.begin(), pairs.end());
    return pairs;
}

utterancePairing pairUtterance(const measuredUtterance& engine, const humanUtterance& human) {
    utterancePairing pairing;
    const size_t n = engine.words.size();
    pairing.humanWord.assign(n, -1);
    pairing.humanPhone.resize(n);
    for (size_t w = 0; w < n; ++w) pairing.humanPhone[w].assign(engine.words[w].phones.size(), -1);
    if (n == human.words.size()) {
        for (size_t w = 0; w < n; ++w) pairing.humanWord[w] = static_cast<int32_t>(w);
    } else {
        std::vector<std::string> a, b;
        for (const measuredWord& w : engine.words) a.push_back(lowerLetters(w.text));
        for (const humanWord& w : human.words) b.push_back(lowerLetters(w.text));
        for (const auto& p : alignSequences(a, b)) pairing.humanWord[static_cast<size_t>(p.first)] = p.second;
    }
    for (size_t w = 0; w < n; ++w) {
        if (pairing.humanWord[w] < 0) continue;
        const humanWord& hw = human.words[static_cast<size_t>(pairing.humanWord[w])];
        const std::vector<measuredPhone>& phones = engine.words[w].phones;
        if (phones.size() == hw.phones.size()) {
            for (size_t p = 0; p < phones.size(); ++p) pairing.humanPhone[w][p] = static_cast<int32_t>(p);
            continue;
        }
        std::vector<std::string> a;
        for (const measuredPhone& p : phones) a.push_back(p.phone);
        for (const auto& p : alignSequences(a, hw.phones)) pairing.humanPhone[w][static_cast<size_t>(p.first)] = p.second;
    }
    return pairing;
}

std::vector<int32_t> speakerFolds(const std::vector<std::string>& speakers, int32_t foldNum) {
    std::map<std::string, int32_t> foldOf;
    std::map<std::string, size_t> count;
    std::vector<std::string> order;
    for (const std::string& s : speakers) {
        if (count[s]++ == 0) order.push_back(s);
    }
    std::vector<size_t> load(static_cast<size_t>(std::max(1, foldNum)), 0);
    for (const std::string& s : order) {
        size_t f = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        foldOf[s] = static_cast<int32_t>(f);
        load[f] += count[s];
    }
    std::vector<int32_t> folds;
    for (const std::string& s : speakers) folds.push_back(foldOf[s]);
    return folds;
}

ridgeSolution solveRidge(const Eigen::MatrixXd& gram, const Eigen::VectorXd& xty, const Eigen::VectorXd& penalty) {
    const Eigen::Index p = penalty.size();
    if (gram.rows() != p + 1 || gram.cols() != p + 1 || xty.size() != p + 1)
        reportError(formatString("Error: ridge sums of %lld columns for %lld penalties (line %d of file %s)",
                                 static_cast<long long>(gram.cols()), static_cast<long long>(p), __LINE__, UNIT));
    Eigen::MatrixXd a = gram;
    a.diagonal().head(p) += penalty;
    // A tiny ridge on the intercept keeps an empty training set solvable.
    a(p, p) += 1e-9;
    Eigen::VectorXd w = a.ldlt().solve(xty);
    ridgeSolution s;
    s.weights = w.head(p);
    s.intercept = w(p);
    return s;
}

ridgeSolution fitRidge(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& penalty) {
    if (x.rows() != y.size() || x.cols() != penalty.size())
        reportError(formatString("Error: a ridge design of %lld x %lld with %lld targets and %lld penalties "
                                 "(line %d of file %s)",
                                 static_cast<long long>(x.rows()), static_cast<long long>(x.cols()),
                                 static_cast<long long>(y.size()), static_cast<long long>(penalty.size()), __LINE__,
                                 UNIT));
    Eigen::MatrixXd a(x.rows(), x.cols() + 1);
    a << x, Eigen::VectorXd::Ones(x.rows());
    return solveRidge(a.transpose() * a, a.transpose() * y, penalty);
}

double pearsonCorrelation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = std::min(a.size(), b.size());
    if (n < 2) return 0;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(n);
    mb /= static_cast<double>(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    if (saa <= 0 || sbb <= 0) return 0;
    return sab / std::sqrt(saa * sbb);
}

calibrationFitReport fitCalibration(const std::vector<calibrationSample>& samples,
                                    const calibrationFitOptions& options, calibrationClass& calibration) {
    calibrationFitter fitter(samples, options);
    return fitter.run(calibration);
}
