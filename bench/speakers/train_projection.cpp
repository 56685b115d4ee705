// Learns the directions of the stored cepstra that carry the voice rather than what is said, from recordings
// of many voices each saying the same text, and prints them as the engine's source
// engine/speakers/voice_projection.cpp:
//
//   train_projection METHOD CHUNK_FRAMES LIST > engine/speakers/voice_projection.cpp
//
// LIST holds `VOICE<TAB>WAV[<TAB>CLEAN]` lines (16 kHz). Each voice's speech frames (those within 35 dB of its
// loudest, read from CLEAN when given: the same recording before noise was added) are cut into chunks of CHUNK_FRAMES
// frames, and the means of the chunks give two scatters: within a voice (the chunks about their voice's mean: what the
// content moves) and between voices (the voices' means about the mean of all). METHOD orders the rows, most voice-like
// first:
//   lda: the directions with the highest ratio of between to within scatter (generalised eigenvectors);
//   nap: the eigenvectors of the within scatter, the smallest first, so that dropping the last rows removes
//        the directions along which one voice moves most with content.

#include "engine/kelvo_asr.h"
#include "engine/speakers/cepstra.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int d = kelvo_asr::n_stored_cepstra;

using matrix = std::array<std::array<double, d>, d>;

// Eigenvalues and eigenvectors (columns of `vectors`) of the symmetric `a`, by cyclic Jacobi rotations.
void symmetric_eigen(matrix a, std::array<double, d> & values, matrix & vectors) {
    for (int i = 0; i < d; i++) {
        for (int j = 0; j < d; j++) {
            vectors[i][j] = i == j ? 1.0 : 0.0;
        }
    }
    for (int sweep = 0; sweep < 100; sweep++) {
        double off = 0.0;
        for (int i = 0; i < d; i++) {
            for (int j = i + 1; j < d; j++) {
                off += a[i][j] * a[i][j];
            }
        }
        if (off < 1e-30) {
            break;
        }
        for (int p = 0; p < d; p++) {
            for (int q = p + 1; q < d; q++) {
                if (std::abs(a[p][q]) < 1e-300) {
                    continue;
                }
                const double theta  = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t      = (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c      = 1.0 / std::sqrt(t * t + 1.0);
                const double s      = t * c;
                const auto   rotate = [c, s](double & x, double & y) {
                    const double x0 = x;
                    const double y0 = y;
                    x               = c * x0 - s * y0;
                    y               = s * x0 + c * y0;
                };
                for (int k = 0; k < d; k++) {
                    rotate(a[k][p], a[k][q]);
                }
                for (int k = 0; k < d; k++) {
                    rotate(a[p][k], a[q][k]);
                }
                for (int k = 0; k < d; k++) {
                    rotate(vectors[k][p], vectors[k][q]);
                }
            }
        }
    }
    for (int i = 0; i < d; i++) {
        values[i] = a[i][i];
    }
}

// The samples of a 16 kHz recording; exits when it cannot be read.
std::vector<float> load_16k(const std::string & wav) {
    std::vector<float> samples;
    int32_t            rate = 0;
    if (!kelvo_asr::load_audio_file(wav, samples, rate) || rate != 16000) {
        std::fprintf(stderr, "cannot read %s as 16 kHz audio\n", wav.c_str());
        std::exit(1);
    }
    return samples;
}

// The chunk means of one recording's speech frames, picked by the levels of `clean` (the same length).
std::vector<std::array<double, d>> chunk_means(const std::string & wav, const std::string & clean, int chunk) {
    const std::vector<float> samples = load_16k(wav);
    const std::vector<float> picker  = clean == wav ? samples : load_16k(clean);
    if (picker.size() != samples.size()) {
        std::fprintf(stderr, "%s and %s differ in length\n", wav.c_str(), clean.c_str());
        std::exit(1);
    }
    const kelvo_asr::voice_cepstra c =
        kelvo_asr::compute_voice_cepstra(samples.data(), static_cast<int32_t>(samples.size()));
    if (c.n_frames == 0) {
        return {};
    }
    std::vector<float> level_db(static_cast<size_t>(c.n_frames));
    for (int32_t f = 0; f < c.n_frames; f++) {
        level_db[static_cast<size_t>(f)] =
            kelvo_asr::frame_level_db(picker.data(), static_cast<int32_t>(picker.size()), f);
    }
    const float                        loudest = *std::max_element(level_db.begin(), level_db.end());
    std::vector<std::array<double, d>> out;
    std::array<double, d>              sum{};
    int                                n = 0;
    for (int32_t f = 0; f < c.n_frames; f++) {
        if (level_db[static_cast<size_t>(f)] < loudest - 35.0f) {
            continue;
        }
        float x[d];
        kelvo_asr::frame_stored_cepstra(c, f, x);
        for (int k = 0; k < d; k++) {
            sum[k] += x[k];
        }
        if (++n == chunk) {
            for (double & v : sum) {
                v /= n;
            }
            out.push_back(sum);
            sum = {};
            n   = 0;
        }
    }
    return out;
}

} // namespace

