#pragma once
// The receiving side of the fan-out benchmark, run in a child process so
// that the server's descriptors, memory and CPU are measured on their own.
// Called once, on the child's main thread.

#include <cstdint>

// Audio frames carry this many bytes of binary tail: the sequence number and
// the post time (monotonic nanoseconds) in the first 16, then filler.
constexpr int kPacketBytes = 140;

// Reads one command line at a time from control and answers on it:
//   "connect <port> <n>" -> connects n peers registered as dev-0..dev-<n-1>, "ready"
//   "start"              -> clears the counters
//   "collect <frames>"   -> waits (at most 5 s) until every peer has <frames>
//                           audio frames, then "result <received> <p50 us>
//                           <p99 us> <max us> <heartbeats>"
//   "quit"               -> closes everything and returns
void runPeers(int control);

int64_t monotonicNs();
