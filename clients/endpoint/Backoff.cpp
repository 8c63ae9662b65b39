#include "clients/endpoint/Backoff.h"

#include <algorithm>

Backoff::Backoff(int64_t firstMs, int64_t maxMs)
    : firstMs_(std::max<int64_t>(1, firstMs)),
      maxMs_(std::max(maxMs, firstMs_)),
      currentMs_(firstMs_),
      random_(std::random_device{}()) {}

int64_t Backoff::next() {
    const int64_t base = currentMs_;
    currentMs_ = std::min(currentMs_ * 2, maxMs_);
    std::uniform_int_distribution<int64_t> spread(0, base / 4);
    return base + spread(random_);
}

void Backoff::reset() {
    currentMs_ = firstMs_;
}
