#include "formats/formats.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {

constexpr std::array<std::string_view, 20> units = {
    "zero", "one",    "two",    "three",    "four",     "five",    "six",     "seven",     "eight",    "nine",
    "ten",  "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen",
};
constexpr std::array<std::string_view, 10> tens = {
    "", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety",
};
constexpr std::array<std::string_view, 20> unit_ordinals = {
    "zeroth",     "first",     "second",    "third",       "fourth",     "fifth",      "sixth",
    "seventh",    "eighth",    "ninth",     "tenth",       "eleventh",   "twelfth",    "thirteenth",
    "fourteenth", "fifteenth", "sixteenth", "seventeenth", "eighteenth", "nineteenth",
};
constexpr std::array<std::string_view, 10> tens_ordinals = {
    "", "", "twentieth", "thirtieth", "fortieth", "fiftieth", "sixtieth", "seventieth", "eightieth", "ninetieth",
};

// One spoken number word: its value and kind.
struct NumberWord {
    enum Kind { unit, ten, hundred, scale, point, joiner } kind;
    int64_t value   = 0;
    bool    ordinal = false;
};

template <size_t N> std::optional<int64_t> index_in(const std::array<std::string_view, N> & list, std::string_view w) {
    const auto at = std::find(list.begin(), list.end(), w);
    if (w.empty() || at == list.end()) {
        return std::nullopt;
    }
    return at - list.begin();
}

