// Word confidence benchmark: how well the engine's word confidences tell right words from wrong ones.
//
//   confidence_bench words MODEL WAV REFERENCE
//       runs the tool's recognition steps on WAV (segments planned without turns, each voice learned first,
//       as the tool does by default, --threads 1) and prints one row per recognised word:
//       `posterior right word EVIDENCE...` (right: 1 when the word is paired with an equal reference word by a minimal
//       word alignment, fillers left out on both sides).
//   confidence_bench snr WAV
//       prints each segment's speech level over its noise floor (dB), the segments planned without turns.
//   confidence_bench fit ROWS...
//       fits a non-decreasing map of the posterior to the share of right words (pooled adjacent violators
//       on the rows' posteriors) and prints its knots, thinned to at most 24.
//   confidence_bench apply ROWS --fit-on TRAIN_ROWS...
//       prints ROWS with each posterior replaced by the map fitted on TRAIN_ROWS (held-out scoring).
//   confidence_bench cv INPUTS FOLD:SOURCE:ROWS...
//       fits the engine's confidence model on the inputs INPUTS (indices, comma-separated) of every fold but
//       one and scores that one, for each fold; prints per source the scores of the engine's shipped map
//       ("before"), of the model fitted on all folds ("fitted") and held out, then the fitted weights.
//   confidence_bench score LABEL ROWS... [--fit-on TRAIN_ROWS...]
//       prints, for the raw posterior and for the calibrated confidence (the engine's map, or one fitted on
//       TRAIN_ROWS): the area under the ROC curve (right against wrong), the expected calibration error (10
//       equal-width bins) and the share of the wrong words among the 20 % least confident.

#include "bench/recognition/word_scoring.h"
#include "engine/audio/noise_suppressor.h"
#include "engine/audio/pause_cutter.h"
#include "engine/decoders/confidence_calibration.h"
#include "engine/kelvo_asr.h"
#include "segments/segments.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
    double              posterior = 0;
    int                 right     = 0;
    std::vector<double> features; // the word's evidence, in the order evidence_values gives it
};

// The evidence of a word as numbers, in the order rows print them.
std::vector<double> evidence_values(const kelvo_asr::word_evidence & e) {
    return { e.node_posterior, e.word_posterior, e.mean_posterior,   e.competitor, e.filler,
             e.acoustic,       e.language,       e.frames_per_phone, e.snr,        e.segment_mean };
}

// For each hypothesis word, whether a minimal edit alignment pairs it with an equal reference word.
std::vector<int> right_words(const std::vector<std::string> & ref, const std::vector<std::string> & hyp) {
    const size_t                     n = ref.size(), m = hyp.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; i++) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= m; j++) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= n; i++) {
        for (size_t j = 1; j <= m; j++) {
            d[i][j] =
                std::min({ d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1) });
        }
    }
    std::vector<int> right(m, 0);
    size_t           i = n, j = m;
    while (i > 0 && j > 0) {
        const size_t diag = d[i - 1][j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1);
        if (d[i][j] == diag) {
            right[j - 1] = ref[i - 1] == hyp[j - 1] ? 1 : 0;
            i--;
            j--;
        } else if (d[i][j] == d[i][j - 1] + 1) {
            j--;
        } else {
            i--;
        }
    }
    return right;
}

// The segment's speech level over its noise floor in dB, measured as the recogniser measures it.
double segment_snr(const float * samples, int32_t n) {
    const kelvo_asr::sound_levels levels = kelvo_asr::measure_levels(
        samples, n, kelvo_asr::suppression_rule::floor_percentile, kelvo_asr::pause_rule::loud_percentile);
    return levels.speech_db - levels.floor_db;
}

// Prints the speech level over the noise floor of each segment of WAV, as planned without turns.
int snr(const std::string & wav) {
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(wav, samples, rate) || rate != 16000) {
        return 1;
    }
    for (const Segment & s : plan_segments({}, samples, rate)) {
        std::printf("%.2f\n", segment_snr(samples.data() + s.start, s.end - s.start));
    }
    return 0;
}

