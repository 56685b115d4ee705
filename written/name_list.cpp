#include "words/words.h"
#include "written/written.h"

#include <fstream>
#include <iterator>
#include <unordered_set>

namespace {

// The lines of `text`, without their line ends; empty lines left out.
std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t     end  = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

bool has_capital(std::string_view word) {
    for (const char c : word) {
        if (c >= 'A' && c <= 'Z') {
            return true;
        }
    }
    return false;
}

} // namespace

NameList names_from_word_list(std::string_view list) {
    const std::vector<std::string_view>  lines = lines_of(list);
    std::unordered_set<std::string_view> plain;
    for (const std::string_view line : lines) {
        if (!has_capital(line)) {
            plain.insert(line);
        }
    }
    NameList names;
    for (const std::string_view line : lines) {
        if (!has_capital(line)) {
            continue;
        }
        std::string lower = to_lower(std::string(line));
        if (!plain.contains(lower)) {
            names.emplace(std::move(lower), std::string(line)); // the first spelling listed stays
        }
    }
    return names;
}

void add_vocabulary_names(NameList & names, std::string_view vocabulary) {
    for (std::string_view line : lines_of(vocabulary)) {
        line = line.substr(0, line.find('\t')); // a pronunciation follows the tab
        for (const std::string & word : split_tokens(std::string(line))) {
            const std::string key = make_match_key(word);
            if (has_capital(key)) {
                names[to_lower(key)] = key;
            }
        }
    }
}

NameList read_name_list(const std::string & vocabulary) {
    NameList names;
    for (const std::string_view path : word_list_paths) {
        std::ifstream file{ std::string(path), std::ios::binary };
        if (!file) {
            continue;
        }
        const std::string list{ std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
        if (!file.bad()) {
            names = names_from_word_list(list);
            break;
        }
    }
    add_vocabulary_names(names, vocabulary);
    return names;
}
