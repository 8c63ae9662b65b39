#include "tests/clients/SoundMatch.h"

#include <algorithm>
#include <cmath>

namespace {

double dot(const float* a, const float* b, long n) {
    double s = 0;
    for (long i = 0; i < n; ++i) {
        s += static_cast<double>(a[i]) * b[i];
    }
    return s;
}

}  // namespace

std::vector<long> findProbe(const std::vector<float>& rec, const float* probe, long n,
                            double threshold) {
    std::vector<long> peaks;
    const long size = static_cast<long>(rec.size());
    if (size < n) {
        return peaks;
    }
    const double probeEnergy = dot(probe, probe, n);
    double windowEnergy = dot(rec.data(), rec.data(), n);
    long best = -1;
    double bestScore = 0;
    for (long lag = 0; lag + n <= size; ++lag) {
        if (lag > 0) {
            const double in = rec[lag + n - 1];
            const double out = rec[lag - 1];
            windowEnergy = std::max(0.0, windowEnergy + in * in - out * out);
        }
        const double score = windowEnergy > 1e-9 ? dot(rec.data() + lag, probe, n) /
                                                       std::sqrt(probeEnergy * windowEnergy)
                                                 : 0;
        if (score > threshold && score > bestScore) {
            best = lag;
            bestScore = score;
        }
        // A peak is closed once the search has moved a probe's length past it.
        if (best >= 0 && lag > best + n) {
            peaks.push_back(best);
            best = -1;
            bestScore = 0;
        }
    }
    if (best >= 0) {
        peaks.push_back(best);
    }
    return peaks;
}

double correlation(const float* a, const float* b, long n) {
    const double energy = dot(a, a, n) * dot(b, b, n);
    return energy > 0 ? dot(a, b, n) / std::sqrt(energy) : 0;
}

double snrDb(const float* ref, const float* rec, long n) {
    double signal = 0;
    double noise = 0;
    for (long i = 0; i < n; ++i) {
        const double e = static_cast<double>(rec[i]) - ref[i];
        signal += static_cast<double>(ref[i]) * ref[i];
        noise += e * e;
    }
    return 10 * std::log10(signal / std::max(noise, 1e-20));
}
