// Each cluster keeps the partner it would best merge with, and every pair's cost is kept in a table, so that
// a merge computes the costs of the merged cluster only and finding a new partner compares kept costs.

#include "engine/speakers/voice_clustering.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace kelvo_asr {

namespace {

struct cluster {
    frame_sums sums;
    double     log_det = 0.0;
    bool       alive   = true;
    size_t     best    = 0; // the partner of the cheapest merge, among living clusters
    double     cost    = std::numeric_limits<double>::infinity();
};

double pair_cost(const cluster & a, const cluster & b, const voice_vector & ridge, double penalty) {
    frame_sums both = a.sums;
    add_sums(both, b.sums);
    return bic_score(a.sums.n, a.log_det, b.sums.n, b.log_det, log_det_covariance(both, ridge), penalty);
}

// Clusters whose pair costs are kept in a table at most (8 MB); more clusters, which only a very large count
// asked for makes, have their costs computed each time they are needed.
constexpr size_t table_clusters = 1024;

// The cost of merging each pair, as seen from either side (the two differ only in rounding).
struct cost_table {
    size_t              n = 0;
    voice_vector        ridge{};
    double              penalty = 1.0;
    std::vector<double> cost; // [i * n + j]: cluster i's cost of merging with j; empty when not kept

    // Cluster i's cost of merging with cluster j as they are now.
    double at(const std::vector<cluster> & clusters, size_t i, size_t j) const {
        return cost.empty() ? pair_cost(clusters[i], clusters[j], ridge, penalty) : cost[i * n + j];
    }

    // Sets both sides of the pair i, j from the clusters as they are now.
    void set(const std::vector<cluster> & clusters, size_t i, size_t j) {
        if (cost.empty()) {
            return;
        }
        const cluster & a    = clusters[i];
        const cluster & b    = clusters[j];
        frame_sums      both = a.sums;
        add_sums(both, b.sums);
        const double log_det_both = log_det_covariance(both, ridge);
        cost[i * n + j]           = bic_score(a.sums.n, a.log_det, b.sums.n, b.log_det, log_det_both, penalty);
        cost[j * n + i]           = bic_score(b.sums.n, b.log_det, a.sums.n, a.log_det, log_det_both, penalty);
    }
};

void find_best(std::vector<cluster> & clusters, size_t i, const cost_table & table) {
    cluster & c = clusters[i];
    c.cost      = std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < clusters.size(); j++) {
        if (j == i || !clusters[j].alive) {
            continue;
        }
        const double cost = table.at(clusters, i, j);
        if (cost < c.cost) {
            c.cost = cost;
            c.best = j;
        }
    }
}

} // namespace

double merge_cost(const frame_sums & a, const frame_sums & b, const voice_vector & ridge, double penalty) {
    cluster ca{ a, log_det_covariance(a, ridge) };
    cluster cb{ b, log_det_covariance(b, ridge) };
    return pair_cost(ca, cb, ridge, penalty);
}

