// Mel-frequency cepstra: pre-emphasis, a Hamming window, a 512-point FFT, 30 triangular mel filters from
// 100 Hz to 7 kHz, the log of their energies and a DCT.

#include "engine/speakers/cepstra.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace kelvo_asr {

namespace {

constexpr int32_t hop_samples    = 160;
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

// In-place radix-2 FFT of fft_size points.
void fft(std::vector<std::complex<double>> & a, const std::vector<std::complex<double>> & twiddle) {
    const auto n = static_cast<int32_t>(a.size());
    for (int32_t i = 1, j = 0; i < n; i++) {
        int32_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[static_cast<size_t>(i)], a[static_cast<size_t>(j)]);
        }
    }
    const auto size = a.size();
    for (size_t len = 2; len <= size; len <<= 1) {
        const size_t step = size / len;
        for (size_t i = 0; i < size; i += len) {
            for (size_t k = 0; k < len / 2; k++) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + len / 2] * twiddle[k * step];
                a[i + k]                     = u + v;
                a[i + k + len / 2]           = u - v;
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

} // namespace

voice_cepstra compute_voice_cepstra(const float * samples, int32_t n_samples) {
    voice_cepstra out;
    if (samples == nullptr || n_samples <= 0) {
        return out;
    }
    out.n_frames = (n_samples + hop_samples - 1) / hop_samples;
    out.values.resize(static_cast<size_t>(out.n_frames) * n_stored_cepstra);
    out.level_db.resize(static_cast<size_t>(out.n_frames));

    const auto                        filters = mel_filters();
    std::vector<double>               window(window_samples);
    std::vector<std::complex<double>> twiddle(fft_size / 2);
    for (int32_t i = 0; i < window_samples; i++) {
        window[static_cast<size_t>(i)] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * i / (window_samples - 1));
    }
    for (int32_t k = 0; k < fft_size / 2; k++) {
        twiddle[static_cast<size_t>(k)] = std::polar(1.0, -2.0 * std::numbers::pi * k / fft_size);
    }
    std::vector<std::vector<double>> dct(n_stored_cepstra, std::vector<double>(n_filters));
    for (int32_t c = 0; c < n_stored_cepstra; c++) {
        for (int32_t f = 0; f < n_filters; f++) {
            dct[static_cast<size_t>(c)][static_cast<size_t>(f)] =
                std::sqrt(2.0 / n_filters) * std::cos(std::numbers::pi * (c + 1) * (f + 0.5) / n_filters);
        }
    }

    std::vector<std::complex<double>> spectrum(fft_size);
    std::vector<double>               log_energy(n_filters);
    for (int32_t f = 0; f < out.n_frames; f++) {
        const int32_t at    = f * hop_samples;
        double        power = 0.0;
        const int32_t n_hop = std::min(hop_samples, n_samples - at);
        for (int32_t i = 0; i < n_hop; i++) {
            const double v = clean(samples[at + i]);
            power += v * v;
        }
        out.level_db[static_cast<size_t>(f)] = static_cast<float>(10.0 * std::log10(power / n_hop + 1e-12));

        std::fill(spectrum.begin(), spectrum.end(), std::complex<double>());
        double previous = at > 0 ? clean(samples[at - 1]) : 0.0;
        for (int32_t i = 0; i < window_samples && at + i < n_samples; i++) {
            const double v                   = clean(samples[at + i]);
            spectrum[static_cast<size_t>(i)] = (v - 0.97 * previous) * window[static_cast<size_t>(i)];
            previous                         = v;
        }
        fft(spectrum, twiddle);
        for (int32_t k = 0; k < n_filters; k++) {
            double e = 0.0;
            for (int32_t b = 0; b <= fft_size / 2; b++) {
                const double w = filters[static_cast<size_t>(k)][static_cast<size_t>(b)];
                if (w > 0.0) {
                    e += w * std::norm(spectrum[static_cast<size_t>(b)]);
                }
            }
            log_energy[static_cast<size_t>(k)] = std::log(e + 1e-10);
        }
        int16_t * row = out.values.data() + static_cast<size_t>(f) * n_stored_cepstra;
        for (int32_t c = 0; c < n_stored_cepstra; c++) {
            double v = 0.0;
            for (int32_t k = 0; k < n_filters; k++) {
                v += dct[static_cast<size_t>(c)][static_cast<size_t>(k)] * log_energy[static_cast<size_t>(k)];
            }
            row[c] = static_cast<int16_t>(std::lround(std::clamp(v * cepstrum_steps, -32767.0, 32767.0)));
        }
    }
    return out;
}

void frame_cepstra(const voice_cepstra & c, int32_t f, float * out) {
    const int16_t * row = c.values.data() + static_cast<size_t>(f) * n_stored_cepstra;
    float           x[n_stored_cepstra];
    for (int32_t k = 0; k < n_stored_cepstra; k++) {
        x[k] = static_cast<float>(row[k]) / cepstrum_steps;
    }
    for (int32_t r = 0; r < n_voice_cepstra; r++) {
        float v = 0.0f;
        for (int32_t k = 0; k < n_stored_cepstra; k++) {
            v += voice_projection[r][k] * x[k];
        }
        out[r] = v;
    }
}

} // namespace kelvo_asr
