// Writes the downloaded body to the file and hashes it on a thread of its own,
// so that neither the disk nor SHA-256 slows the network reads down. Chunks
// are gathered into blocks of about a megabyte before they cross threads, as
// every hand-over costs a round trip through the system.
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
    // The file stays the caller's and must stay open until Finish returns.
    explicit ChunkWriter(HANDLE file);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Room for the next chunk of exactly `size` bytes, zero-filled; valid
    // until the next call. Commit says how many of them were filled.
    char* Reserve(size_t size);
    void Commit(size_t filled);

    // Writes what is left and waits until every byte is written. False when a
    // write failed or was short, or the hash could not be computed.
    bool Finish(Sha256Digest& digest);

  private:
    using Block = std::vector<char>;

    void HandOver();
    void Run();

    HANDLE file_;
    Sha256 hash_;
    Block current_;
    size_t reserved_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> full_;
    std::vector<Block> spare_;
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_;
};
