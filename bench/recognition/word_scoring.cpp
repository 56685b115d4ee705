// Scoring recognised words against a reference: match keys, fillers, word errors, filler hits.
#include "word_scoring.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <tuple>

namespace {

// A reader for the tool's document: {"words":[{"text":"..","start":1.0,"end":1.2,"added":true,...},...]}.
struct JsonWords {
    const std::string & s;
    size_t              p = 0;

    void skip() {
        while (p < s.size() && std::isspace(static_cast<unsigned char>(s[p]))) {
            p++;
        }
    }
    bool eat(char c) {
        skip();
        if (p < s.size() && s[p] == c) {
            p++;
            return true;
        }
        return false;
    }
    bool string(std::string & out) {
        out.clear();
        if (!eat('"')) {
            return false;
        }
        while (p < s.size() && s[p] != '"') {
            if (s[p] == '\\' && p + 1 < s.size()) {
                p++;
                if (s[p] == 'u') { // non-ASCII and control characters: dropped, as match keys drop them
                    p += 5;
                    continue;
                }
                out += s[p] == 'n' ? '\n' : s[p] == 't' ? '\t' : s[p];
                p++;
                continue;
            }
            out += s[p++];
        }
        return eat('"');
    }
    // A scalar value as its raw text (numbers, true, false, null) or a string's contents.
    bool value(std::string & out) {
        skip();
        if (p < s.size() && s[p] == '"') {
            return string(out);
        }
        const size_t from = p;
        while (p < s.size() && s[p] != ',' && s[p] != '}' && s[p] != ']' &&
               !std::isspace(static_cast<unsigned char>(s[p]))) {
            p++;
        }
        out = s.substr(from, p - from);
        return p > from;
    }
    bool word(TimedWord & w, std::string & text) {
        if (!eat('{')) {
            return false;
        }
        std::string key, val;
        while (string(key) && eat(':') && value(val)) {
            if (key == "text") {
                text = val;
            } else if (key == "start") {
                w.start = std::strtod(val.c_str(), nullptr);
            } else if (key == "end") {
                w.end = std::strtod(val.c_str(), nullptr);
            } else if (key == "added") {
                w.added = val == "true";
            }
            if (!eat(',')) {
                break;
            }
        }
        return eat('}');
    }
};

std::string slurp(const std::string & path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void append_words(const std::string & text, std::vector<TimedWord> & out) {
    std::istringstream in(text);
    for (std::string raw; in >> raw;) {
        TimedWord w;
        w.key = match_key(raw);
        if (!w.key.empty()) {
            out.push_back(w);
        }
    }
}

} // namespace

std::string match_key(const std::string & word) {
    std::string key;
    for (const char c : word) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '\'') {
            key += static_cast<char>(std::tolower(u));
        }
    }
    const size_t first = key.find_first_not_of('\''), last = key.find_last_not_of('\'');
    return first == std::string::npos ? "" : key.substr(first, last - first + 1);
}

bool is_filler(const std::string & key) {
    static const std::set<std::string> fillers = { "um", "umm", "uhm", "uh", "uhh", "er", "erm",
                                                   "ah", "ahh", "hmm", "hm", "mm",  "mhm" };
    return fillers.count(key) > 0;
}

std::vector<TimedWord> read_hypothesis(const std::string & path) {
    const std::string      text = slurp(path);
    std::vector<TimedWord> out;
    const size_t           first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] != '{') {
        append_words(text, out);
        return out;
    }
    const size_t words = text.find("\"words\"");
    if (words == std::string::npos) {
        return out; // an error document
    }
    JsonWords json{ text, words + 7 };
    if (!json.eat(':') || !json.eat('[')) {
        return out;
    }
    do {
        TimedWord   w;
        std::string display;
        if (!json.word(w, display)) {
            break;
        }
        // A display word holds one spoken word, possibly with punctuation; keep every piece it splits into.
        std::vector<TimedWord> pieces;
        append_words(display, pieces);
        for (auto & piece : pieces) {
            piece.start = w.start;
            piece.end   = w.end;
            piece.added = w.added;
            out.push_back(piece);
        }
    } while (json.eat(','));
    return out;
}

std::vector<TimedWord> read_reference(const std::string & path) {
    std::ifstream          in(path);
    std::vector<TimedWord> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        TimedWord          w;
        std::string        speaker, word;
        if (fields >> w.start >> w.end >> speaker >> word) {
            w.key = match_key(word);
            out.push_back(w);
        }
    }
    return out;
}

std::vector<std::string> keys_of(const std::vector<TimedWord> & words, bool drop_fillers) {
    std::vector<std::string> keys;
    for (const auto & w : words) {
        if (!drop_fillers || !is_filler(w.key)) {
            keys.push_back(w.key);
        }
    }
    return keys;
}

FillerScore score_fillers(const std::vector<TimedWord> & ref, const std::vector<TimedWord> & hyp, double hit_s,
                          double wrong_s) {
    std::vector<const TimedWord *> spoken, output;
    for (const auto & w : ref) {
        if (is_filler(w.key)) {
            spoken.push_back(&w);
        }
    }
    for (const auto & w : hyp) {
        if (is_filler(w.key)) {
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
