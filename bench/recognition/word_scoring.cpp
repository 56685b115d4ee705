// Scoring recognised words against a reference: word errors and filler hits.
#include "word_scoring.h"

#include "words/words.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

namespace {

std::string slurp(const std::string & path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void append_words(const std::string & text, std::vector<DocumentWord> & out) {
    std::istringstream in(text);
    for (std::string raw; in >> raw;) {
        DocumentWord w;
        w.text = to_lower(make_match_key(raw));
        if (!w.text.empty()) {
            out.push_back(w);
        }
    }
}

} // namespace

std::vector<DocumentWord> read_hypothesis(const std::string & path) {
    const std::string         text = slurp(path);
    std::vector<DocumentWord> out;
    const size_t              first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] != '{') {
        append_words(text, out);
        return out;
    }
    // An error document holds no words.
    for (const DocumentWord & w : read_words_document(text).words) {
        // A display word holds one spoken word, possibly with punctuation; keep every piece it splits into.
        std::vector<DocumentWord> pieces;
        append_words(w.text, pieces);
        for (auto & piece : pieces) {
            piece.start = w.start;
            piece.end   = w.end;
            piece.added = w.added;
            out.push_back(piece);
        }
    }
    return out;
}

std::vector<DocumentWord> read_reference(const std::string & path) {
    std::ifstream             in(path);
    std::vector<DocumentWord> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        DocumentWord       w;
        std::string        speaker, word;
        if (fields >> w.start >> w.end >> speaker >> word) {
            w.text = to_lower(make_match_key(word));
            out.push_back(w);
        }
    }
    return out;
}

std::vector<std::string> keys_of(const std::vector<DocumentWord> & words, bool drop_fillers) {
    std::vector<std::string> keys;
    for (const auto & w : words) {
        if (!drop_fillers || !is_filler(w.text)) {
            keys.push_back(w.text);
        }
    }
    return keys;
}

FillerScore score_fillers(const std::vector<DocumentWord> & ref, const std::vector<DocumentWord> & hyp, double hit_s,
                          double wrong_s) {
    std::vector<const DocumentWord *> spoken, output;
    for (const auto & w : ref) {
        if (is_filler(w.text)) {
            spoken.push_back(&w);
        }
    }
    for (const auto & w : hyp) {
        if (is_filler(w.text)) {
            output.push_back(&w);
        }
    }
    FillerScore score;
    score.spoken = spoken.size();
    score.output = output.size();
    // Closest pairs first, each filler used once.
    std::vector<std::tuple<double, size_t, size_t>> pairs;
    for (size_t i = 0; i < spoken.size(); i++) {
        for (size_t j = 0; j < output.size(); j++) {
            const double d = std::fabs(spoken[i]->start - output[j]->start);
            if (d <= hit_s) {
                pairs.emplace_back(d, i, j);
            }
        }
    }
    std::sort(pairs.begin(), pairs.end());
    std::vector<bool> spoken_used(spoken.size()), output_used(output.size());
    for (const auto & [d, i, j] : pairs) {
        if (!spoken_used[i] && !output_used[j]) {
            spoken_used[i] = output_used[j] = true;
            score.found++;
            score.found_added += output[j]->added ? 1 : 0;
        }
    }
    for (const auto * o : output) {
        bool near = false;
        for (const auto * s : spoken) {
            near = near || std::fabs(s->start - o->start) <= wrong_s;
        }
        score.wrong += near ? 0 : 1;
    }
    return score;
}
