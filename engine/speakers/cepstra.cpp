// Mel-frequency cepstra: pre-emphasis, a Hamming window, a 512-point FFT, 30 triangular mel filters from
// 100 Hz to 7 kHz, the log of their energies and a DCT; a block of frames at a time, into a small cache.

#include "engine/speakers/cepstra.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace kelvo_asr {

namespace {

constexpr int32_t hop_samples    = voice_frame_samples;
constexpr int32_t window_samples = 400;
constexpr int32_t fft_size       = 512;
constexpr int32_t n_filters      = 30;
constexpr double  low_hz         = 100.0;
constexpr double  high_hz        = 7000.0;

double mel(double hz) {
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}

double hz_of_mel(double m) {
    return 700.0 * (std::pow(10.0, m / 2595.0) - 1.0);
}

// In-place radix-2 FFT of fft_size points, real and imaginary parts apart. The products are written out as
// the complex product computes them for finite values (ac - bd, ad + bc), so the results are the same; the
// parts apart keep the butterflies from passing values through memory.
void fft(double * re, double * im, const std::vector<std::complex<double>> & twiddle) {
    const int32_t n = fft_size;
    for (int32_t i = 1, j = 0; i < n; i++) {
        int32_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    const auto size = static_cast<size_t>(n);
    for (size_t len = 2; len <= size; len <<= 1) {
        const size_t step = size / len;
        for (size_t i = 0; i < size; i += len) {
            for (size_t k = 0; k < len / 2; k++) {
                const size_t a  = i + k;
                const size_t b  = i + k + len / 2;
                const double tr = twiddle[k * step].real();
                const double ti = twiddle[k * step].imag();
                const double vr = re[b] * tr - im[b] * ti;
                const double vi = re[b] * ti + im[b] * tr;
                const double ur = re[a];
                const double ui = im[a];
                re[a]           = ur + vr;
                im[a]           = ui + vi;
                re[b]           = ur - vr;
                im[b]           = ui - vi;
            }
        }
    }
}

// Weights of each filter over the FFT bins 0 .. fft_size / 2.
std::vector<std::vector<double>> mel_filters() {
    const int32_t       n_bins = fft_size / 2 + 1;
    std::vector<double> edges(n_filters + 2);
    for (int32_t i = 0; i < n_filters + 2; i++) {
        const double m                = mel(low_hz) + (mel(high_hz) - mel(low_hz)) * i / (n_filters + 1);
        edges[static_cast<size_t>(i)] = hz_of_mel(m) * fft_size / 16000.0;
    }
    std::vector<std::vector<double>> filters(n_filters, std::vector<double>(n_bins, 0.0));
    for (int32_t f = 0; f < n_filters; f++) {
        const auto   at  = static_cast<size_t>(f);
        const double lo  = edges[at];
        const double mid = edges[at + 1];
        const double hi  = edges[at + 2];
        for (int32_t b = 0; b < n_bins; b++) {
            double w = 0.0;
            if (b > lo && b <= mid) {
                w = (b - lo) / (mid - lo);
            } else if (b > mid && b < hi) {
                w = (hi - b) / (hi - mid);
            }
            filters[static_cast<size_t>(f)][static_cast<size_t>(b)] = w;
        }
    }
    return filters;
}

float clean(float v) {
    return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
}

// Scratch space of one frame's spectrum.
struct spectrum_scratch {
    std::vector<double> re    = std::vector<double>(fft_size);
    std::vector<double> im    = std::vector<double>(fft_size);
    std::vector<double> power = std::vector<double>(fft_size / 2 + 1);
};

// The energies of frame `f` of `samples` in each mel filter into `energy` (n_filters values).
void band_energies(const cepstrum_tables & t, const float * samples, int64_t n_samples, int32_t f, spectrum_scratch & s,
                   double * energy) {
    const int32_t n_bins = fft_size / 2 + 1;
    const int64_t at     = static_cast<int64_t>(f) * hop_samples;
    std::fill(s.re.begin(), s.re.end(), 0.0);
    std::fill(s.im.begin(), s.im.end(), 0.0);
    double previous = at > 0 ? clean(samples[at - 1]) : 0.0;
    for (int64_t i = 0; i < window_samples && at + i < n_samples; i++) {
        const double v               = clean(samples[at + i]);
        s.re[static_cast<size_t>(i)] = (v - 0.97 * previous) * t.window[static_cast<size_t>(i)];
        previous                     = v;
    }
    fft(s.re.data(), s.im.data(), t.twiddle);
    // Each bin's power once; std::norm is the square of std::abs, a costly call.
    for (int32_t k = 0; k < n_bins; k++) {
        const auto at_k = static_cast<size_t>(k);
        s.power[at_k]   = std::norm(std::complex<double>(s.re[at_k], s.im[at_k]));
    }
    for (int32_t k = 0; k < n_filters; k++) {
        // Bins outside [first, last] weigh 0 and are skipped, as are any inside that weigh 0.
        const double * w = t.filter.data() + static_cast<size_t>(k) * n_bins;
        double         e = 0.0;
        for (int32_t b = t.filter_first[static_cast<size_t>(k)]; b <= t.filter_last[static_cast<size_t>(k)]; b++) {
            if (w[b] > 0.0) {
                e += w[b] * s.power[static_cast<size_t>(b)];
            }
        }
        energy[k] = e;
    }
}

// The cepstra of frames [first, first + n) of `c` into `out`, a row of n_stored_cepstra values per frame.
void compute_block(const voice_cepstra & c, int32_t first, int32_t n, int16_t * out) {
    const cepstrum_tables & t = c.tables;
    spectrum_scratch        scratch;
    std::vector<double>     log_energy(n_filters);
    for (int32_t f = first; f < first + n; f++) {
        band_energies(t, c.samples, c.n_samples, f, scratch, log_energy.data());
        for (int32_t k = 0; k < n_filters; k++) {
            double & e = log_energy[static_cast<size_t>(k)];
            if (!t.noise.empty()) {
                e += t.noise[static_cast<size_t>(k)];
            }
            e = std::log(e + 1e-10);
        }
        int16_t * row = out + static_cast<size_t>(f - first) * n_stored_cepstra;
        for (int32_t c_at = 0; c_at < n_stored_cepstra; c_at++) {
            const double * d = t.dct.data() + static_cast<size_t>(c_at) * n_filters;
            double         v = 0.0;
            for (int32_t k = 0; k < n_filters; k++) {
                v += d[k] * log_energy[static_cast<size_t>(k)];
            }
            row[c_at] = static_cast<int16_t>(std::lround(std::clamp(v * cepstrum_steps, -32767.0, 32767.0)));
        }
    }
}

// The mean energy in each filter over the frames of `c` whose window lies at or below `noise_db`; empty when
// there are none.
std::vector<double> mean_noise(const voice_cepstra & c, double noise_db) {
    if (!std::isfinite(noise_db)) {
        return {};
    }
    std::vector<double> sum(n_filters, 0.0);
    std::vector<double> e(n_filters);
    spectrum_scratch    scratch;
    int32_t             n = 0;
    // A frame is noise when all it is made of is: the hops its window reaches into are quiet too, and the one
    // before, whose last sample the pre-emphasis takes.
    constexpr int32_t hops      = (window_samples + hop_samples - 1) / hop_samples;
    int32_t           quiet_run = 0; // quiet hops ending at the last one looked at
    int32_t           next_hop  = 0;
    for (int32_t f = 0; f < c.n_frames; f++) {
        for (; next_hop < std::min(c.n_frames, f + hops); next_hop++) {
            quiet_run = frame_level_db(c.samples, c.n_samples, next_hop) <= noise_db ? quiet_run + 1 : 0;
        }
        if (quiet_run >= std::min(hops, c.n_frames - f) + (f > 0 ? 1 : 0)) {
            band_energies(c.tables, c.samples, c.n_samples, f, scratch, e.data());
            for (size_t k = 0; k < sum.size(); k++) {
                sum[k] += e[k];
            }
            n++;
        }
    }
    if (n == 0) {
        return {};
    }
    for (double & v : sum) {
        v /= n;
    }
    return sum;
}

cepstrum_tables make_tables() {
    cepstrum_tables t;
    t.window.resize(window_samples);
    t.twiddle.resize(fft_size / 2);
    for (int32_t i = 0; i < window_samples; i++) {
        t.window[static_cast<size_t>(i)] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * i / (window_samples - 1));
    }
    for (int32_t k = 0; k < fft_size / 2; k++) {
        t.twiddle[static_cast<size_t>(k)] = std::polar(1.0, -2.0 * std::numbers::pi * k / fft_size);
    }
    const auto    filters = mel_filters();
    const int32_t n_bins  = fft_size / 2 + 1;
    for (int32_t k = 0; k < n_filters; k++) {
        const std::vector<double> & w     = filters[static_cast<size_t>(k)];
        int32_t                     first = n_bins;
        int32_t                     last  = -1;
        for (int32_t b = 0; b < n_bins; b++) {
            if (w[static_cast<size_t>(b)] > 0.0) {
                first = std::min(first, b);
                last  = b;
            }
        }
        t.filter.insert(t.filter.end(), w.begin(), w.end());
        t.filter_first.push_back(first);
        t.filter_last.push_back(last);
    }
    t.dct.resize(static_cast<size_t>(n_stored_cepstra) * n_filters);
    for (int32_t c = 0; c < n_stored_cepstra; c++) {
        for (int32_t f = 0; f < n_filters; f++) {
            t.dct[static_cast<size_t>(c) * n_filters + static_cast<size_t>(f)] =
                std::sqrt(2.0 / n_filters) * std::cos(std::numbers::pi * (c + 1) * (f + 0.5) / n_filters);
        }
    }
    return t;
}

} // namespace

