// Writes the downloaded chunks to the file and hashes them on a thread of its
// own, so that neither the disk nor SHA-256 slows the network reads down.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "download/sha256.h"

class ChunkWriter {
public:
    // Takes over nothing: the file stays the caller's and must outlive Finish.
    explicit ChunkWriter(HANDLE file);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Queues a chunk; waits while too many are queued so memory stays small.
    void Push(std::vector<char>&& chunk);

    // Waits until every chunk is written. False when a write failed or was
    // short, or the hash could not be computed.
    bool Finish(Sha256Digest& digest);

private:
    void Run();

    HANDLE file_;
    Sha256 hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> queue_;
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_;
};