namespace {

// Stretches clustered at once at most; a longer recording is clustered a block at a time first, so that the
// cost grows with its length rather than with its square.
constexpr size_t block_stretches = 300;

// Clusters `stretches` by `rule`, never to fewer than `keep` clusters.
std::vector<int32_t> cluster_all(std::vector<frame_sums> stretches, const voice_vector & ridge,
                                 const clustering_rule & rule, size_t keep) {
    const size_t         n = stretches.size();
    std::vector<cluster> clusters(n);
    std::vector<size_t>  owner(n); // the cluster each stretch now belongs to
    for (size_t i = 0; i < n; i++) {
        clusters[i].sums    = stretches[i];
        clusters[i].log_det = log_det_covariance(stretches[i], ridge);
        owner[i]            = i;
    }
    std::vector<frame_sums>().swap(stretches); // the clusters hold them now
    cost_table table{ n, ridge, rule.penalty, std::vector<double>(n <= table_clusters ? n * n : 0, 0.0) };
    for (size_t i = 0; i < n; i++) {
        for (size_t j = i + 1; j < n && !table.cost.empty(); j++) {
            table.set(clusters, i, j);
        }
    }
    for (size_t i = 0; i < n; i++) {
        find_best(clusters, i, table);
    }
    for (size_t alive = n; alive > 1; alive--) {
        size_t a = n;
        for (size_t i = 0; i < n; i++) {
            if (clusters[i].alive && (a == n || clusters[i].cost < clusters[a].cost)) {
                a = i;
            }
        }
        const bool wanted =
            alive > keep && (rule.n_fixed > 0 ? alive > static_cast<size_t>(rule.n_fixed) : clusters[a].cost < 0.0);
        if (!wanted) {
            break;
        }
        size_t b = clusters[a].best;
        if (b < a) {
            std::swap(a, b);
        }
        add_sums(clusters[a].sums, clusters[b].sums);
        clusters[a].log_det = log_det_covariance(clusters[a].sums, ridge);
        clusters[b].alive   = false;
        for (size_t s = 0; s < n; s++) {
            if (owner[s] == b) {
                owner[s] = a;
            }
        }
        for (size_t i = 0; i < n; i++) {
            if (i != a && clusters[i].alive) {
                table.set(clusters, i, a);
            }
        }
        find_best(clusters, a, table);
        for (size_t i = 0; i < n; i++) {
            if (i == a || !clusters[i].alive) {
                continue;
            }
            if (clusters[i].best == a || clusters[i].best == b) {
                find_best(clusters, i, table);
            } else {
                const double cost = table.at(clusters, i, a);
                if (cost < clusters[i].cost || (cost == clusters[i].cost && a < clusters[i].best)) {
                    clusters[i].cost = cost;
                    clusters[i].best = a;
                }
            }
        }
    }
    // Numbered in the order of the clusters' first stretches.
    std::vector<int32_t> number(n, -1);
    std::vector<int32_t> labels(n);
    int32_t              next = 0;
    for (size_t s = 0; s < n; s++) {
        if (number[owner[s]] < 0) {
            number[owner[s]] = next++;
        }
        labels[s] = number[owner[s]];
    }
    return labels;
}

} // namespace

std::vector<int32_t> cluster_stretches(const std::vector<frame_sums> & stretches, const voice_vector & ridge,
                                       const clustering_rule & rule) {
    if (stretches.size() <= block_stretches) {
        return cluster_all(stretches, ridge, rule, 0);
    }
    // Each block's voices by the stop rule, then those voices clustered by the rule asked for; a block keeps
    // at least the count asked for, so that the blocks' voices are never fewer than it.
    std::vector<frame_sums> block_voices;
    std::vector<size_t>     voice_of(stretches.size());
    for (size_t from = 0; from < stretches.size(); from += block_stretches) {
        const size_t                  to = std::min(stretches.size(), from + block_stretches);
        const std::vector<frame_sums> block(stretches.begin() + static_cast<std::ptrdiff_t>(from),
                                            stretches.begin() + static_cast<std::ptrdiff_t>(to));
        const std::vector<int32_t>    labels =
            cluster_all(block, ridge, { rule.penalty, 0 }, static_cast<size_t>(std::max(0, rule.n_fixed)));
        const size_t first = block_voices.size();
        for (size_t k = 0; k < labels.size(); k++) {
            const size_t v = first + static_cast<size_t>(labels[k]);
            if (v >= block_voices.size()) {
                block_voices.resize(v + 1);
            }
            add_sums(block_voices[v], block[k]);
            voice_of[from + k] = v;
        }
    }
    const std::vector<int32_t> merged = cluster_all(std::move(block_voices), ridge, rule, 0);
    std::vector<int32_t>       labels(stretches.size());
    for (size_t k = 0; k < stretches.size(); k++) {
        labels[k] = merged[voice_of[k]];
    }
    return labels;
}

} // namespace kelvo_asr
