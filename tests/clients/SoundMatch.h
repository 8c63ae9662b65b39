#pragma once
// Comparing a recording with the sound it should hold: where a piece of the
// reference lies in it, how alike two stretches are, and the SNR of one
// against the other.

#include <vector>

// Offsets in rec where the normalised cross-correlation with probe[0, n)
// peaks above threshold, one per peak, in order.
std::vector<long> findProbe(const std::vector<float>& rec, const float* probe, long n,
                            double threshold);
// Normalised cross-correlation of a[0, n) and b[0, n): 1 for the same shape.
double correlation(const float* a, const float* b, long n);
// Ratio of ref's energy to that of rec - ref over n samples, in dB.
double snrDb(const float* ref, const float* rec, long n);
