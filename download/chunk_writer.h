// Writes the downloaded body to the file and hashes it on a thread of its own,
// so that neither the disk nor SHA-256 slows the network reads down. Chunks
// are gathered into blocks of a quarter of a megabyte before they cross
// threads, as every hand-over costs a round trip through the system. About once a second
// what arrived is flushed to disk and reported, so a cut download can be
// continued from there.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "download/sha256.h"

class ChunkWriter {
  public:
    // Called on the writer's thread when the bytes written so far are on disk.
    using Checkpoint = std::function<void(uint64_t written)>;

    // Writes at the file's current position and adds every byte to `hash`.
    // The file and the hash stay the caller's and must last until Finish
    // returns.
    ChunkWriter(HANDLE file, Sha256& hash, Checkpoint checkpoint);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Room for the next chunk of exactly `size` bytes, zero-filled; valid
    // until the next call. Commit says how many of them were filled.
    char* Reserve(size_t size);
    void Commit(size_t filled);

    // Writes what is left and waits until every byte is written. False when a
    // write failed or was short; error() then gives the system's code.
    bool Finish();
    // True once a write has failed: what follows would only be thrown away.
    bool failed() const { return failed_; }
    uint64_t written() const { return written_; }
    DWORD error() const { return error_; }

  private:
    struct Block {
        std::vector<char> bytes;
        bool checkpoint = false;
    };

    static Block EmptyBlock();
    void HandOver(bool checkpoint);
    void Run();
    bool Write(const Block& block);

    HANDLE file_;
    Sha256& hash_;
    Checkpoint checkpoint_;
    Block current_;
    size_t reserved_ = 0;
    std::chrono::steady_clock::time_point lastCheckpoint_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> full_;
    std::vector<Block> spare_;
    bool closing_ = false;
    std::atomic<bool> failed_{false};
    uint64_t written_ = 0;
    DWORD error_ = 0;
    // Last, so that everything above exists before the thread starts.
    std::thread thread_;
};