int words(const std::string & model, const std::string & wav, const std::string & reference) {
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(wav, samples, rate) || rate != 16000) {
        std::fprintf(stderr, "cannot read %s\n", wav.c_str());
        return 1;
    }
    kelvo_asr::KelvoASR asr;
    if (!asr.load_model(model)) {
        std::fprintf(stderr, "%s\n", asr.last_error().c_str());
        return 1;
    }
    const std::vector<Segment>   segments = plan_segments({}, samples, rate);
    kelvo_asr::transcribe_params params;
    params.n_threads = 1;
    params.print_log = false;
    params.adapt     = true;
    for (const Segment & s : segments) {
        params.listen_only = true;
        asr.transcribe(samples.data() + s.start, s.end - s.start, params);
    }
    params.listen_only     = false;
    params.word_confidence = true;
    std::vector<std::string>         hyp;
    std::vector<float>               posterior;
    std::vector<std::vector<double>> evidence;
    for (const Segment & s : segments) {
        std::vector<kelvo_asr::recorded_evidence> recorded;
        kelvo_asr::record_word_evidence(&recorded);
        const kelvo_asr::transcribe_result r = asr.transcribe(samples.data() + s.start, s.end - s.start, params);
        kelvo_asr::record_word_evidence(nullptr);
        const double snr  = segment_snr(samples.data() + s.start, s.end - s.start);
        double       mean = 0;
        for (const kelvo_asr::recorded_evidence & e : recorded) {
            mean += static_cast<double>(e.evidence.word_posterior) / static_cast<double>(recorded.size());
        }
        // The pieces are decoded in any order: each word takes the first unused evidence of the same entry
        // and posterior (pieces keep their words' order).
        std::vector<char>  used(recorded.size(), 0);
        std::istringstream in(r.text);
        std::string        w;
        for (size_t k = 0; in >> w; k++) {
            std::vector<double> values;
            for (size_t i = 0; k < r.word_posterior.size() && i < recorded.size(); i++) {
                std::string entry = recorded[i].word;
                entry             = entry.substr(0, entry.find('(') == 0 ? entry.size() : entry.find('('));
                if (used[i] == 0 && entry == w && recorded[i].evidence.node_posterior == r.word_posterior[k]) {
                    used[i]   = 1;
                    values    = evidence_values(recorded[i].evidence);
                    values[8] = snr;
                    values[9] = mean;
                    break;
                }
            }
            const std::string key = to_lower(make_match_key(w));
            if (!key.empty() && !is_filler(key) && k < r.word_posterior.size()) {
                hyp.push_back(key);
                posterior.push_back(r.word_posterior[k]);
                evidence.push_back(values);
            }
        }
    }
    const std::vector<int> right = right_words(keys_of(read_hypothesis(reference), true), hyp);
    for (size_t k = 0; k < hyp.size(); k++) {
        std::printf("%.6g %d %s", static_cast<double>(posterior[k]), right[k], hyp[k].c_str());
        for (const double v : evidence[k]) {
            std::printf(" %.6g", v);
        }
        std::printf("\n");
    }
    return 0;
}

std::vector<Row> read_rows(int argc, char ** argv, int from) {
    std::vector<Row> rows;
    for (int a = from; a < argc; a++) {
        std::ifstream in(argv[a]);
        std::string   line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            Row                r;
            std::string        word;
            if (fields >> r.posterior >> r.right) {
                fields >> word;
                for (double v = 0; fields >> v;) {
                    r.features.push_back(v);
                }
                rows.push_back(r);
            }
        }
    }
    return rows;
}

// Pooled adjacent violators: blocks of rows (sorted by posterior) whose share of right words rises.
struct Block {
    double lo, hi, right, n;
};

std::vector<Block> isotonic(std::vector<Row> rows) {
    std::sort(rows.begin(), rows.end(), [](const Row & a, const Row & b) { return a.posterior < b.posterior; });
    std::vector<Block> blocks;
    for (const Row & r : rows) {
        if (!blocks.empty() && blocks.back().hi == r.posterior) {
            blocks.back().right += r.right;
            blocks.back().n += 1;
        } else {
            blocks.push_back({ r.posterior, r.posterior, static_cast<double>(r.right), 1 });
        }
        while (blocks.size() > 1 &&
               blocks[blocks.size() - 2].right / blocks[blocks.size() - 2].n >= blocks.back().right / blocks.back().n) {
            Block b = blocks.back();
            blocks.pop_back();
            blocks.back().hi = b.hi;
            blocks.back().right += b.right;
            blocks.back().n += b.n;
        }
    }
    return blocks;
}

