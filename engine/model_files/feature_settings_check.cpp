// Check of the feature settings (feat.params): the library reads them as option-value pairs and ends the
// process on a stream list, a feature type, a normalisation or a gain control it cannot read.

#include "engine/model_files/model_files_check.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace kelvo_asr {

namespace {

// The words of a feature settings file, as the library's option reader splits them.
std::vector<std::string> settings_words(std::string_view bytes) {
    std::vector<std::string> words;
    std::string              word;
    bool                     comment = false;
    for (char c : bytes) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else if (c == '#' && word.empty()) {
            comment = true;
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// True when `list` is a list of streams ("0-12/13-25/26-38") as the library's parser accepts it; its
// streams' lengths go to `lengths`. Time grows with the list's length alone, not with the numbers in it.
bool parse_stream_list(const std::string & list, std::vector<int32_t> & lengths) {
    lengths.clear();
    size_t at     = 0;
    auto   number = [&](int32_t & value) {
        const size_t start = at;
        while (at < list.size() && list[at] >= '0' && list[at] <= '9' && at - start < 6) {
            at++;
        }
        if (at == start || (at < list.size() && list[at] >= '0' && list[at] <= '9')) {
            return false;
        }
        value = 0;
        for (size_t k = start; k < at; k++) {
            value = value * 10 + (list[k] - '0');
        }
        return true;
    };
    std::vector<std::pair<int32_t, int32_t>> ranges; // first, last: no dimension may be in two of them
    for (;;) {
        int32_t length = 0;
        for (;;) {
            int32_t first = 0;
            if (!number(first)) {
                return false;
            }
            int32_t last = first;
            if (at < list.size() && list[at] == '-') {
                at++;
                if (!number(last)) {
                    return false;
                }
            }
            if (last < first) {
                return false;
            }
            ranges.emplace_back(first, last);
            length += last - first + 1;
            if (at == list.size() || list[at] == '/') {
                break;
            }
            if (list[at] != ',') {
                return false;
            }
            at++;
        }
        lengths.push_back(length);
        if (at == list.size()) {
            break;
        }
        at++; // the '/'
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t k = 1; k < ranges.size(); k++) {
        if (ranges[k].first <= ranges[k - 1].second) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string check_feature_settings(std::string_view bytes, feature_streams & streams) {
    streams = {};
    // The library reads the words in pairs, option and value, and ends the process on a stream list, a
    // feature type, a normalisation or a gain control it cannot read.
    const std::vector<std::string> words        = settings_words(bytes);
    std::string                    feature_type = "1s_c_d_dd";
    int32_t                        cepstrum     = 13;
    const std::string *            stream_list  = nullptr; // a repeated option replaces the one before
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
        const std::string & name  = words[i];
        const std::string & value = words[i + 1];
        if (name == "-svspec") {
            stream_list = &value;
        } else if (name == "-feat") {
            feature_type = value;
        } else if (name == "-ceplen") {
            cepstrum = std::atoi(value.c_str());
        } else if (name == "-cmn" && value != "none" && value != "batch" && value != "live" && value != "current" &&
                   value != "prior") {
            return "its normalisation (-cmn) is unknown";
        } else if (name == "-agc" && value != "none" && value != "max" && value != "emax" && value != "noise") {
            return "its gain control (-agc) is unknown";
        }
    }
    const bool have_stream_list = stream_list != nullptr;
    if (have_stream_list && !parse_stream_list(*stream_list, streams.lengths)) {
        return "its stream list (-svspec) is malformed";
    }
    // The feature types the library knows, by name or by the start of their name, and the length of their
    // one stream in cepstra (0: not one stream of cepstra).
    const struct {
        const char * name;
        bool         prefix;
        int32_t      cepstra;
    } known_types[] = {
        { "s2_4x", false, 0 },    { "s3_1x39", false, 0 },     { "1s_12c_12d_3p_12dd", false, 0 },
        { "1s_c_d_dd", true, 3 }, { "1s_c_d_ld_dd", true, 4 }, { "cep_dcep", true, 2 },
        { "1s_c_d", true, 2 },    { "cep", true, 1 },          { "1s_c", true, 1 },
        { "1s_3c", true, 7 },     { "1s_4c", true, 9 },
    };
    const auto * known = std::find_if(std::begin(known_types), std::end(known_types), [&](const auto & t) {
        return t.prefix ? feature_type.rfind(t.name, 0) == 0 : feature_type == t.name;
    });
    if (known == std::end(known_types)) {
        // A list of stream lengths ("12,24,3,12", perhaps with ":window"), else nothing the library reads.
        const bool list = !feature_type.empty() &&
                          feature_type.find_first_not_of("0123456789,:") == std::string::npos &&
                          feature_type[0] != ',' && feature_type[0] != ':';
        if (!list) {
            return "its feature type (-feat) is unknown";
        }
    } else if (!have_stream_list) {
        if (known->cepstra > 0 && cepstrum > 0 && cepstrum < 1000) {
            streams.lengths.push_back(known->cepstra * cepstrum);
        } else if (feature_type == "s2_4x") {
            streams.lengths = { 12, 24, 3, 12 };
        } else if (known->cepstra == 0) {
            streams.lengths = { 39 };
        }
    }
    return {};
}

} // namespace kelvo_asr