int32_t voice_frame_count(int32_t n_samples) {
    return n_samples <= 0 ? 0 : static_cast<int32_t>((static_cast<int64_t>(n_samples) + hop_samples - 1) / hop_samples);
}

voice_cepstra compute_voice_cepstra(const float * samples, int32_t n_samples, double noise_db) {
    voice_cepstra out;
    if (samples == nullptr || n_samples <= 0) {
        return out;
    }
    out.samples            = samples;
    out.n_samples          = n_samples;
    out.n_frames           = voice_frame_count(n_samples);
    out.tables             = make_tables();
    const int32_t n_blocks = (out.n_frames + cepstra_block_frames - 1) / cepstra_block_frames;
    const auto    n_slots  = static_cast<size_t>(std::min(n_blocks, cepstra_cache_blocks));
    out.rows.resize(n_slots);
    out.block_in_slot.assign(n_slots, -1);
    out.tables.noise = mean_noise(out, noise_db);
    return out;
}

float frame_level_db(const float * samples, int32_t n_samples, int32_t f) {
    const int64_t at    = static_cast<int64_t>(f) * hop_samples;
    const auto    n_hop = static_cast<int32_t>(std::min<int64_t>(hop_samples, n_samples - at));
    double        power = 0.0;
    for (int32_t i = 0; i < n_hop; i++) {
        const double v = clean(samples[at + i]);
        power += v * v;
    }
    return static_cast<float>(10.0 * std::log10(power / n_hop + 1e-12));
}