// The knots of a fit: one at each block's middle posterior, small neighbouring blocks merged so that no knot
// rests on fewer than 1 % of the rows (or 20), and the ends 0 and 1.
std::vector<std::pair<double, double>> fitted_knots(const std::vector<Row> & rows) {
    const std::vector<Block> blocks = isotonic(rows);
    std::vector<Block>       kept;
    const double             least = std::max(20.0, 0.01 * static_cast<double>(rows.size()));
    for (const Block & b : blocks) {
        if (!kept.empty() && kept.back().n < least) {
            kept.back().hi = b.hi;
            kept.back().right += b.right;
            kept.back().n += b.n;
        } else {
            kept.push_back(b);
        }
    }
    std::vector<std::pair<double, double>> knots;
    if (kept.empty()) {
        return knots;
    }
    knots.emplace_back(0.0, kept.front().right / kept.front().n);
    for (const Block & b : kept) {
        knots.emplace_back(0.5 * (b.lo + b.hi), b.right / b.n);
    }
    knots.emplace_back(1.0, kept.back().right / kept.back().n);
    return knots;
}

int fit(const std::vector<Row> & rows) {
    for (const auto & k : fitted_knots(rows)) {
        std::printf("{ %.4gf, %.3ff },\n", k.first, k.second);
    }
    return 0;
}

struct Quality {
    double auc = 0, ece = 0, lowest_share = 0;
};

Quality quality(std::vector<std::pair<double, int>> scored) {
    Quality q;
    size_t  wrong = 0, right = 0;
    for (const auto & s : scored) {
        (s.second ? right : wrong)++;
    }
    if (scored.empty() || wrong == 0 || right == 0) {
        return q;
    }
    std::sort(scored.begin(), scored.end());
    // Area under the ROC curve: the chance that a right word scores above a wrong one, ties counted half.
    double pairs       = 0;
    size_t wrong_below = 0;
    for (size_t i = 0; i < scored.size();) {
        size_t j = i, r = 0, w = 0;
        while (j < scored.size() && scored[j].first == scored[i].first) {
            (scored[j].second ? r : w)++;
            j++;
        }
        pairs += static_cast<double>(r) * (static_cast<double>(wrong_below) + 0.5 * static_cast<double>(w));
        wrong_below += w;
        i = j;
    }
    q.auc            = pairs / (static_cast<double>(right) * static_cast<double>(wrong));
    double bin_n[10] = {}, bin_conf[10] = {}, bin_right[10] = {};
    for (const auto & s : scored) {
        const int b = std::min(9, static_cast<int>(s.first * 10));
        bin_n[b] += 1;
        bin_conf[b] += s.first;
        bin_right[b] += s.second;
    }
    for (int b = 0; b < 10; b++) {
        q.ece += std::fabs(bin_conf[b] - bin_right[b]) / static_cast<double>(scored.size());
    }
    const size_t lowest          = scored.size() / 5;
    size_t       wrong_in_lowest = 0;
    for (size_t i = 0; i < lowest; i++) {
        wrong_in_lowest += scored[i].second ? 0 : 1;
    }
    q.lowest_share = static_cast<double>(wrong_in_lowest) / static_cast<double>(wrong);
    return q;
}

// With `train` rows, the calibration is fitted on them; without, it is the engine's.
int score(const std::string & label, const std::vector<Row> & rows, const std::vector<Row> & train) {
    const std::vector<std::pair<double, double>> knots = fitted_knots(train);
    std::vector<std::pair<double, int>>          raw, calibrated;
    size_t                                       right = 0;
    for (const Row & r : rows) {
        raw.emplace_back(r.posterior, r.right);
        calibrated.emplace_back(train.empty() ? kelvo_asr::calibrated_confidence(static_cast<float>(r.posterior))
                                              : kelvo_asr::interpolate_knots<double>(knots, r.posterior),
                                r.right);
        right += r.right;
    }
    const Quality a = quality(raw), b = quality(calibrated);
    std::printf("%-24s %6zu %6.1f   %5.3f %5.3f %5.1f   %5.3f %5.3f %5.1f\n", label.c_str(), rows.size(),
                rows.empty() ? 0.0
                             : 100.0 * static_cast<double>(rows.size() - right) / static_cast<double>(rows.size()),
                a.auc, a.ece, 100 * a.lowest_share, b.auc, b.ece, 100 * b.lowest_share);
    return 0;
}

