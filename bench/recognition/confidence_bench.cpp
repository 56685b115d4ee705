// Word confidence benchmark: how well the engine's word confidences tell right words from wrong ones.
//
//   confidence_bench words MODEL WAV REFERENCE
//       runs the tool's recognition steps on WAV (segments planned without turns, each voice learned first,
//       as the tool does by default, --threads 1) and prints one row per recognised word:
//       `posterior right` (right: 1 when the word is paired with an equal reference word by a minimal
//       word alignment, fillers left out on both sides).
//   confidence_bench fit ROWS...
//       fits a non-decreasing map of the posterior to the share of right words (pooled adjacent violators
//       on the rows' posteriors) and prints its knots, thinned to at most 24.
//   confidence_bench apply ROWS --fit-on TRAIN_ROWS...
//       prints ROWS with each posterior replaced by the map fitted on TRAIN_ROWS (held-out scoring).
//   confidence_bench score LABEL ROWS... [--fit-on TRAIN_ROWS...]
//       prints, for the raw posterior and for the calibrated confidence (the engine's map, or one fitted on
//       TRAIN_ROWS): the area under the ROC curve (right against wrong), the expected calibration error (10
//       equal-width bins) and the share of the wrong words among the 20 % least confident.

#include "bench/recognition/word_scoring.h"
#include "engine/decoders/confidence_calibration.h"
#include "engine/kelvo_asr.h"
#include "segments/segments.h"
#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
    double posterior = 0;
    int    right     = 0;
};

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
    std::vector<std::string> hyp;
    std::vector<float>       posterior;
    for (const Segment & s : segments) {
        const kelvo_asr::transcribe_result r = asr.transcribe(samples.data() + s.start, s.end - s.start, params);
        std::istringstream                 in(r.text);
        std::string                        w;
        for (size_t k = 0; in >> w; k++) {
            const std::string key = to_lower(make_match_key(w));
            if (!key.empty() && !is_filler(key) && k < r.word_posterior.size()) {
                hyp.push_back(key);
                posterior.push_back(r.word_posterior[k]);
            }
        }
    }
    const std::vector<int> right = right_words(keys_of(read_hypothesis(reference), true), hyp);
    for (size_t k = 0; k < hyp.size(); k++) {
        std::printf("%.6g %d %s\n", static_cast<double>(posterior[k]), right[k], hyp[k].c_str());
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
            if (fields >> r.posterior >> r.right) {
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

} // namespace

int main(int argc, char ** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "words" && argc == 5) {
        return words(argv[2], argv[3], argv[4]);
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
    std::fprintf(stderr, "usage: confidence_bench words MODEL WAV REFERENCE | fit ROWS... | apply ROWS --fit-on "
                         "ROWS... | score LABEL ROWS... [--fit-on ROWS...]\n");
    return 2;
}