// The word's letters in lower case, without the marks and capital it is written with.
std::string bare(const std::string & text) {
    std::string out;
    for (const char c : text) {
        if (c >= 'A' && c <= 'Z') {
            out.push_back(static_cast<char>(c - 'A' + 'a'));
        } else if ((c >= 'a' && c <= 'z') || c == '-') {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<NumberWord> number_word(const std::string & text) {
    const std::string w = bare(text);
    if (const auto v = index_in(units, w)) {
        return NumberWord{ NumberWord::unit, *v };
    }
    if (const auto v = index_in(tens, w)) {
        return NumberWord{ NumberWord::ten, *v * 10 };
    }
    if (const auto v = index_in(unit_ordinals, w)) {
        return NumberWord{ NumberWord::unit, *v, true };
    }
    if (const auto v = index_in(tens_ordinals, w)) {
        return NumberWord{ NumberWord::ten, *v * 10, true };
    }
    if (w == "hundred" || w == "hundredth") {
        return NumberWord{ NumberWord::hundred, 100, w.back() == 'h' };
    }
    if (w == "thousand" || w == "thousandth") {
        return NumberWord{ NumberWord::scale, 1000, w.back() == 'h' };
    }
    if (w == "million" || w == "millionth") {
        return NumberWord{ NumberWord::scale, 1000000, w.back() == 'h' };
    }
    if (w == "point") {
        return NumberWord{ NumberWord::point };
    }
    if (w == "and") {
        return NumberWord{ NumberWord::joiner };
    }
    return std::nullopt;
}

// The ordinal ending of `n` written in digits: 1st, 2nd, 3rd, 11th, 22nd.
std::string ordinal_ending(int64_t n) {
    if (n % 100 >= 11 && n % 100 <= 13) {
        return "th";
    }
    switch (n % 10) {
    case 1:
        return "st";
    case 2:
        return "nd";
    case 3:
        return "rd";
    default:
        return "th";
    }
}

// One number read from words[from, ...): how many words it takes and how it is written; 0 words when none.
struct ReadNumber {
    size_t      taken = 0;
    std::string digits;
    bool        worth = false; // written in digits: ten and above, a decimal, a year, a run of digits
};

ReadNumber read_number(const std::vector<DocumentWord> & words, size_t from) {
    std::vector<NumberWord> run;
    for (size_t k = from; k < words.size(); k++) {
        const std::optional<NumberWord> w = number_word(words[k].text);
        if (!w || words[k].who != words[from].who) {
            break;
        }
        run.push_back(*w);
        if (w->ordinal) {
            break; // an ordinal ends its number
        }
        const char last = words[k].text.empty() ? ' ' : words[k].text.back();
        if (last == '.' || last == ',' || last == '?' || last == '!' || last == ';' || last == ':') {
            break; // a mark ends its number
        }
    }
    ReadNumber out;
    if (run.empty() || run[0].kind == NumberWord::joiner || run[0].kind == NumberWord::point) {
        return out;
    }
    // A year or a code spoken in pairs: "nineteen ninety five", "twenty twenty".
    if (run.size() >= 2 && run[0].kind == NumberWord::unit && run[0].value >= 10 && run[1].kind == NumberWord::ten) {
        int64_t second = run[1].value;
        size_t  taken  = 2;
        if (run.size() > 2 && run[2].kind == NumberWord::unit && run[2].value < 10 && run[2].value > 0) {
            second += run[2].value;
            taken = 3;
        }
        out.taken  = taken;
        out.digits = std::to_string(run[0].value) + std::to_string(second);
        out.worth  = true;
        return out;
    }
    // A run of single digits is a code or a phone number: each digit as spoken.
    size_t digits = 0;
    while (digits < run.size() && run[digits].kind == NumberWord::unit && run[digits].value < 10 &&
           !run[digits].ordinal) {
        digits++;
    }
    if (digits >= 2) {
        for (size_t k = 0; k < digits; k++) {
            out.digits += std::to_string(run[k].value);
        }
        out.taken = digits;
        out.worth = true;
        return out;
    }
    int64_t total   = 0;
    int64_t current = 0;
    bool    ordinal = false;
    size_t  k       = 0;
    // The last kind read: what may follow depends on it.
    auto last = NumberWord::joiner;
    for (; k < run.size(); k++) {
        const NumberWord & w = run[k];
        if (w.kind == NumberWord::unit) {
            const bool fits = k == 0 || last == NumberWord::hundred || last == NumberWord::scale ||
                              last == NumberWord::joiner || (last == NumberWord::ten && w.value < 10);
            if (!fits || (last == NumberWord::ten && w.value == 0)) {
                break;
            }
            current += w.value;
        } else if (w.kind == NumberWord::ten) {
            if (!(k == 0 || last == NumberWord::hundred || last == NumberWord::scale || last == NumberWord::joiner)) {
                break;
            }
            current += w.value;
        } else if (w.kind == NumberWord::hundred) {
            if (k == 0 || current == 0 || current >= 100 || last == NumberWord::joiner) {
                break;
            }
            current *= 100;
        } else if (w.kind == NumberWord::scale) {
            // A scale follows a number, and a smaller scale a larger one: "two million three thousand".
            if (k == 0 || current == 0 || last == NumberWord::joiner || total % (w.value * 1000) != 0) {
                break;
            }
            total += current * w.value;
            current = 0;
        } else if (w.kind == NumberWord::joiner) {
            // "and" joins only a hundred or a thousand to what follows it, and only when a number follows.
            const bool joins = (last == NumberWord::hundred || last == NumberWord::scale) && k + 1 < run.size() &&
                               (run[k + 1].kind == NumberWord::unit || run[k + 1].kind == NumberWord::ten);
            if (!joins) {
                break;
            }
        } else { // point: the digits after it, one word each
            size_t d = k + 1;
            while (d < run.size() && run[d].kind == NumberWord::unit && run[d].value < 10 && !run[d].ordinal) {
                d++;
            }
            if (d == k + 1 || ordinal) {
                break;
            }
            out.digits = std::to_string(total + current) + ".";
            for (size_t j = k + 1; j < d; j++) {
                out.digits += std::to_string(run[j].value);
            }
            out.taken = d;
            out.worth = true;
            return out;
        }
        last    = w.kind;
        ordinal = w.ordinal;
    }
    if (k > 0 && run[k - 1].kind == NumberWord::joiner) {
        k--;
    }
    const int64_t value = total + current;
    out.taken           = k;
    out.digits          = std::to_string(value) + (ordinal ? ordinal_ending(value) : "");
    out.worth           = value >= 10 || k > 1;
    return out;
}

} // namespace

std::vector<DocumentWord> numbers_as_digits(const std::vector<DocumentWord> & words) {
    std::vector<DocumentWord> out;
    for (size_t k = 0; k < words.size();) {
        const ReadNumber number = read_number(words, k);
        if (number.taken == 0 || !number.worth) {
            out.push_back(words[k]);
            k++;
            continue;
        }
        const DocumentWord & first  = words[k];
        const DocumentWord & last   = words[k + number.taken - 1];
        DocumentWord         joined = first;
        joined.end                  = last.end;
        // The marks written after the run's last word stay after its digits.
        const size_t marks = last.text.find_last_not_of(".,?!;:");
        joined.text        = number.digits + (marks == std::string::npos ? "" : last.text.substr(marks + 1));
        for (size_t j = k; j < k + number.taken; j++) {
            joined.start   = std::min(joined.start, words[j].start);
            joined.end     = std::max(joined.end, words[j].end);
            joined.added   = joined.added && words[j].added;
            joined.untimed = joined.untimed && words[j].untimed;
            joined.conf    = words[j].conf < 0 || joined.conf < 0 ? -1 : std::min(joined.conf, words[j].conf);
        }
        out.push_back(std::move(joined));
        k += number.taken;
    }
    return out;
}