// The inputs of the engine's confidence model for a row, those outside `use` set to 0, and a last 1 for the
// bias; empty when the row has no evidence.
std::vector<double> model_inputs(const Row & r, const std::vector<int> & use) {
    if (r.features.size() != 10) {
        return {};
    }
    kelvo_asr::word_evidence e;
    float * fields[] = { &e.node_posterior, &e.word_posterior, &e.mean_posterior,   &e.competitor, &e.filler,
                         &e.acoustic,       &e.language,       &e.frames_per_phone, &e.snr,        &e.segment_mean };
    for (size_t i = 0; i < 10; i++) {
        *fields[i] = static_cast<float>(r.features[i]);
    }
    const auto          all = kelvo_asr::confidence_inputs(e);
    std::vector<double> x(all.size() + 1, 0.0);
    for (const int i : use) {
        x[static_cast<size_t>(i)] = all[static_cast<size_t>(i)];
    }
    x.back() = 1;
    return x;
}

double sigmoid(double z) {
    return 1 / (1 + std::exp(-z));
}

// Logistic regression of right on the inputs (Newton's method, a light ridge), each row weighted by
// `weight`.
std::vector<double> fit_logistic(const std::vector<std::vector<double>> & x, const std::vector<int> & y,
                                 const std::vector<double> & weight) {
    const size_t        d = x.empty() ? 0 : x.front().size();
    std::vector<double> w(d, 0.0);
    for (int iteration = 0; iteration < 30; iteration++) {
        std::vector<double>              g(d, 0.0);
        std::vector<std::vector<double>> h(d, std::vector<double>(d, 0.0));
        for (size_t i = 0; i < d; i++) {
            g[i]    = -1e-2 * w[i];
            h[i][i] = 1e-2;
        }
        for (size_t n = 0; n < x.size(); n++) {
            double z = 0;
            for (size_t i = 0; i < d; i++) {
                z += w[i] * x[n][i];
            }
            const double p = sigmoid(z);
            for (size_t i = 0; i < d; i++) {
                g[i] += weight[n] * (y[n] - p) * x[n][i];
                for (size_t j = 0; j < d; j++) {
                    h[i][j] += weight[n] * p * (1 - p) * x[n][i] * x[n][j];
                }
            }
        }
        // Solve h * step = g (Gaussian elimination with partial pivoting).
        for (size_t c = 0; c < d; c++) {
            size_t pivot = c;
            for (size_t r = c + 1; r < d; r++) {
                if (std::fabs(h[r][c]) > std::fabs(h[pivot][c])) {
                    pivot = r;
                }
            }
            std::swap(h[c], h[pivot]);
            std::swap(g[c], g[pivot]);
            for (size_t r = 0; r < d; r++) {
                if (r != c && h[c][c] != 0) {
                    const double f = h[r][c] / h[c][c];
                    for (size_t k = c; k < d; k++) {
                        h[r][k] -= f * h[c][k];
                    }
                    g[r] -= f * g[c];
                }
            }
        }
        double moved = 0;
        for (size_t i = 0; i < d; i++) {
            const double step = h[i][i] != 0 ? g[i] / h[i][i] : 0;
            w[i] += step;
            moved = std::max(moved, std::fabs(step));
        }
        if (moved < 1e-7) {
            break;
        }
    }
    return w;
}

struct Labelled {
    std::string fold, source;
    Row         row;
};

// Rows of FOLD:SOURCE:PATH arguments.
std::vector<Labelled> read_labelled(int argc, char ** argv, int from) {
    std::vector<Labelled> all;
    for (int a = from; a < argc; a++) {
        const std::string arg = argv[a];
        const size_t      c1 = arg.find(':'), c2 = arg.find(':', c1 + 1);
        std::string       path  = arg.substr(c2 + 1);
        char *            one[] = { path.data() };
        for (const Row & r : read_rows(1, one, 0)) {
            all.push_back({ arg.substr(0, c1), arg.substr(c1 + 1, c2 - c1 - 1), r });
        }
    }
    return all;
}

// The model fitted on `train` (the inputs in `use`).
std::vector<double> fit_on(const std::vector<const Labelled *> & train, const std::vector<int> & use) {
    std::map<std::string, double> per_source;
    for (const Labelled * l : train) {
        per_source[l->source] += 1;
    }
    std::vector<std::vector<double>> x;
    std::vector<int>                 y;
    std::vector<double>              weight;
    for (const Labelled * l : train) {
        std::vector<double> in = model_inputs(l->row, use);
        if (in.empty()) {
            continue;
        }
        x.push_back(in);
        y.push_back(l->row.right);
        // Every row weighs the same; with WEIGH_SOURCES set, each source weighs as much as any other.
        weight.push_back(std::getenv("WEIGH_SOURCES") == nullptr
                             ? 1.0
                             : static_cast<double>(train.size()) /
                                   (static_cast<double>(per_source.size()) * per_source[l->source]));
    }
    return fit_logistic(x, y, weight);
}