int main(int argc, char ** argv) {
    if (argc != 4 || (std::string(argv[1]) != "lda" && std::string(argv[1]) != "nap")) {
        std::fprintf(stderr, "usage: train_projection lda|nap CHUNK_FRAMES LIST\n");
        return 2;
    }
    const std::string                                         method = argv[1];
    const int                                                 chunk  = std::atoi(argv[2]);
    std::ifstream                                             list(argv[3]);
    std::map<std::string, std::vector<std::array<double, d>>> voices;
    std::string                                               line;
    while (std::getline(list, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            continue;
        }
        const auto        tab2  = line.find('\t', tab + 1);
        const std::string wav   = line.substr(tab + 1, tab2 == std::string::npos ? std::string::npos : tab2 - tab - 1);
        auto              means = chunk_means(wav, tab2 == std::string::npos ? wav : line.substr(tab2 + 1), chunk);
        auto &            v     = voices[line.substr(0, tab)];
        v.insert(v.end(), means.begin(), means.end());
    }
    matrix                             within{};
    matrix                             between{};
    std::array<double, d>              grand{};
    size_t                             n_chunks = 0;
    std::vector<std::array<double, d>> voice_means;
    for (const auto & [name, chunks] : voices) {
        std::array<double, d> m{};
        for (const auto & x : chunks) {
            for (int k = 0; k < d; k++) {
                m[k] += x[k] / static_cast<double>(chunks.size());
            }
        }
        for (const auto & x : chunks) {
            for (int i = 0; i < d; i++) {
                for (int j = 0; j < d; j++) {
                    within[i][j] += (x[i] - m[i]) * (x[j] - m[j]);
                }
            }
        }
        for (int k = 0; k < d; k++) {
            grand[k] += m[k];
        }
        n_chunks += chunks.size();
        voice_means.push_back(m);
    }
    for (double & g : grand) {
        g /= static_cast<double>(voice_means.size());
    }
    for (const auto & m : voice_means) {
        for (int i = 0; i < d; i++) {
            for (int j = 0; j < d; j++) {
                between[i][j] += (m[i] - grand[i]) * (m[j] - grand[j]) / static_cast<double>(voice_means.size());
            }
        }
    }
    for (auto & row : within) {
        for (double & v : row) {
            v /= static_cast<double>(n_chunks);
        }
    }

    std::array<double, d> w_values{};
    matrix                w_vectors{};
    symmetric_eigen(within, w_values, w_vectors);
    std::vector<std::array<double, d>> rows;
    std::vector<double>                scores;
    if (method == "nap") {
        for (int k = 0; k < d; k++) {
            std::array<double, d> r{};
            for (int i = 0; i < d; i++) {
                r[i] = w_vectors[i][k];
            }
            rows.push_back(r);
            scores.push_back(-w_values[k]);
        }
    } else {
        // Whiten the within scatter, then the eigenvectors of the whitened between scatter.
        matrix white{}; // rows: eigenvectors over the square roots of their values
        for (int k = 0; k < d; k++) {
            for (int i = 0; i < d; i++) {
                white[k][i] = w_vectors[i][k] / std::sqrt(std::max(w_values[k], 1e-12));
            }
        }
        matrix b{};
        for (int i = 0; i < d; i++) {
            for (int j = 0; j < d; j++) {
                double s = 0.0;
                for (int p = 0; p < d; p++) {
                    for (int q = 0; q < d; q++) {
                        s += white[i][p] * between[p][q] * white[j][q];
                    }
                }
                b[i][j] = s;
            }
        }
        std::array<double, d> b_values{};
        matrix                b_vectors{};
        symmetric_eigen(b, b_values, b_vectors);
        for (int k = 0; k < d; k++) {
            std::array<double, d> r{};
            double                norm = 0.0;
            for (int i = 0; i < d; i++) {
                for (int p = 0; p < d; p++) {
                    r[i] += b_vectors[p][k] * white[p][i];
                }
                norm += r[i] * r[i];
            }
            for (double & v : r) {
                v /= std::sqrt(norm);
            }
            rows.push_back(r);
            scores.push_back(b_values[k]);
        }
    }
    std::vector<int> order(d);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return scores[static_cast<size_t>(a)] > scores[static_cast<size_t>(b)]; });

    std::fprintf(stderr, "%zu voices, %zu chunks of %d frames\n", voices.size(), n_chunks, chunk);
    for (const int k : order) {
        std::fprintf(stderr, "%s %.5g\n", method == "lda" ? "between/within" : "within",
                     std::abs(scores[static_cast<size_t>(k)]));
    }
    std::printf("// Generated by bench/speakers/train_projection.sh (method %s, chunks of %d frames, %zu voices):\n",
                method.c_str(), chunk, voices.size());
    std::printf("// do not edit. Rows: directions of the stored cepstra, the most voice-like first.\n\n");
    std::printf("#include \"engine/speakers/cepstra.h\"\n\nnamespace kelvo_asr {\n\n");
    std::printf("const float voice_projection[n_stored_cepstra][n_stored_cepstra] = {\n");
    for (const int k : order) {
        std::printf("    {");
        for (int i = 0; i < d; i++) {
            std::printf("%s%.6ff", i ? ", " : " ", rows[static_cast<size_t>(k)][static_cast<size_t>(i)]);
        }
        std::printf(" },\n");
    }
    std::printf("};\n\n} // namespace kelvo_asr\n");
    return 0;
}