void frame_stored_cepstra(const voice_cepstra & c, int32_t f, float * out) {
    const int32_t block = f / cepstra_block_frames;
    const auto    slot  = static_cast<size_t>(block) % c.rows.size();
    if (c.block_in_slot[slot] != block) {
        const int32_t first = block * cepstra_block_frames;
        const int32_t n     = std::min(cepstra_block_frames, c.n_frames - first);
        c.rows[slot].resize(static_cast<size_t>(cepstra_block_frames) * n_stored_cepstra);
        compute_block(c, first, n, c.rows[slot].data());
        c.block_in_slot[slot] = block;
    }
    const int16_t * row =
        c.rows[slot].data() + static_cast<size_t>(f - block * cepstra_block_frames) * n_stored_cepstra;
    for (int32_t k = 0; k < n_stored_cepstra; k++) {
        out[k] = static_cast<float>(row[k]) / cepstrum_steps;
    }
}

void frame_cepstra(const voice_cepstra & c, int32_t f, float * out) {
    float x[n_stored_cepstra];
    frame_stored_cepstra(c, f, x);
    // Projected values are rounded to the stored step again, so that sums of frames stay exact whatever
    // order they are added in (sliding windows, a voice's sums from its stretches').
    for (int32_t r = 0; r < n_voice_cepstra; r++) {
        float v = 0.0f;
        for (int32_t k = 0; k < n_stored_cepstra; k++) {
            v += voice_projection[r][k] * x[k];
        }
        out[r] = std::nearbyint(v * cepstrum_steps) / cepstrum_steps;
    }
}

} // namespace kelvo_asr