double predict(const std::vector<double> & w, const std::vector<double> & x) {
    double z = 0;
    for (size_t i = 0; i < w.size() && i < x.size(); i++) {
        z += w[i] * x[i];
    }
    return sigmoid(z);
}

void print_quality(const std::string & label, const std::vector<std::pair<double, int>> & scored) {
    size_t wrong = 0;
    double sum   = 0;
    for (const auto & s : scored) {
        wrong += s.second ? 0 : 1;
        sum += s.first;
    }
    const Quality q = quality(scored);
    const double  n = std::max<double>(1, static_cast<double>(scored.size()));
    std::printf("%-28s %6zu %6.1f %6.1f   %5.3f %5.3f %5.1f\n", label.c_str(), scored.size(),
                100.0 * static_cast<double>(wrong) / n, 100.0 * (1 - sum / n), q.auc, q.ece, 100 * q.lowest_share);
}

// Cross-validation by fold: each fold scored by the model fitted on the others; then the fit on all (its
// scores on the rows it was fitted on, and its weights).
int cross_validate(const std::vector<int> & use, const std::vector<Labelled> & all) {
    std::map<std::string, std::vector<std::pair<double, int>>> held, fitted, raw;
    std::set<std::string>                                      folds;
    for (const Labelled & l : all) {
        folds.insert(l.fold);
    }
    std::vector<const Labelled *> everything;
    for (const Labelled & l : all) {
        everything.push_back(&l);
    }
    const std::vector<double> w_all = fit_on(everything, use);
    for (const std::string & fold : folds) {
        std::vector<const Labelled *> train;
        for (const Labelled & l : all) {
            if (l.fold != fold) {
                train.push_back(&l);
            }
        }
        const std::vector<double> w = fit_on(train, use);
        for (const Labelled & l : all) {
            if (l.fold == fold) {
                const std::vector<double> in = model_inputs(l.row, use);
                held[l.source].emplace_back(in.empty() ? 0.5 : predict(w, in), l.row.right);
                fitted[l.source].emplace_back(in.empty() ? 0.5 : predict(w_all, in), l.row.right);
                raw[l.source].emplace_back(kelvo_asr::calibrated_confidence(static_cast<float>(l.row.posterior)),
                                           l.row.right);
            }
        }
    }
    std::printf("%-28s %6s %6s %6s   %5s %5s %5s\n", "", "words", "wrong%", "said%", "auc", "ece", "low20");
    for (const auto & [source, scored] : raw) {
        print_quality(source + " before", scored);
        print_quality(source + " fitted", fitted[source]);
        print_quality(source + " held out", held[source]);
    }
    std::printf("weights:");
    for (const double v : w_all) {
        std::printf(" %.5g", v);
    }
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char ** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "words" && argc == 5) {
        return words(argv[2], argv[3], argv[4]);
    }
    if (mode == "snr" && argc == 3) {
        return snr(argv[2]);
    }
    if (mode == "fit" && argc >= 3) {
        return fit(read_rows(argc, argv, 2));
    }
    if (mode == "apply" && argc >= 5 && std::string(argv[3]) == "--fit-on") {
        const auto knots = fitted_knots(read_rows(argc, argv, 4));
        for (const Row & r : read_rows(3, argv, 2)) {
            std::printf("%.6g %d\n", kelvo_asr::interpolate_knots<double>(knots, r.posterior), r.right);
        }
        return 0;
    }
    if (mode == "score" && argc >= 4) {
        int split = 3;
        while (split < argc && std::string(argv[split]) != "--fit-on") {
            split++;
        }
        return score(argv[2], read_rows(split, argv, 3), read_rows(argc, argv, split + 1));
    }
    if (mode == "cv" && argc >= 4) {
        std::vector<int>   use;
        std::istringstream list(argv[2]);
        for (std::string item; std::getline(list, item, ',');) {
            use.push_back(std::stoi(item));
        }
        return cross_validate(use, read_labelled(argc, argv, 3));
    }
    std::fprintf(stderr, "usage: confidence_bench words MODEL WAV REFERENCE | fit ROWS... | apply ROWS --fit-on "
                         "ROWS... | score LABEL ROWS... [--fit-on ROWS...]\n");
    return 2;
}
